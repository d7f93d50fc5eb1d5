// The cleanup's platform operations on macOS: POSIX file status and canonical paths,
// Foundation for bundles, folders, property lists and the Trash, the Security framework for
// static code signatures and libproc for the process table. Each operation only converts
// between the platform's types and the byte paths of the seam; the scan makes every decision.
//
// The scan runs on a worker thread of the Node-API pool, which has no autorelease pool of its
// own, so every operation drains the Foundation objects it makes.
#include "macos/apple/arc.h"

#import <Foundation/Foundation.h>
#import <Security/Security.h>

#include <libproc.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "macos/apple/ns_text.h"
#include "macos/cleanup/platform.h"

namespace qv::cleanup {
namespace {

using qv::apple::FileSystemPath;
using qv::apple::FileURL;
using qv::apple::Utf8;

// Owns one CoreFoundation reference, so that it is released on every path.
struct CFReleaser {
  void operator()(CFTypeRef object) const {
    if (object != nullptr) CFRelease(object);
  }
};
template <class Ref>
using CFOwned = std::unique_ptr<std::remove_pointer_t<Ref>, CFReleaser>;

// All architectures, nested code, strict validation.
constexpr SecCSFlags kValidityFlags =
    kSecCSCheckAllArchitectures | kSecCSCheckNestedCode | kSecCSStrictValidate;
static_assert(kValidityFlags == 0x19);
static_assert(kSecCSSigningInformation == 2);
static_assert(sizeof(pid_t) == sizeof(std::int32_t));

class ApplePlatform final : public Platform {
 public:
  std::optional<FileStatus> FileStatusOf(const std::string& path) override {
    struct stat record {};
    if (lstat(path.c_str(), &record) != 0) return std::nullopt;
    return FileStatus{
        static_cast<std::uint32_t>(record.st_mode), static_cast<std::uint32_t>(record.st_uid),
        static_cast<std::uint64_t>(record.st_dev), static_cast<std::uint64_t>(record.st_ino)};
  }

  std::optional<std::string> CanonicalPath(const std::string& path) override {
    // PATH_MAX is 1,024 bytes here, the size realpath writes at most.
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) == nullptr) return std::nullopt;
    return std::string(resolved);
  }

  std::uint32_t CurrentUser() override { return static_cast<std::uint32_t>(getuid()); }

  std::optional<std::vector<std::string>> ListFolder(const std::string& path) override {
    @autoreleasepool {
      NSArray* entries = [[NSFileManager defaultManager] contentsOfDirectoryAtURL:FileURL(path)
                                                       includingPropertiesForKeys:@[]
                                                                          options:0
                                                                            error:nullptr];
      if (entries == nil) return std::nullopt;
      std::vector<std::string> paths;
      paths.reserve(entries.count);
      for (NSURL* entry in entries) paths.push_back(FileSystemPath(entry));
      return paths;
    }
  }

  std::optional<PlistDictionary> ReadPropertyList(const std::string& path) override {
    @autoreleasepool {
      NSDictionary* plist = [NSDictionary dictionaryWithContentsOfURL:FileURL(path)];
      if (plist == nil) return std::nullopt;
      PlistDictionary values;
      for (id key in plist) {
        std::optional<std::string> name = Utf8(key);
        if (name) values.emplace(std::move(*name), Utf8(plist[key]));
      }
      return values;
    }
  }

  std::optional<std::string> SigningTeam(const std::string& bundle_path) override {
    @autoreleasepool {
      SecStaticCodeRef raw_code = nullptr;
      const OSStatus created = SecStaticCodeCreateWithPath((__bridge CFURLRef)FileURL(bundle_path),
                                                           kSecCSDefaultFlags, &raw_code);
      const CFOwned<SecStaticCodeRef> code(raw_code);
      if (created != 0 || code == nullptr) return std::nullopt;
      if (SecStaticCodeCheckValidity(code.get(), kValidityFlags, nullptr) != 0) {
        return std::nullopt;
      }
      CFDictionaryRef raw_information = nullptr;
      const OSStatus copied =
          SecCodeCopySigningInformation(code.get(), kSecCSSigningInformation, &raw_information);
      const CFOwned<CFDictionaryRef> information(raw_information);
      if (copied != 0 || information == nullptr) return std::nullopt;
      id team = [(__bridge NSDictionary*)information.get()
          objectForKey:(__bridge NSString*)kSecCodeInfoTeamIdentifier];
      if (team == nil) return std::string();
      return Utf8(team);
    }
  }

  std::optional<std::vector<std::int32_t>> ProcessIds() override {
    const int listed = proc_listpids(PROC_ALL_PIDS, 0, nullptr, 0);
    if (listed <= 0) return std::nullopt;
    // Spare slots absorb the processes started since the length was taken.
    std::vector<std::int32_t> ids(static_cast<std::size_t>(listed) / sizeof(pid_t) + 1024);
    const std::size_t capacity = ids.size() * sizeof(pid_t);
    if (capacity > static_cast<std::size_t>(INT_MAX)) return std::nullopt;
    const int filled = proc_listpids(PROC_ALL_PIDS, 0, ids.data(), static_cast<int>(capacity));
    // A full buffer may have cut the list short.
    if (filled <= 0 || static_cast<std::size_t>(filled) >= capacity) return std::nullopt;
    ids.resize(static_cast<std::size_t>(filled) / sizeof(pid_t));
    return ids;
  }

  std::optional<std::string> ProcessPath(std::int32_t pid) override {
    char path[PROC_PIDPATHINFO_MAXSIZE];
    const int length = proc_pidpath(pid, path, sizeof path);
    if (length <= 0) return std::nullopt;
    return std::string(path, static_cast<std::size_t>(length));
  }

  qv::Result<std::string, TrashError> MoveToTrash(const std::string& path) override {
    @autoreleasepool {
      NSURL* moved = nil;
      if (![[NSFileManager defaultManager] trashItemAtURL:FileURL(path)
                                         resultingItemURL:&moved
                                                    error:nullptr]) {
        return qv::Err{TrashError{}};
      }
      return moved != nil ? FileSystemPath(moved) : std::string();
    }
  }

  std::string MainBundle() override {
    @autoreleasepool {
      return FileSystemPath([[NSBundle mainBundle] bundleURL]);
    }
  }

  std::string HomeFolder() override {
    @autoreleasepool {
      return FileSystemPath([NSURL fileURLWithPath:NSHomeDirectory() isDirectory:YES]);
    }
  }
};

}  // namespace

std::unique_ptr<Platform> MakeSystemPlatform() {
  return std::make_unique<ApplePlatform>();
}

}  // namespace qv::cleanup
