// The Linux implementation of the cleanup's platform operations.
#pragma once

#include "macos/cleanup/platform.h"

namespace qv::cleanup {

// The system's operations; there is no code-signature service, so SigningTeam always fails
// closed and a scan with this platform alone never moves anything.
class LinuxPlatform : public Platform {
 public:
  // Fixes the home trash from the environment now, on the creating thread: moves run on a
  // worker thread, which must not read the environment while JavaScript may be changing it.
  LinuxPlatform();

  std::optional<FileStatus> FileStatusOf(const std::string& path) override;
  std::optional<std::string> CanonicalPath(const std::string& path) override;
  std::uint32_t CurrentUser() override;
  std::optional<std::vector<std::string>> ListFolder(const std::string& path) override;
  std::optional<PlistDictionary> ReadPropertyList(const std::string& path) override;
  std::optional<std::string> SigningTeam(const std::string& bundle_path) override;
  std::optional<std::vector<std::int32_t>> ProcessIds() override;
  std::optional<std::string> ProcessPath(std::int32_t pid) override;
  qv::Result<std::string, TrashError> MoveToTrash(const std::string& path) override;
  std::string MainBundle() override;
  std::string HomeFolder() override;

 private:
  std::string trash_;
};

// Bundle directory for an executable path: ".../X.app/Contents/MacOS/<name>" gives ".../X.app";
// any other executable gives the folder that holds it.
std::string BundleOfExecutable(const std::string& executable);

}  // namespace qv::cleanup
