// The scan of one cleanup job: decides whether the running application is an installed,
// verified copy, then examines every other copy in the scanned folders and moves to the Trash
// each one that passes every check.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "macos/cleanup/platform.h"

namespace qv::cleanup {

enum class CleanupStatus { kNotInstalled, kUnverified, kComplete };

// One copy moved to the Trash: its file name in the scanned folder and its path in the Trash
// (empty when the platform reported none).
struct RemovedCopy {
  std::string name;
  std::string path;
};

// Candidates kept, by reason; meaningful with CleanupStatus::kComplete only.
struct CleanupCounts {
  std::uint64_t busy = 0;
  std::uint64_t newer = 0;
  std::uint64_t unverified = 0;
  std::uint64_t inaccessible = 0;
};

struct CleanupResult {
  CleanupStatus status = CleanupStatus::kUnverified;
  std::vector<RemovedCopy> removed;  // in the order of removal
  CleanupCounts counts;
};

// Scans roots in order for copies of the application whose bundle is at `bundle` and moves the
// stale ones to the Trash. `cancelled` is looked at before each entry and before each move.
CleanupResult CleanCopies(Platform& platform, const std::string& bundle,
                          const std::vector<std::string>& roots, const std::string& identifier,
                          const std::atomic<bool>& cancelled);

}  // namespace qv::cleanup
