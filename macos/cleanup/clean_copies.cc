#include "macos/cleanup/clean_copies.h"

#include <optional>

#include "macos/cleanup/probes.h"

namespace qv::cleanup {
namespace {

bool SameIdentity(const FileStatus& a, const FileStatus& b) {
  return a.device == b.device && a.inode == b.inode;
}

// State of one scan after the running bundle passed its own checks.
struct Scan {
  Platform& platform;
  const std::string& bundle;
  const std::string& identifier;
  const std::atomic<bool>& cancelled;
  std::string version;  // the running bundle's version
  std::string team;     // the running bundle's signing team
  FileStatus identity;  // the running bundle's lstat record
  CleanupResult result;

  // Examines one folder entry. False ends the current root's entries.
  bool Examine(const std::string& entry) {
    CleanupCounts& counts = result.counts;
    if (cancelled.load(std::memory_order_seq_cst)) return false;
    if (entry == bundle) return true;  // the running copy is never touched
    const std::string name = LastComponent(entry);
    if (!CopyName(name)) return true;
    const std::optional<PlistDictionary> dict = Metadata(platform, entry, identifier);
    if (!dict) return true;
    // Metadata has checked that the version is text.
    if (NumericCompare(*dict->at(std::string(kVersionKey)), version) > 0) {
      ++counts.newer;
      return true;
    }
    FileStatus candidate;
    if (!RealItem(platform, entry, kDirectoryType, &candidate) ||
        candidate.uid != platform.CurrentUser()) {
      ++counts.inaccessible;
      return true;
    }
    if (InUse(platform, entry)) {
      ++counts.busy;
      return true;
    }
    const std::optional<std::string> candidate_team = VerifiedTeam(platform, entry);
    if (!candidate_team || *candidate_team != team) {
      ++counts.unverified;
      return true;
    }
    // Look again at what may have changed since the first checks.
    if (cancelled.load(std::memory_order_seq_cst)) return false;
    FileStatus now;
    if (!RealItem(platform, bundle, kDirectoryType, &now) || !SameIdentity(now, identity)) {
      return false;
    }
    if (!RealItem(platform, entry, kDirectoryType, &now) || !SameIdentity(now, candidate)) {
      ++counts.unverified;
      return true;
    }
    if (InUse(platform, entry)) {
      ++counts.busy;
      return true;
    }
    qv::Result<std::string, TrashError> moved = platform.MoveToTrash(entry);
    if (!moved) {
      ++counts.inaccessible;
      return true;
    }
    result.removed.push_back(RemovedCopy{name, std::move(moved.value())});
    return true;
  }
};

}  // namespace

CleanupResult CleanCopies(Platform& platform, const std::string& bundle_url,
                          const std::vector<std::string>& root_urls, const std::string& identifier,
                          const std::atomic<bool>& cancelled) {
  const std::string bundle = TrimTrailingSlashes(bundle_url);
  std::vector<std::string> roots;
  roots.reserve(root_urls.size());
  for (const std::string& root : root_urls) roots.push_back(TrimTrailingSlashes(root));

  CleanupResult result;
  const std::string parent = ParentPath(bundle);
  bool installed = false;
  for (const std::string& root : roots) {
    if (RealItem(platform, root, kDirectoryType) && parent == root) installed = true;
  }
  if (!installed || !CopyName(LastComponent(bundle))) {
    result.status = CleanupStatus::kNotInstalled;
    return result;
  }

  result.status = CleanupStatus::kUnverified;
  const std::optional<PlistDictionary> own = Metadata(platform, bundle, identifier);
  if (!own) return result;
  const std::optional<std::string> team = VerifiedTeam(platform, bundle);
  if (!team) return result;
  FileStatus identity;
  if (!RealItem(platform, bundle, kDirectoryType, &identity)) return result;

  Scan scan{platform, bundle,   identifier,     cancelled, *own->at(std::string(kVersionKey)),
            *team,    identity, CleanupResult{}};
  scan.result.status = CleanupStatus::kComplete;
  for (const std::string& root : roots) {
    if (!RealItem(platform, root, kDirectoryType)) continue;  // a missing folder is not counted
    const std::optional<std::vector<std::string>> entries = platform.ListFolder(root);
    if (!entries) {
      ++scan.result.counts.inaccessible;
      continue;
    }
    for (const std::string& entry : *entries) {
      if (!scan.Examine(entry)) break;
    }
  }
  return std::move(scan.result);
}

}  // namespace qv::cleanup
