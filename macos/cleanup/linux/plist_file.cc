#include "macos/cleanup/linux/plist_file.h"

#include <fcntl.h>
#include <plist/plist.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
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

}  // namespace

std::optional<PlistDictionary> ReadPropertyListFile(const std::string& path) {
  const std::optional<std::string> data = ReadFile(path);
  if (!data || data->empty()) return std::nullopt;
  plist_t raw = nullptr;
  plist_from_memory(data->data(), static_cast<std::uint32_t>(data->size()), &raw);
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
      char* text_raw = nullptr;
      plist_get_string_val(value, &text_raw);
      const std::unique_ptr<char, MallocFree> text(text_raw);
      if (text) entry = std::string(text.get());
    }
    dict.emplace(key.get(), std::move(entry));
  }
  return dict;
}

}  // namespace qv::cleanup
