// Test-only platform for scans: the system's operations, the stand-in signature check, a trash
// folder of the test's own, and a hook that runs right after each signature check, that is
// between an entry's first checks and its re-checks before the move.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "macos/cleanup/linux/platform_linux.h"
#include "macos/cleanup/linux/trash_linux.h"
#include "macos/cleanup/testing/standin_signature_testing.h"

namespace qv::cleanup::testing {

class ScanPlatform : public StandInSignaturePlatform {
 public:
  explicit ScanPlatform(std::string trash)
      : StandInSignaturePlatform(std::make_unique<LinuxPlatform>()), trash_(std::move(trash)) {}

  std::optional<std::string> SigningTeam(const std::string& bundle) override {
    std::optional<std::string> team = StandInSignaturePlatform::SigningTeam(bundle);
    if (after_signature) after_signature(bundle);
    return team;
  }
  qv::Result<std::string, TrashError> MoveToTrash(const std::string& path) override {
    return MoveToTrashFolder(path, trash_);
  }

  std::function<void(const std::string&)> after_signature;

 private:
  std::string trash_;
};

}  // namespace qv::cleanup::testing
