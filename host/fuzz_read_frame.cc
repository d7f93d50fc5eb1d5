// libFuzzer target: the browser input path (frames from a real descriptor, repair, scan and
// the oversize reply) on arbitrary bytes.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "host/frame.h"
#include "host/json/header_scan.h"
#include "host/oversize.h"
#include "qv/unique_fd.h"
#include "qv/utf8.h"

namespace {

// The well-formed byte sequences table read one byte at a time: a slow twin of the word-wise
// validator to compare it with.
std::size_t plain_valid_prefix(const std::string& s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t n;
    unsigned lo = 0x80, hi = 0xBF;
    if (c < 0x80) {
      n = 0;
    } else if (c >= 0xC2 && c <= 0xDF) {
      n = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
      n = 2;
      lo = c == 0xE0 ? 0xA0 : 0x80;
      hi = c == 0xED ? 0x9F : 0xBF;
    } else if (c >= 0xF0 && c <= 0xF4) {
      n = 3;
      lo = c == 0xF0 ? 0x90 : 0x80;
      hi = c == 0xF4 ? 0x8F : 0xBF;
    } else {
      return i;
    }
    if (n > 0 && i + n >= s.size()) return i;  // cut short
    for (std::size_t k = 1; k <= n; ++k) {
      const auto d = static_cast<unsigned char>(s[i + k]);
      if (d < (k == 1 ? lo : 0x80) || d > (k == 1 ? hi : 0xBF)) return i;
    }
    i += n + 1;
  }
  return i;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte picks the reader's buffer size so that buffer boundaries move around.
  const std::size_t buffer_size = 1 + data[0] % 16;
  qv::UniqueFd fd(::memfd_create("frames", MFD_CLOEXEC));
  if (!fd) std::abort();
  if (::write(fd.get(), data + 1, size - 1) != static_cast<ssize_t>(size - 1)) std::abort();
  if (::lseek(fd.get(), 0, SEEK_SET) != 0) std::abort();

  qv::host::InputReader in(fd.get(), buffer_size);
  std::size_t consumed = 0;
  std::string payload;  // reused across frames, as in the relay
  while (qv::host::read_frame(in, payload)) {
    consumed += 4 + payload.size();
    if (consumed > size - 1) std::abort();
    const std::size_t prefix = qv::valid_utf8_prefix(payload);
    if (prefix != plain_valid_prefix(payload)) std::abort();
    if (qv::is_valid_utf8(payload) != (prefix == payload.size())) std::abort();
    std::string text = qv::repair_utf8(payload);
    if (!qv::is_valid_utf8(text)) std::abort();
    if (qv::is_valid_utf8(payload) != (text == payload)) std::abort();
    auto header = qv::json::scan_header(text);
    auto reply = qv::host::oversize_reply(text);
    if (reply.has_value() != (header && header->id_text)) std::abort();
    if (reply && !qv::json::scan_header(*reply)) std::abort();
  }
  return 0;
}
