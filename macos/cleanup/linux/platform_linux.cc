#include "macos/cleanup/linux/platform_linux.h"

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

#include "macos/cleanup/linux/plist_file.h"
#include "macos/cleanup/linux/trash_linux.h"
#include "macos/cleanup/probes.h"

namespace qv::cleanup {
namespace {

struct DirClose {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirPtr = std::unique_ptr<DIR, DirClose>;

struct MallocFree {
  void operator()(char* p) const { std::free(p); }
};

// The folder's entry names without "." and "..". Nothing when it cannot be read to the end.
std::optional<std::vector<std::string>> EntryNames(const std::string& path) {
  const DirPtr dir(::opendir(path.c_str()));
  if (!dir) return std::nullopt;
  std::vector<std::string> names;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir.get());
    if (entry == nullptr) {
      if (errno != 0) return std::nullopt;
      break;
    }
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    names.emplace_back(name);
  }
  return names;
}

std::optional<std::string> ReadLink(const std::string& path) {
  std::string buffer(256, '\0');
  for (;;) {
    const ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size());
    if (n < 0) return std::nullopt;
    if (static_cast<std::size_t>(n) < buffer.size()) {
      buffer.resize(static_cast<std::size_t>(n));
      return buffer;
    }
    if (buffer.size() >= (1U << 20)) return std::nullopt;
    buffer.resize(buffer.size() * 2);  // possibly cut short: try a larger buffer
  }
}

// $HOME, else the user database's home folder, else the empty text.
std::string SystemHomeFolder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') return TrimTrailingSlashes(home);
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::string buffer(size > 0 ? static_cast<std::size_t>(size) : 16384, '\0');
  struct passwd entry {};
  struct passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
      found == nullptr || found->pw_dir == nullptr) {
    return std::string();
  }
  return TrimTrailingSlashes(found->pw_dir);
}

}  // namespace

LinuxPlatform::LinuxPlatform() : trash_(HomeTrashFolder(SystemHomeFolder())) {}

std::optional<FileStatus> LinuxPlatform::FileStatusOf(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
  return FileStatus{static_cast<std::uint32_t>(st.st_mode), static_cast<std::uint32_t>(st.st_uid),
                    static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

std::optional<std::string> LinuxPlatform::CanonicalPath(const std::string& path) {
  // The allocating form: no caller buffer that a long path could overrun.
  const std::unique_ptr<char, MallocFree> resolved(::realpath(path.c_str(), nullptr));
  if (!resolved) return std::nullopt;
  return std::string(resolved.get());
}

std::uint32_t LinuxPlatform::CurrentUser() {
  return static_cast<std::uint32_t>(::getuid());
}

std::optional<std::vector<std::string>> LinuxPlatform::ListFolder(const std::string& path) {
  std::optional<std::vector<std::string>> names = EntryNames(path);
  if (!names) return std::nullopt;
  for (std::string& name : *names) name = ChildPath(path, name);
  return names;
}

std::optional<PlistDictionary> LinuxPlatform::ReadPropertyList(const std::string& path) {
  return ReadPropertyListFile(path);
}

std::optional<std::string> LinuxPlatform::SigningTeam(const std::string& /*bundle_path*/) {
  return std::nullopt;  // no code-signature service to confirm anything
}

std::optional<std::vector<std::int32_t>> LinuxPlatform::ProcessIds() {
  const std::optional<std::vector<std::string>> names = EntryNames("/proc");
  if (!names) return std::nullopt;
  std::vector<std::int32_t> ids;
  for (const std::string& name : *names) {
    if (name.empty() || name.size() > 10 || name.find_first_not_of("0123456789") != name.npos) {
      continue;
    }
    const long long id = std::strtoll(name.c_str(), nullptr, 10);
    if (id > 0 && id <= INT32_MAX) ids.push_back(static_cast<std::int32_t>(id));
  }
  if (ids.empty()) return std::nullopt;  // at least this process must be listed
  return ids;
}

std::optional<std::string> LinuxPlatform::ProcessPath(std::int32_t pid) {
  return ReadLink("/proc/" + std::to_string(pid) + "/exe");
}

qv::Result<std::string, TrashError> LinuxPlatform::MoveToTrash(const std::string& path) {
  return MoveToTrashFolder(path, trash_);
}

std::string LinuxPlatform::MainBundle() {
  const std::optional<std::string> executable = ReadLink("/proc/self/exe");
  return executable ? BundleOfExecutable(*executable) : std::string();
}

std::string LinuxPlatform::HomeFolder() {
  return SystemHomeFolder();
}

std::string BundleOfExecutable(const std::string& executable) {
  std::string folder = ParentPath(executable);
  const std::string contents = ParentPath(folder);
  std::string bundle = ParentPath(contents);
  const auto ends_with = [](const std::string& s, std::string_view tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
  };
  if (LastComponent(folder) == "MacOS" && LastComponent(contents) == "Contents" &&
      ends_with(LastComponent(bundle), ".app") && LastComponent(bundle).size() > 4) {
    return bundle;
  }
  return folder;
}

std::unique_ptr<Platform> MakeSystemPlatform() {
  return std::make_unique<LinuxPlatform>();
}

}  // namespace qv::cleanup
