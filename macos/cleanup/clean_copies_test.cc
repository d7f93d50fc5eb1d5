// Scenario tests of the copy scan against real folders: every probe is the system's except the
// code-signature check, which is the test stand-in.
#include "macos/cleanup/clean_copies.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <regex>

#include "macos/cleanup/probes.h"
#include "macos/cleanup/result_json.h"
#include "macos/cleanup/testing/scan_platform_testing.h"
#include "macos/cleanup/testing/test_tree_testing.h"

namespace qv::cleanup {
namespace {

namespace fs = std::filesystem;
using testing::BundleLayout;
using testing::MakeBundle;

constexpr char kIdentifier[] = "app.quorvel.test";

using testing::ScanPlatform;

struct Scene {
  testing::TempFolder temp;
  std::string system_apps = temp.path() + "/Applications";
  std::string home_apps = temp.path() + "/home/Applications";
  std::string elsewhere = temp.path() + "/elsewhere";
  std::string trash = temp.path() + "/home/.local/share/Trash";
  std::vector<std::string> roots = {system_apps, home_apps};
  std::string running;
  std::atomic<bool> cancelled{false};
  ScanPlatform platform{trash};
  std::vector<pid_t> processes;

  Scene() {
    testing::MakeFolders(system_apps);
    testing::MakeFolders(home_apps);
    testing::MakeFolders(elsewhere);
  }
  ~Scene() {
    for (pid_t pid : processes) testing::StopProcess(pid);
  }
  std::string Run(std::string bundle, const BundleLayout& layout = {}) {
    running = MakeBundle(ParentPath(bundle), LastComponent(bundle), layout);
    return running;
  }
  void Start(const std::string& program) {
    const pid_t pid = testing::Spawn(program, "30");
    ASSERT_GT(pid, 0);
    processes.push_back(pid);
  }
};

BundleLayout Version(std::string v) {
  BundleLayout layout;
  layout.version = std::move(v);
  return layout;
}

std::string SleepBinary() {
  return fs::exists("/usr/bin/sleep") ? "/usr/bin/sleep" : "/bin/sleep";
}

CleanupCounts Counts(std::uint64_t busy, std::uint64_t newer, std::uint64_t unverified,
                     std::uint64_t inaccessible) {
  return CleanupCounts{busy, newer, unverified, inaccessible};
}

struct Case {
  std::string name;
  std::function<void(Scene&)> setup;
  CleanupStatus status;
  std::vector<std::string> removed;  // names, any order
  CleanupCounts counts;
  bool needs_root = false;
};

std::vector<Case> Cases() {
  std::vector<Case> cases;
  const auto add = [&](Case c) { cases.push_back(std::move(c)); };
  add({"same version copy is trashed",
       [](Scene& s) {
         s.Run(s.system_apps + "/Quorvel.app");
         MakeBundle(s.system_apps, "Quorvel 2.app");
       },
       CleanupStatus::kComplete,
       {"Quorvel 2.app"},
       {}});
  add({"copies in both folders, binary property list",
       [](Scene& s) {
         s.Run(s.system_apps + "/Quorvel.app");
         BundleLayout old = Version("1.0.0");
         old.binary_plist = true;
         MakeBundle(s.home_apps, "Quorvel copy 3.app", old);
         MakeBundle(s.system_apps, "Quorvel (2).app", old);
         MakeBundle(s.system_apps, "Quorvel 1.0.0.app", old);
       },
       CleanupStatus::kComplete,
       {"Quorvel (2).app", "Quorvel 1.0.0.app", "Quorvel copy 3.app"},
       {}});
  add({"running copy is itself a copy",
       [](Scene& s) {
         s.Run(s.system_apps + "/Quorvel copy.app");
         MakeBundle(s.system_apps, "Quorvel.app", Version("1.2.8"));
       },
       CleanupStatus::kComplete,
       {"Quorvel.app"},
       {}});
  add({"running from the home folder",
       [](Scene& s) {
         s.Run(s.home_apps + "/Quorvel.app");
         MakeBundle(s.system_apps, "Quorvel.app");
       },
       CleanupStatus::kComplete,
       {"Quorvel.app"},
       {}});
  add({"newer copy kept, by numeric order",
       [](Scene& s) {
         s.Run(s.system_apps + "/Quorvel.app", Version("1.2.9"));
         MakeBundle(s.system_apps, "Quorvel 2.app", Version("1.2.10"));
         MakeBundle(s.home_apps, "Quorvel 3.app", Version("1.10.0"));
         MakeBundle(s.home_apps, "Quorvel 4.app", Version("1.2.8"));
       },
       CleanupStatus::kComplete,
       {"Quorvel 4.app"},
       Counts(0, 2, 0, 0)});
  add({"older copy by numeric order is trashed",
       [](Scene& s) {
         s.Run(s.system_apps + "/Quorvel.app", Version("1.2.10"));
         MakeBundle(s.system_apps, "Quorvel 2.app", Version("1.2.9"));
       },
       CleanupStatus::kComplete,
       {"Quorvel 2.app"},
       {}});
  add({"names that are not copy names are skipped",
       [](Scene& s) {
         s.Run(s.system_apps + "/Quorvel.app");
         for (const char* n : {"quorvel 2.app", "Quorvel-2.app", "Quorvel 2.app.zip",
                               "Quorvel Beta.app", "Quorvel 1.2.app", "Quorvel copy.app.old"}) {
           MakeBundle(s.system_apps, n);
         }
       },
       CleanupStatus::kComplete,
       {},
       {}});
  add({"symbolic links are skipped",
       [](Scene& s) {
         s.Run(s.system_apps + "/Quorvel.app");
         const std::string real = MakeBundle(s.elsewhere, "Quorvel 2.app");
         fs::create_symlink(real, s.system_apps + "/Quorvel 2.app");
         const std::string b3 = MakeBundle(s.system_apps, "Quorvel 3.app");
         fs::rename(b3 + "/Contents/Info.plist", s.elsewhere + "/Info.plist");
         fs::create_symlink(s.elsewhere + "/Info.plist", b3 + "/Contents/Info.plist");
         const std::string b4 = MakeBundle(s.system_apps, "Quorvel 4.app");
         fs::rename(b4 + "/Contents/MacOS/Quorvel", s.elsewhere + "/Quorvel");
         fs::create_symlink(s.elsewhere + "/Quorvel", b4 + "/Contents/MacOS/Quorvel");
       },
       CleanupStatus::kComplete,
       {},
       {}});
  add({"copies with unusable metadata are skipped",
       [](Scene& s) {
         s.Run(s.system_apps + "/Quorvel.app");
         MakeBundle(s.system_apps, "Quorvel 2.app", Version("1.2"));
         BundleLayout other_id;
         other_id.identifier = "app.quorvel.other";
         MakeBundle(s.system_apps, "Quorvel 3.app", other_id);
         BundleLayout other_exe;
         other_exe.executable_key = "Quorvel Helper";
         MakeBundle(s.system_apps, "Quorvel 4.app", other_exe);
         fs::remove(MakeBundle(s.system_apps, "Quorvel 5.app") + "/Contents/Info.plist");
         testing::WriteFile(MakeBundle(s.system_apps, "Quorvel 6.app") + "/Contents/Info.plist",
                            "not a property list");
         testing::WriteFile(s.system_apps + "/Quorvel 7.app", "a file, not a bundle");
       },
       CleanupStatus::kComplete,
       {},
       {}});
  add({"copy owned by another user is inaccessible",
       [](Scene& s) {
         s.Run(s.system_apps + "/Quorvel.app");
         const std::string b = MakeBundle(s.system_apps, "Quorvel 2.app");
         const passwd* nobody = ::getpwnam("nobody");
         ASSERT_NE(nobody, nullptr);
         for (const auto& item : fs::recursive_directory_iterator(b)) {
           ASSERT_EQ(::lchown(item.path().c_str(), nobody->pw_uid, nobody->pw_gid), 0);
         }
         ASSERT_EQ(::lchown(b.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
       },
       CleanupStatus::kComplete,
       {},
       Counts(0, 0, 0, 1),
       true});
  add({"copy with a running process is busy; a neighbour's process is not",
       [](Scene& s) {
         s.Run(s.system_apps + "/Quorvel.app");
         BundleLayout runs;
         runs.executable_source = SleepBinary();
         s.Start(MakeBundle(s.system_apps, "Quorvel 2.app", runs) + "/Contents/MacOS/Quorvel");
         MakeBundle(s.system_apps, "Quorvel 3.app", runs);
         s.Start(MakeBundle(s.system_apps, "Quorvel 3.app.old", runs) + "/Contents/MacOS/Quorvel");
       },
       CleanupStatus::kComplete,
       {"Quorvel 3.app"},
       Counts(1, 0, 0, 0)});
  add({"the first failing check decides",
       [](Scene& s) {
         s.Run(s.system_apps + "/Quorvel.app");
         BundleLayout newer_busy_unsigned = Version("9.0.0");
         newer_busy_unsigned.executable_source = SleepBinary();
         newer_busy_unsigned.sealed = false;
         s.Start(MakeBundle(s.system_apps, "Quorvel 2.app", newer_busy_unsigned) +
                 "/Contents/MacOS/Quorvel");
         BundleLayout busy_unsigned;
         busy_unsigned.executable_source = SleepBinary();
         busy_unsigned.sealed = false;
         s.Start(MakeBundle(s.home_apps, "Quorvel 3.app", busy_unsigned) +
                 "/Contents/MacOS/Quorvel");
         BundleLayout foreign_newer = Version("9.0.0");
         foreign_newer.identifier = "app.quorvel.other";
         MakeBundle(s.system_apps, "Quorvel 4.app", foreign_newer);
       },
       CleanupStatus::kComplete,
       {},
       Counts(1, 1, 0, 0)});
  add({"a copy of another user is inaccessible even when busy and unsigned",
       [](Scene& s) {
         s.Run(s.system_apps + "/Quorvel.app");
         BundleLayout busy_unsigned;
         busy_unsigned.executable_source = SleepBinary();
         busy_unsigned.sealed = false;
         const std::string b = MakeBundle(s.system_apps, "Quorvel 2.app", busy_unsigned);
         const passwd* nobody = ::getpwnam("nobody");
         ASSERT_NE(nobody, nullptr);
         ASSERT_EQ(::lchown(b.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
         s.Start(b + "/Contents/MacOS/Quorvel");
       },
       CleanupStatus::kComplete,
       {},
       Counts(0, 0, 0, 1),
       true});
  add({"unsigned, other-team and broken copies are unverified",
       [](Scene& s) {
         s.Run(s.system_apps + "/Quorvel.app");
         BundleLayout unsigned_spec;
         unsigned_spec.sealed = false;
         MakeBundle(s.system_apps, "Quorvel 2.app", unsigned_spec);
         BundleLayout other_team;
         other_team.team = "TEAM2";
         MakeBundle(s.system_apps, "Quorvel 3.app", other_team);
         const std::string broken = MakeBundle(s.home_apps, "Quorvel 4.app");
         testing::WriteFile(broken + "/Contents/MacOS/Quorvel", "#!/bin/sh\nexit 1\n");
         BundleLayout no_team;
         no_team.team = std::nullopt;
         MakeBundle(s.home_apps, "Quorvel 5.app", no_team);
       },
       CleanupStatus::kComplete,
       {},
       Counts(0, 0, 4, 0)});
  add({"signatures without a team match each other",
       [](Scene& s) {
         BundleLayout no_team;
         no_team.team = std::nullopt;
         s.Run(s.system_apps + "/Quorvel.app", no_team);
         MakeBundle(s.system_apps, "Quorvel 2.app", no_team);
       },
       CleanupStatus::kComplete,
       {"Quorvel 2.app"},
       {}});
  add({"missing home Applications folder is skipped",
       [](Scene& s) {
         fs::remove(s.home_apps);
         s.Run(s.system_apps + "/Quorvel.app");
         MakeBundle(s.system_apps, "Quorvel 2.app");
       },
       CleanupStatus::kComplete,
       {"Quorvel 2.app"},
       {}});
  add({"a root reached through a symbolic link is not a real folder",
       [](Scene& s) {
         fs::create_symlink(s.system_apps, s.temp.path() + "/Linked");
         s.roots[0] = s.temp.path() + "/Linked";
         s.Run(s.system_apps + "/Quorvel.app");
         s.running = s.roots[0] + "/Quorvel.app";
         MakeBundle(s.system_apps, "Quorvel 2.app");
       },
       CleanupStatus::kNotInstalled,
       {},
       {}});
  for (const char* where : {"/Tools/Quorvel.app", "/Quorvel Beta.app", "/quorvel.app"}) {
    add({std::string("not installed: ") + where,
         [where](Scene& s) {
           s.Run(s.system_apps + where);
           MakeBundle(s.system_apps, "Quorvel 2.app");
         },
         CleanupStatus::kNotInstalled,
         {},
         {}});
  }
  add({"not installed: another folder",
       [](Scene& s) {
         s.Run(s.elsewhere + "/Quorvel.app");
         MakeBundle(s.system_apps, "Quorvel 2.app");
       },
       CleanupStatus::kNotInstalled,
       {},
       {}});
  const std::vector<std::pair<std::string, std::function<void(BundleLayout&)>>> bad_self = {
      {"two-part version", [](BundleLayout& b) { b.version = "1.2"; }},
      {"suffixed version", [](BundleLayout& b) { b.version = "1.2.3-beta"; }},
      {"leading zero", [](BundleLayout& b) { b.version = "1.02.3"; }},
      {"other executable", [](BundleLayout& b) { b.executable_key = "Helper"; }},
      {"other identifier", [](BundleLayout& b) { b.identifier = "app.quorvel.other"; }},
      {"unsigned", [](BundleLayout& b) { b.sealed = false; }},
  };
  for (const auto& bad : bad_self) {
    const std::function<void(BundleLayout&)> change = bad.second;
    add({"running bundle unverified: " + bad.first,
         [change](Scene& s) {
           BundleLayout self;
           change(self);
           s.Run(s.system_apps + "/Quorvel.app", self);
           MakeBundle(s.system_apps, "Quorvel 2.app", Version("1.0.0"));
         },
         CleanupStatus::kUnverified,
         {},
         {}});
  }
  add({"running bundle with a broken seal is unverified",
       [](Scene& s) {
         s.Run(s.system_apps + "/Quorvel.app");
         testing::WriteFile(s.running + "/Contents/MacOS/Quorvel", "changed");
         MakeBundle(s.system_apps, "Quorvel 2.app", Version("1.0.0"));
       },
       CleanupStatus::kUnverified,
       {},
       {}});
  add({"candidate replaced before the move",
       [](Scene& s) {
         s.Run(s.system_apps + "/Quorvel.app");
         const std::string b = MakeBundle(s.system_apps, "Quorvel 2.app");
         s.platform.after_signature = [&s, b](const std::string& bundle) {
           if (bundle != b) return;
           fs::rename(b, s.elsewhere + "/moved.app");
           MakeBundle(s.system_apps, "Quorvel 2.app");
         };
       },
       CleanupStatus::kComplete,
       {},
       Counts(0, 0, 1, 0)});
  add({"running bundle replaced before the move stops the folder",
       [](Scene& s) {
         s.Run(s.system_apps + "/Quorvel.app");
         const std::string b = MakeBundle(s.system_apps, "Quorvel 2.app");
         s.platform.after_signature = [&s, b](const std::string& bundle) {
           if (bundle != b) return;
           fs::rename(s.running, s.elsewhere + "/old.app");
           MakeBundle(s.system_apps, "Quorvel.app");
         };
       },
       CleanupStatus::kComplete,
       {},
       {}});
  add({"process started from the candidate before the move",
       [](Scene& s) {
         s.Run(s.system_apps + "/Quorvel.app");
         BundleLayout runs;
         runs.executable_source = SleepBinary();
         const std::string b = MakeBundle(s.home_apps, "Quorvel 2.app", runs);
         s.platform.after_signature = [&s, b](const std::string& bundle) {
           if (bundle == b) s.Start(b + "/Contents/MacOS/Quorvel");
         };
       },
       CleanupStatus::kComplete,
       {},
       Counts(1, 0, 0, 0)});
  add({"cancel before the move stops every folder",
       [](Scene& s) {
         s.Run(s.system_apps + "/Quorvel.app");
         const std::string b = MakeBundle(s.system_apps, "Quorvel 2.app");
         MakeBundle(s.home_apps, "Quorvel 3.app", Version("9.0.0"));
         s.platform.after_signature = [&s, b](const std::string& bundle) {
           if (bundle == b) s.cancelled = true;
         };
       },
       CleanupStatus::kComplete,
       {},
       {}});
  add({"cancelled before the scan: nothing examined",
       [](Scene& s) {
         s.Run(s.system_apps + "/Quorvel.app");
         MakeBundle(s.system_apps, "Quorvel 2.app");
         MakeBundle(s.system_apps, "Quorvel 3.app", Version("9.0.0"));
         MakeBundle(s.home_apps, "Quorvel 4.app");
         s.cancelled = true;
       },
       CleanupStatus::kComplete,
       {},
       {}});
  add({"cancelled but not installed",
       [](Scene& s) {
         s.Run(s.elsewhere + "/Quorvel.app");
         s.cancelled = true;
       },
       CleanupStatus::kNotInstalled,
       {},
       {}});
  return cases;
}

bool Under(const std::string& relative, const std::string& folder) {
  return relative == folder || relative.rfind(folder + "/", 0) == 0;
}

// The trash record of a moved item names its original path and a deletion time.
void ExpectTrashRecord(const std::string& trash, const std::string& trashed,
                       const std::string& original) {
  ASSERT_EQ(ParentPath(trashed), trash + "/files");
  struct stat st {};
  ASSERT_EQ(::lstat(trashed.c_str(), &st), 0) << trashed;
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  const std::optional<std::string> record =
      testing::ReadWholeFile(trash + "/info/" + LastComponent(trashed) + ".trashinfo");
  ASSERT_TRUE(record) << trashed;
  std::smatch m;
  ASSERT_TRUE(std::regex_match(
      *record, m,
      std::regex(
          R"(\[Trash Info\]\nPath=([^\n]*)\nDeletionDate=(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d)\n)")))
      << *record;
  EXPECT_EQ(testing::PercentDecode(m[1]), original);
  EXPECT_EQ(m[1].str().find(' '), std::string::npos) << "spaces are escaped";
}

TEST(CleanCopiesTest, Scenarios) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    if (c.needs_root && ::geteuid() != 0) {
      std::printf("[ SKIPPED  ] %s (needs root to hand a folder to another user)\n",
                  c.name.c_str());
      continue;
    }
    Scene scene;
    c.setup(scene);
    if (::testing::Test::HasFatalFailure()) return;
    const auto before = testing::Snapshot(scene.temp.path());

    const CleanupResult result =
        CleanCopies(scene.platform, scene.running, scene.roots, kIdentifier, scene.cancelled);

    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.counts.busy, c.counts.busy);
    EXPECT_EQ(result.counts.newer, c.counts.newer);
    EXPECT_EQ(result.counts.unverified, c.counts.unverified);
    EXPECT_EQ(result.counts.inaccessible, c.counts.inaccessible);
    std::vector<std::string> names;
    for (const RemovedCopy& r : result.removed) names.push_back(r.name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, c.removed);

    // Each removed copy left its folder and sits in the trash with its record.
    std::vector<std::string> moved;  // relative paths of the originals
    for (const RemovedCopy& r : result.removed) {
      std::string original;
      for (const std::string& root : scene.roots) {
        if (root + "/" + r.name != scene.running &&
            before.count(fs::relative(root + "/" + r.name, scene.temp.path()).string()) != 0) {
          original = root + "/" + r.name;
        }
      }
      ASSERT_FALSE(original.empty()) << r.name;
      EXPECT_FALSE(testing::Exists(original));
      ExpectTrashRecord(scene.trash, r.path, original);
      moved.push_back(fs::relative(original, scene.temp.path()).string());
    }
    // Nothing else changed, whatever the hooks did outside the scan.
    if (scene.platform.after_signature) continue;
    const auto after = testing::Snapshot(scene.temp.path());
    for (const auto& item : before) {
      const std::string& path = item.first;
      const std::string& record = item.second;
      const bool was_moved = std::any_of(moved.begin(), moved.end(),
                                         [&](const std::string& m) { return Under(path, m); });
      if (was_moved) {
        EXPECT_EQ(after.count(path), 0U) << path;
      } else {
        EXPECT_EQ(after.count(path) ? after.at(path) : "gone", record) << path;
      }
    }
    for (const auto& [path, record] : after) {
      if (before.count(path) == 0) {
        EXPECT_TRUE(Under(path, "home/.local")) << "new item " << path;
      }
    }
  }
}

// A scan folder that cannot be listed adds to "inaccessible". Root reads every folder, so the
// scan then runs in a child process that has given up root for "nobody".
TEST(CleanCopiesTest, UnreadableFolderIsCounted) {
  Scene scene;
  scene.Run(scene.system_apps + "/Quorvel.app");
  MakeBundle(scene.home_apps, "Quorvel 2.app");
  ASSERT_EQ(::chmod(scene.home_apps.c_str(), 0), 0);
  const bool privileged = ::geteuid() == 0;
  const passwd* nobody = ::getpwnam("nobody");
  if (privileged) {
    ASSERT_NE(nobody, nullptr);
    for (const auto& item : fs::recursive_directory_iterator(scene.temp.path())) {
      ASSERT_EQ(::lchown(item.path().c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    }
  }
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (privileged && (::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0)) _exit(3);
    const std::string json = ResultJson(
        CleanCopies(scene.platform, scene.running, scene.roots, kIdentifier, scene.cancelled));
    const bool written =
        ::write(out[1], json.data(), json.size()) == static_cast<ssize_t>(json.size());
    _exit(written ? 0 : 4);
  }
  ::close(out[1]);
  std::string json;
  char buffer[4096];
  for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) json.append(buffer, n);
  ::close(out[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(json, R"({"status":"complete","removed":[],"busy":0,"newer":0,"unverified":0,)"
                  R"("inaccessible":1})");
  ASSERT_EQ(::chmod(scene.home_apps.c_str(), 0755), 0);
  EXPECT_TRUE(testing::Exists(scene.home_apps + "/Quorvel 2.app/Contents/Info.plist"));
}

// A move that would cross file systems fails and is counted; the copy stays.
TEST(CleanCopiesTest, MoveAcrossFileSystemsFails) {
  Scene scene;
  struct stat shm {};
  struct stat tmp {};
  if (::stat("/dev/shm", &shm) != 0 || ::stat(scene.temp.path().c_str(), &tmp) != 0 ||
      shm.st_dev == tmp.st_dev) {
    GTEST_SKIP() << "no second file system to move across";
  }
  char other[] = "/dev/shm/qv-trash-XXXXXX";
  ASSERT_NE(::mkdtemp(other), nullptr);
  ScanPlatform platform(std::string(other) + "/Trash");
  scene.Run(scene.system_apps + "/Quorvel.app");
  const std::string copy = MakeBundle(scene.system_apps, "Quorvel 2.app");
  const CleanupResult result =
      CleanCopies(platform, scene.running, scene.roots, kIdentifier, scene.cancelled);
  std::error_code ec;
  const bool trash_info_empty = fs::is_empty(std::string(other) + "/Trash/info", ec);
  fs::remove_all(other, ec);
  EXPECT_EQ(result.status, CleanupStatus::kComplete);
  EXPECT_TRUE(result.removed.empty());
  EXPECT_EQ(result.counts.inaccessible, 1U);
  EXPECT_TRUE(testing::Exists(copy + "/Contents/Info.plist"));
  EXPECT_TRUE(trash_info_empty) << "no record is left for a failed move";
}

// The running bundle replaced right before a move ends only the current folder: no further entry
// of that folder is examined, while the next folder is still scanned (and stopped again there).
// Signature checks are counted because listing order is the platform's.
TEST(CleanCopiesTest, ReplacedRunningBundleStopsOnlyTheCurrentFolder) {
  Scene scene;
  scene.Run(scene.system_apps + "/Quorvel.app");
  const std::vector<std::string> copies = {MakeBundle(scene.system_apps, "Quorvel 2.app"),
                                           MakeBundle(scene.system_apps, "Quorvel 3.app"),
                                           MakeBundle(scene.home_apps, "Quorvel 4.app")};
  std::vector<std::string> checked;
  scene.platform.after_signature = [&](const std::string& bundle) {
    if (bundle == scene.running) return;
    checked.push_back(bundle);
    if (checked.size() == 1) {
      fs::rename(scene.running, scene.elsewhere + "/old.app");
      MakeBundle(scene.system_apps, "Quorvel.app");
    }
  };
  const CleanupResult result =
      CleanCopies(scene.platform, scene.running, scene.roots, kIdentifier, scene.cancelled);
  EXPECT_EQ(result.status, CleanupStatus::kComplete);
  EXPECT_TRUE(result.removed.empty());
  EXPECT_EQ(ResultJson(result), R"({"status":"complete","removed":[],"busy":0,"newer":0,)"
                                R"("unverified":0,"inaccessible":0})");
  ASSERT_EQ(checked.size(), 2U) << "one entry of each folder reaches the re-checks";
  EXPECT_EQ(ParentPath(checked[0]), scene.system_apps);
  EXPECT_EQ(checked[1], copies[2]);
  for (const std::string& copy : copies)
    EXPECT_TRUE(testing::Exists(copy + "/Contents/Info.plist"));
  EXPECT_FALSE(testing::Exists(scene.trash));
}

}  // namespace
}  // namespace qv::cleanup
