// Test-only stand-in for the code-signature service, which this system lacks. A bundle is
// "signed" when Contents/_CodeSignature/TestSeal.plist records the SHA-256 digests of its
// Info.plist and main executable, and optionally a team. Never linked into a shipped module.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "macos/cleanup/platform.h"

namespace qv::cleanup::testing {

inline constexpr char kSealFile[] = "Contents/_CodeSignature/TestSeal.plist";

// Forwards every operation to `inner` except SigningTeam, which checks the seal.
class StandInSignaturePlatform : public Platform {
 public:
  explicit StandInSignaturePlatform(std::unique_ptr<Platform> inner) : inner_(std::move(inner)) {}

  std::optional<FileStatus> FileStatusOf(const std::string& path) override {
    return inner_->FileStatusOf(path);
  }
  std::optional<std::string> CanonicalPath(const std::string& path) override {
    return inner_->CanonicalPath(path);
  }
  std::uint32_t CurrentUser() override { return inner_->CurrentUser(); }
  std::optional<std::vector<std::string>> ListFolder(const std::string& path) override {
    return inner_->ListFolder(path);
  }
  std::optional<PlistDictionary> ReadPropertyList(const std::string& path) override {
    return inner_->ReadPropertyList(path);
  }
  std::optional<std::string> SigningTeam(const std::string& bundle_path) override;
  std::optional<std::vector<std::int32_t>> ProcessIds() override { return inner_->ProcessIds(); }
  std::optional<std::string> ProcessPath(std::int32_t pid) override {
    return inner_->ProcessPath(pid);
  }
  qv::Result<std::string, TrashError> MoveToTrash(const std::string& path) override {
    return inner_->MoveToTrash(path);
  }
  std::string MainBundle() override { return inner_->MainBundle(); }
  std::string HomeFolder() override { return inner_->HomeFolder(); }

 private:
  std::unique_ptr<Platform> inner_;
};

// Hex SHA-256 of a file's bytes; nothing when it cannot be read.
std::optional<std::string> FileDigest(const std::string& path);

// Writes the seal of a bundle as it is now (team omitted when nullopt).
bool SealBundle(const std::string& bundle, const std::optional<std::string>& team);

}  // namespace qv::cleanup::testing
