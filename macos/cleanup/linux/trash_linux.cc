#include "macos/cleanup/linux/trash_linux.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <uriparser/Uri.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "macos/cleanup/probes.h"
#include "qv/unique_fd.h"
#include "qv/write_all.h"

namespace qv::cleanup {
namespace {

constexpr int kMaxNameAttempts = 10000;

qv::Status<TrashError> EnsureFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) == 0) return qv::kOk;
  const int error = errno;
  struct stat st {};
  if (error == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return qv::kOk;
  return qv::Err<TrashError>{TrashError{error == EEXIST ? ENOTDIR : error}};
}

// Creates path and every missing folder above it.
qv::Status<TrashError> EnsureFolders(const std::string& path) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    if (auto made = EnsureFolder(path.substr(0, slash)); !made) return made;
  }
  return EnsureFolder(path);
}

// The original location as the record stores it: each component percent-escaped as in URLs,
// the slashes kept.
std::string EscapedPath(std::string_view path) {
  std::string out;
  std::vector<char> buffer;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view part = path.substr(start, end - start);
    buffer.assign(part.size() * 3 + 1, '\0');
    const char* stop =
        uriEscapeExA(part.data(), part.data() + part.size(), buffer.data(), URI_FALSE, URI_FALSE);
    out.append(buffer.data(), static_cast<std::size_t>(stop - buffer.data()));
    if (end == path.size()) break;
    out.push_back('/');
    start = end + 1;
  }
  return out;
}

std::string DeletionDate() {
  const time_t now = ::time(nullptr);
  struct tm local {};
  ::localtime_r(&now, &local);
  char text[32];
  const std::size_t n = ::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  return std::string(text, n);
}

// "Quorvel 2.app", attempt 3 -> "Quorvel 2 (3).app"; the first attempt keeps the name.
std::string NameForAttempt(const std::string& name, int attempt) {
  if (attempt == 1) return name;
  const std::size_t dot = name.rfind('.');
  const std::size_t split = (dot == std::string::npos || dot == 0) ? name.size() : dot;
  return name.substr(0, split) + " (" + std::to_string(attempt) + ")" + name.substr(split);
}

}  // namespace

std::string HomeTrashFolder(const std::string& home) {
  const char* data_home = std::getenv("XDG_DATA_HOME");
  if (data_home != nullptr && data_home[0] == '/') return ChildPath(data_home, "Trash");
  // Without an absolute home there is no home trash: a relative one would land wherever the
  // process happens to run, an empty one at the file-system root.
  if (home.empty() || home.front() != '/') return std::string();
  return ChildPath(home, ".local/share/Trash");
}

qv::Result<std::string, TrashError> MoveToTrashFolder(const std::string& item,
                                                      const std::string& trash_folder) {
  if (item.empty() || item.front() != '/' || item == "/" || trash_folder.empty() ||
      trash_folder.front() != '/') {
    return qv::Err<TrashError>{TrashError{EINVAL}};
  }
  const std::string files = ChildPath(trash_folder, "files");
  const std::string info = ChildPath(trash_folder, "info");
  if (auto made = EnsureFolders(files); !made) return qv::Err<TrashError>{made.error()};
  if (auto made = EnsureFolders(info); !made) return qv::Err<TrashError>{made.error()};

  const std::string name = LastComponent(item);
  const std::string record =
      "[Trash Info]\nPath=" + EscapedPath(item) + "\nDeletionDate=" + DeletionDate() + "\n";
  for (int attempt = 1; attempt <= kMaxNameAttempts; ++attempt) {
    const std::string trashed_name = NameForAttempt(name, attempt);
    // The record is created first and exclusively: it reserves the name against other trashers.
    const std::string info_path = ChildPath(info, trashed_name + ".trashinfo");
    UniqueFd fd(::open(info_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!fd) {
      if (errno == EEXIST) continue;
      return qv::Err<TrashError>{TrashError{errno}};
    }
    const qv::Status<int> written = qv::write_all(fd.get(), record);
    fd.reset();
    if (!written) {
      ::unlink(info_path.c_str());
      return qv::Err<TrashError>{TrashError{written.error()}};
    }
    const std::string target = ChildPath(files, trashed_name);
    // RENAME_NOREPLACE: a plain rename would silently replace an empty folder of the same name.
    if (::renameat2(AT_FDCWD, item.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
      return target;
    }
    const int error = errno;
    ::unlink(info_path.c_str());
    if (error != EEXIST) return qv::Err<TrashError>{TrashError{error}};
  }
  return qv::Err<TrashError>{TrashError{EEXIST}};
}

}  // namespace qv::cleanup
