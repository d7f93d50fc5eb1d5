// The operating-system operations the app-copy cleanup relies on. The decision logic calls
// the system only through this interface, so it builds and runs the same on every platform
// and can be exercised against real directory trees with a replaced signature layer.
//
// Paths are absolute file-system paths in their byte form, without a trailing slash.
// Every operation fails closed: a failure is an empty result, never an exception.
// One cleanup job uses a platform object from one thread at a time (MainBundle and
// HomeFolder on the JavaScript thread before the job starts, the rest on its worker).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "qv/result.h"

namespace qv::cleanup {

// File-type bits of FileStatus::mode (mode & kFileTypeMask).
inline constexpr std::uint32_t kFileTypeMask = 0xF000;
inline constexpr std::uint32_t kDirectoryType = 0x4000;
inline constexpr std::uint32_t kRegularFileType = 0x8000;

// The fields of an lstat record that the scan uses.
struct FileStatus {
  std::uint32_t mode = 0;  // st_mode, file-type bits included
  std::uint32_t uid = 0;   // owner user id
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
};

// A top-level value of a property-list dictionary: its text when it is a string, and
// std::nullopt for every other kind (number, date, array, ...), which never equals any text.
using PlistValue = std::optional<std::string>;
using PlistDictionary = std::map<std::string, PlistValue>;

// Why a move to the Trash failed; code is an errno value when one is known, else 0.
struct TrashError {
  int code = 0;
};

class Platform {
 public:
  virtual ~Platform() = default;

  // lstat: a final symbolic link is not followed. Nothing on failure.
  virtual std::optional<FileStatus> FileStatusOf(const std::string& path) = 0;

  // realpath: every symbolic link, "." and ".." resolved. Nothing on failure.
  virtual std::optional<std::string> CanonicalPath(const std::string& path) = 0;

  // The process's real user id.
  virtual std::uint32_t CurrentUser() = 0;

  // The direct entries of a folder as full paths (folder path + "/" + name), hidden entries
  // included, in the platform's order, nothing descended into. Nothing on failure.
  virtual std::optional<std::vector<std::string>> ListFolder(const std::string& path) = 0;

  // The top-level dictionary of a property-list file (XML or binary). Nothing when the file
  // cannot be read or its top level is not a dictionary.
  virtual std::optional<PlistDictionary> ReadPropertyList(const std::string& path) = 0;

  // Team identifier of a bundle's valid static code signature (all architectures, nested code,
  // strict validation); the empty text for a valid signature without a team; nothing when the
  // signature is missing, broken or cannot be checked.
  virtual std::optional<std::string> SigningTeam(const std::string& bundle_path) = 0;

  // Ids of all processes, complete. Nothing when the list cannot be read or may be cut short.
  virtual std::optional<std::vector<std::int32_t>> ProcessIds() = 0;

  // Executable path of one process as raw bytes. Nothing when it cannot be read.
  virtual std::optional<std::string> ProcessPath(std::int32_t pid) = 0;

  // Moves an item to the user's Trash without copying. On success the item's new path, or the
  // empty text when the platform reports none.
  virtual qv::Result<std::string, TrashError> MoveToTrash(const std::string& path) = 0;

  // Directory of the running process's main bundle (for an executable at
  // ".../X.app/Contents/MacOS/<name>" that is ".../X.app").
  virtual std::string MainBundle() = 0;

  // The user's home folder.
  virtual std::string HomeFolder() = 0;
};

// The running system's implementation of the operations above.
std::unique_ptr<Platform> MakeSystemPlatform();

}  // namespace qv::cleanup
