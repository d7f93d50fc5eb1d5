// The probes that carry every decision of the copy scan. Each fails closed: what cannot be
// confirmed makes the probe answer "no" (or "in use"), so the copy concerned stays in place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "macos/cleanup/platform.h"

namespace qv::cleanup {

// Fixed names inside an application bundle.
inline constexpr std::string_view kInfoPlist = "Contents/Info.plist";
inline constexpr std::string_view kExecutable = "Contents/MacOS/Quorvel";
inline constexpr std::string_view kExecutableName = "Quorvel";
inline constexpr std::string_view kIdentifierKey = "CFBundleIdentifier";
inline constexpr std::string_view kExecutableKey = "CFBundleExecutable";
inline constexpr std::string_view kVersionKey = "CFBundleShortVersionString";

// True when path names an item of the wanted file type (kDirectoryType or kRegularFileType)
// that is not a symbolic link and whose path is already canonical. The lstat record is copied
// to *out on success.
bool RealItem(Platform& platform, const std::string& path, std::uint32_t type,
              FileStatus* out = nullptr);

// The longest name a directory entry can have, in bytes (NAME_MAX).
inline constexpr std::size_t kMaxNameBytes = 255;

// True when name is one of the application's copy names: Quorvel.app, Quorvel N.app,
// Quorvel copy.app, Quorvel copy N.app, Quorvel (N).app, Quorvel A.B.C.app. Names longer than
// kMaxNameBytes are not.
bool CopyName(std::string_view name);

// True when value is text shorter than 32 bytes of the form MAJOR.MINOR.PATCH, each a decimal
// number without a leading zero.
bool Version(const PlistValue& value);

// Orders two texts the way a numeric string comparison does: runs of ASCII digits compare by
// their value, everything else byte by byte. Negative, zero or positive.
int NumericCompare(std::string_view a, std::string_view b);

// The bundle's Info.plist dictionary when the bundle is a real directory with a real Info.plist
// and executable, the identifier and executable name match and the version is well formed.
std::optional<PlistDictionary> Metadata(Platform& platform, const std::string& bundle,
                                        const std::string& identifier);

// The team of the bundle's valid code signature (empty when it has none), else nothing.
std::optional<std::string> VerifiedTeam(Platform& platform, const std::string& bundle);

// True when a running process executes from inside the bundle, or when the process list cannot
// be read in full.
bool InUse(Platform& platform, const std::string& bundle);

// Path helpers for absolute paths without a trailing slash.
std::string ParentPath(const std::string& path);
std::string LastComponent(const std::string& path);
std::string ChildPath(const std::string& folder, std::string_view name);
std::string TrimTrailingSlashes(std::string path);

}  // namespace qv::cleanup
