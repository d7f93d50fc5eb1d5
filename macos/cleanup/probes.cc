#include "macos/cleanup/probes.h"

#include <regex>

#include "qv/utf8.h"

namespace qv::cleanup {

bool RealItem(Platform& platform, const std::string& path, std::uint32_t type, FileStatus* out) {
  const std::optional<FileStatus> status = platform.FileStatusOf(path);
  if (!status || (status->mode & kFileTypeMask) != type) return false;
  // A path that differs from its canonical form has a symbolic link, "." or ".." somewhere.
  const std::optional<std::string> canonical = platform.CanonicalPath(path);
  if (!canonical || *canonical != path) return false;
  if (out != nullptr) *out = *status;
  return true;
}

bool CopyName(std::string_view name) {
  // No directory entry has a longer name (NAME_MAX), and the pattern engine recurses once per
  // character, so a name thousands of bytes long would exhaust the stack.
  if (name.size() > kMaxNameBytes) return false;
  // Whole-name, case-sensitive match with ASCII digits only.
  static const std::regex pattern(
      R"(Quorvel(?: [0-9]+| copy(?: [0-9]+)?| \([0-9]+\)| [0-9]+\.[0-9]+\.[0-9]+)?\.app)",
      std::regex::ECMAScript);
  return std::regex_match(name.begin(), name.end(), pattern);
}

bool Version(const PlistValue& value) {
  if (!value || value->size() >= 32) return false;
  static const std::regex pattern(R"((0|[1-9][0-9]*)\.(0|[1-9][0-9]*)\.(0|[1-9][0-9]*))",
                                  std::regex::ECMAScript);
  return std::regex_match(*value, pattern);
}

int NumericCompare(std::string_view a, std::string_view b) {
  const auto digit = [](char c) { return c >= '0' && c <= '9'; };
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    if (digit(a[i]) && digit(b[j])) {
      std::size_t ei = i;
      std::size_t ej = j;
      while (ei < a.size() && digit(a[ei])) ++ei;
      while (ej < b.size() && digit(b[ej])) ++ej;
      // Compare the runs by value: drop leading zeros, then the longer run is larger, and
      // runs of equal length compare digit by digit.
      std::string_view ra = a.substr(i, ei - i);
      std::string_view rb = b.substr(j, ej - j);
      while (ra.size() > 1 && ra.front() == '0') ra.remove_prefix(1);
      while (rb.size() > 1 && rb.front() == '0') rb.remove_prefix(1);
      if (ra.size() != rb.size()) return ra.size() < rb.size() ? -1 : 1;
      if (const int c = ra.compare(rb); c != 0) return c < 0 ? -1 : 1;
      i = ei;
      j = ej;
      continue;
    }
    const auto ca = static_cast<unsigned char>(a[i]);
    const auto cb = static_cast<unsigned char>(b[j]);
    if (ca != cb) return ca < cb ? -1 : 1;
    ++i;
    ++j;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

namespace {

bool TextEquals(const PlistDictionary& dict, std::string_view key, std::string_view want) {
  const auto it = dict.find(std::string(key));
  return it != dict.end() && it->second && *it->second == want;
}

}  // namespace

std::optional<PlistDictionary> Metadata(Platform& platform, const std::string& bundle,
                                        const std::string& identifier) {
  if (!RealItem(platform, bundle, kDirectoryType)) return std::nullopt;
  const std::string info = ChildPath(bundle, kInfoPlist);
  if (!RealItem(platform, info, kRegularFileType)) return std::nullopt;
  if (!RealItem(platform, ChildPath(bundle, kExecutable), kRegularFileType)) return std::nullopt;
  std::optional<PlistDictionary> dict = platform.ReadPropertyList(info);
  if (!dict) return std::nullopt;
  if (!TextEquals(*dict, kIdentifierKey, identifier)) return std::nullopt;
  if (!TextEquals(*dict, kExecutableKey, kExecutableName)) return std::nullopt;
  const auto version = dict->find(std::string(kVersionKey));
  if (version == dict->end() || !Version(version->second)) return std::nullopt;
  return dict;
}

std::optional<std::string> VerifiedTeam(Platform& platform, const std::string& bundle) {
  return platform.SigningTeam(bundle);
}

bool InUse(Platform& platform, const std::string& bundle) {
  const std::optional<std::vector<std::int32_t>> ids = platform.ProcessIds();
  if (!ids) return true;
  const std::string prefix = bundle + "/";
  for (const std::int32_t id : *ids) {
    if (id <= 0) continue;
    const std::optional<std::string> path = platform.ProcessPath(id);
    // Processes the user may not inspect, and paths that are not text, are passed over.
    if (!path || path->empty() || !is_valid_utf8(*path)) continue;
    if (path->compare(0, prefix.size(), prefix) == 0) return true;
  }
  return false;
}

std::string TrimTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string ParentPath(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return std::string();
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string LastComponent(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ChildPath(const std::string& folder, std::string_view name) {
  std::string out = folder;
  if (out.empty() || out.back() != '/') out.push_back('/');
  out.append(name);
  return out;
}

}  // namespace qv::cleanup
