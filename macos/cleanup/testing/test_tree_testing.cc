#include "macos/cleanup/testing/test_tree_testing.h"

#include <plist/plist.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "macos/cleanup/testing/standin_signature_testing.h"

extern char** environ;

namespace qv::cleanup::testing {

namespace fs = std::filesystem;

TempFolder::TempFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern =
      std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") + "/qv-cleanup-XXXXXX";
  if (::mkdtemp(pattern.data()) != nullptr) {
    // Resolve /tmp links once so that paths built from it are canonical.
    path_ = fs::canonical(pattern).string();
    ::chmod(path_.c_str(), 0755);
  }
}

TempFolder::~TempFolder() {
  if (path_.empty()) return;
  std::error_code ec;
  // Folders made unreadable by a test must be opened again before they can be removed.
  for (auto it = fs::recursive_directory_iterator(
           path_, fs::directory_options::skip_permission_denied, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec)) ::chmod(it->path().c_str(), 0755);
  }
  fs::remove_all(path_, ec);
}

void MakeFolders(const std::string& path) {
  std::error_code ec;
  fs::create_directories(path, ec);
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out);
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

std::string MakeBundle(const std::string& folder, const std::string& name,
                       const BundleLayout& layout) {
  std::string bundle = folder + "/" + name;
  MakeFolders(bundle + "/Contents/MacOS");
  plist_t dict = plist_new_dict();
  plist_dict_set_item(dict, "CFBundleIdentifier", plist_new_string(layout.identifier.c_str()));
  plist_dict_set_item(dict, "CFBundleExecutable", plist_new_string(layout.executable_key.c_str()));
  plist_dict_set_item(dict, "CFBundleShortVersionString", plist_new_string(layout.version.c_str()));
  plist_dict_set_item(dict, "CFBundleName", plist_new_string("Quorvel"));
  char* bytes = nullptr;
  uint32_t length = 0;
  if (layout.binary_plist) {
    plist_to_bin(dict, &bytes, &length);
  } else {
    plist_to_xml(dict, &bytes, &length);
  }
  plist_free(dict);
  WriteFile(bundle + "/Contents/Info.plist", std::string(bytes, length));
  std::free(bytes);
  const std::string exe = bundle + "/Contents/MacOS/Quorvel";
  if (layout.executable_source.empty()) {
    WriteFile(exe, "#!/bin/sh\nexit 0\n");
  } else {
    std::error_code ec;
    fs::copy_file(layout.executable_source, exe, fs::copy_options::overwrite_existing, ec);
  }
  ::chmod(exe.c_str(), 0755);
  if (layout.sealed) SealBundle(bundle, layout.team);
  return bundle;
}

std::map<std::string, std::string> Snapshot(const std::string& root) {
  std::map<std::string, std::string> items;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    struct stat st {};
    if (::lstat(it->path().c_str(), &st) != 0) continue;
    std::ostringstream record;
    record << (st.st_mode & S_IFMT) << ':' << st.st_ino << ':' << st.st_uid;
    // A folder's own times change when entries leave it; its entries are recorded anyway.
    if (!S_ISDIR(st.st_mode)) {
      record << ':' << st.st_size << ':' << st.st_mtim.tv_sec << '.' << st.st_mtim.tv_nsec;
    }
    items[fs::relative(it->path(), root).string()] = record.str();
  }
  return items;
}

pid_t Spawn(const std::string& program, const std::string& argument) {
  pid_t pid = -1;
  char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(argument.c_str()), nullptr};
  if (::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ) != 0) return -1;
  // Wait until the kernel reports the new executable, so the process list shows it.
  const std::string link = "/proc/" + std::to_string(pid) + "/exe";
  for (int i = 0; i < 200; ++i) {
    std::error_code ec;
    if (fs::read_symlink(link, ec).string() == program) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return pid;
}

void StopProcess(pid_t pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
}

std::string PercentDecode(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      out.push_back(static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

}  // namespace qv::cleanup::testing
