// libFuzzer target: the browser input path (frames from a real descriptor, repair, scan and
// the oversize reply) on arbitrary bytes.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "frame.h"
#include "json/header_scan.h"
#include "oversize.h"
#include "unique_fd.h"
#include "utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte picks the reader's buffer size so that buffer boundaries move around.
  const std::size_t buffer_size = 1 + data[0] % 16;
  qv::host::UniqueFd fd(::memfd_create("frames", MFD_CLOEXEC));
  if (!fd) std::abort();
  if (::write(fd.get(), data + 1, size - 1) != static_cast<ssize_t>(size - 1)) std::abort();
  if (::lseek(fd.get(), 0, SEEK_SET) != 0) std::abort();

  qv::host::InputReader in(fd.get(), buffer_size);
  std::size_t consumed = 0;
  while (auto payload = qv::host::read_frame(in)) {
    consumed += 4 + payload->size();
    if (consumed > size - 1) std::abort();
    std::string text = qv::host::repair_utf8(*payload);
    if (!qv::host::is_valid_utf8(text)) std::abort();
    if (qv::host::is_valid_utf8(*payload) != (text == *payload)) std::abort();
    auto header = qv::json::scan_header(text);
    auto reply = qv::host::oversize_reply(text);
    if (reply.has_value() != (header && header->id_text)) std::abort();
    if (reply && !qv::json::scan_header(*reply)) std::abort();
  }
  return 0;
}
