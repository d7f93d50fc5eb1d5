#include "macos/cleanup/linux/plist_file.h"

#include <fcntl.h>
#include <plist/plist.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "qv/unique_fd.h"

namespace qv::cleanup {
namespace {

struct PlistFree {
  void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

struct MallocFree {
  void operator()(void* p) const { std::free(p); }
};

std::optional<std::string> ReadFile(const std::string& path) {
  // Non-blocking open and a regular-file check: a pipe or device swapped in after the file
  // was checked must not hold up the scan.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd) return std::nullopt;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  std::string data;
  char chunk[16384];
  for (;;) {
    const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    if (data.size() + static_cast<std::size_t>(n) > kMaxPropertyListBytes) return std::nullopt;
    data.append(chunk, static_cast<std::size_t>(n));
  }
  return data;
}

std::uint64_t BigEndian(const std::string& data, std::size_t at, std::size_t size) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < size; ++i)
    value = value << 8 | static_cast<unsigned char>(data[at + i]);
  return value;
}

// The library reads the strings of a binary list by their C string: an ASCII string and every
// key lose what follows a NUL, so "app.quorvel.desktop\0x" would read as the identifier. Each
// string object holding a NUL (a zero byte, or a zero UTF-16 unit) is therefore retyped as data
// before parsing: its marker's type changes and nothing else, since a data object of the same
// count lies within the string's bytes. Such a value then reads as not text, and such a key makes
// the dictionary, and so the list, unreadable. False when the object table does not hold
// together, which refuses the list.
bool RetypeStringsHoldingNul(std::string& data) {
  constexpr std::size_t kHeader = 8;  // "bplist00"
  constexpr std::size_t kTrailer = 32;
  if (data.size() < kHeader + kTrailer) return false;
  const std::size_t trailer = data.size() - kTrailer;
  const std::size_t offset_size = static_cast<unsigned char>(data[trailer + 6]);
  const std::uint64_t count = BigEndian(data, trailer + 8, 8);
  const std::uint64_t table = BigEndian(data, trailer + 24, 8);
  if (offset_size < 1 || offset_size > 8 || table < kHeader || table > trailer ||
      count > (trailer - table) / offset_size) {
    return false;
  }
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::uint64_t at = BigEndian(data, table + i * offset_size, offset_size);
    if (at < kHeader || at >= table) return false;
    const auto marker = static_cast<unsigned char>(data[at]);
    const unsigned type = marker >> 4;
    if (type != 0x5 && type != 0x6) continue;  // ASCII and UTF-16 strings
    std::uint64_t length = marker & 0xF;
    std::uint64_t start = at + 1;
    if (length == 0xF) {  // the count follows as an integer object
      if (start >= table) return false;
      const auto int_marker = static_cast<unsigned char>(data[start]);
      if ((int_marker >> 4) != 0x1 || (int_marker & 0xF) > 3) return false;
      const std::size_t int_size = std::size_t{1} << (int_marker & 0xF);
      if (start + 1 + int_size > table) return false;
      length = BigEndian(data, start + 1, int_size);
      start += 1 + int_size;
    }
    const std::uint64_t unit = type == 0x6 ? 2 : 1;
    if (length > (table - start) / unit) return false;
    bool nul = false;
    for (std::uint64_t k = 0; k < length && !nul; ++k) {
      nul = data[start + k * unit] == '\0' && (unit == 1 || data[start + k * unit + 1] == '\0');
    }
    if (nul) data[at] = static_cast<char>(0x40 | (marker & 0xF));
  }
  return true;
}

}  // namespace

std::optional<PlistDictionary> ReadPropertyListFile(const std::string& path) {
  std::optional<std::string> data = ReadFile(path);
  if (!data || data->empty()) return std::nullopt;
  if (data->compare(0, 6, "bplist") == 0) {
    if (!RetypeStringsHoldingNul(*data)) return std::nullopt;
  } else if (data->find('\0') != std::string::npos) {
    // No XML document holds a NUL character, and the library would cut keys at one.
    return std::nullopt;
  }
  const std::string& bytes = *data;
  plist_t raw = nullptr;
  plist_from_memory(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &raw);
  const PlistPtr root(raw);
  if (!root || plist_get_node_type(root.get()) != PLIST_DICT) return std::nullopt;

  PlistDictionary dict;
  plist_dict_iter iter_raw = nullptr;
  plist_dict_new_iter(root.get(), &iter_raw);
  const std::unique_ptr<void, MallocFree> iter(iter_raw);
  for (;;) {
    char* key_raw = nullptr;
    plist_t value = nullptr;
    plist_dict_next_item(root.get(), iter.get(), &key_raw, &value);
    const std::unique_ptr<char, MallocFree> key(key_raw);
    if (!key || value == nullptr) break;
    PlistValue entry;
    if (plist_get_node_type(value) == PLIST_STRING) {
      // A string whose stored length is not that of its C string holds a NUL: not text. (The
      // copying accessor asserts on such a string.)
      std::uint64_t length = 0;
      const char* text = plist_get_string_ptr(value, &length);
      if (text != nullptr && std::strlen(text) == length) entry = std::string(text, length);
    }
    dict.emplace(key.get(), std::move(entry));
  }
  return dict;
}

}  // namespace qv::cleanup
