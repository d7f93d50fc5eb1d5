#include "macos/cleanup/probes.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <tuple>

#include "macos/cleanup/linux/platform_linux.h"
#include "macos/cleanup/testing/test_tree_testing.h"

namespace qv::cleanup {
namespace {

namespace fs = std::filesystem;

TEST(CleanupProbesTest, CopyNames) {
  const struct {
    const char* name;
    bool copy;
  } cases[] = {
      {"Quorvel.app", true},
      {"Quorvel 2.app", true},
      {"Quorvel 123456789012345678901234567890.app", true},
      {"Quorvel copy.app", true},
      {"Quorvel copy 2.app", true},
      {"Quorvel (2).app", true},
      {"Quorvel 1.2.3.app", true},
      {"Quorvel 10.20.30.app", true},
      {"quorvel.app", false},
      {"quorvel 2.app", false},
      {"QUORVEL.app", false},
      {"Quorvel.App", false},
      {"Quorvel-2.app", false},
      {"Quorvel 2.app.zip", false},
      {"Quorvel 2.app.old", false},
      {"Quorvel Beta.app", false},
      {"Quorvel .app", false},
      {"Quorvel  2.app", false},
      {"Quorvel copy .app", false},
      {"Quorvel Copy.app", false},
      {"Quorvel copy copy.app", false},
      {"Quorvel ().app", false},
      {"Quorvel (2.app", false},
      {"Quorvel 1.2.app", false},
      {"Quorvel 1.2.3.4.app", false},
      {"Quorvel \xD9\xA2.app", false},  // ARABIC-INDIC DIGIT TWO is not an ASCII digit
      {"Quorvel 2.app\n", false},
      {"\nQuorvel 2.app", false},
      {"xQuorvel.app", false},
      {"Quorvel", false},
      {"", false},
      {".app", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CopyName(c.name), c.copy) << '"' << c.name << '"';
  }
  // A directory entry's name is at most 255 bytes; a longer one is refused before the pattern
  // runs (the pattern engine recurses per character and would exhaust the stack).
  const auto numbered = [](size_t bytes) {
    return "Quorvel " + std::string(bytes - 12, '7') + ".app";
  };
  EXPECT_EQ(numbered(255).size(), 255u);
  EXPECT_TRUE(CopyName(numbered(255)));
  EXPECT_FALSE(CopyName(numbered(256)));
  EXPECT_FALSE(CopyName(numbered(100000)));
}

TEST(CleanupProbesTest, Versions) {
  const std::string thirty_one = "0.0." + std::string("1") + std::string(26, '0');
  ASSERT_EQ(thirty_one.size(), 31U);
  const struct {
    PlistValue value;
    bool ok;
  } cases[] = {
      {"1.2.3", true},    {"0.0.0", true},           {"10.200.3000", true},
      {thirty_one, true}, {thirty_one + "0", false},  // 32 characters
      {"1.2", false},     {"1.2.3.4", false},        {"1.2.3-beta", false},
      {"01.2.3", false},  {"1.02.3", false},         {"1.2.03", false},
      {"1..3", false},    {".1.2.3", false},         {"1.2.3 ", false},
      {"1.2.3\n", false}, {"v1.2.3", false},         {"1.2.\xD9\xA3", false},
      {"", false},        {std::nullopt, false},  // not text
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Version(c.value), c.ok) << (c.value ? *c.value : "(not text)");
  }
}

TEST(CleanupProbesTest, NumericOrderMatchesComponentOrder) {
  const struct {
    const char* a;
    const char* b;
    int order;
  } cases[] = {
      {"1.2.10", "1.2.9", 1},
      {"1.2.9", "1.2.10", -1},
      {"1.2.9", "1.2.9", 0},
      {"1.10.0", "1.9.99", 1},
      {"2.0.0", "10.0.0", -1},
      {"99999999999999999999.0.0", "99999999999999999998.9.9", 1},
      {"1.0.0", "100000000000000000000000.0.0", -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NumericCompare(c.a, c.b), c.order) << c.a << " vs " << c.b;
  }
  // Against integer tuples for versions that fit in 64 bits.
  std::mt19937_64 random(7);
  std::uniform_int_distribution<unsigned> small(0, 12);
  std::uniform_int_distribution<std::uint64_t> large(0, UINT64_MAX);
  for (int i = 0; i < 2000; ++i) {
    std::uint64_t a[3];
    std::uint64_t b[3];
    for (int k = 0; k < 3; ++k) {
      a[k] = i % 2 ? large(random) : small(random);
      b[k] = i % 3 ? a[k] + small(random) % 2 : small(random);
    }
    const auto text = [](const std::uint64_t* v) {
      return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]);
    };
    const auto ta = std::tie(a[0], a[1], a[2]);
    const auto tb = std::tie(b[0], b[1], b[2]);
    const int want = ta < tb ? -1 : (tb < ta ? 1 : 0);
    ASSERT_EQ(NumericCompare(text(a), text(b)), want) << text(a) << " vs " << text(b);
  }
}

TEST(CleanupProbesTest, RealItems) {
  testing::TempFolder temp;
  const std::string base = temp.path();
  LinuxPlatform platform;
  testing::MakeFolders(base + "/dir");
  testing::WriteFile(base + "/file", "x");
  fs::create_symlink(base + "/dir", base + "/link-to-dir");
  fs::create_symlink(base + "/file", base + "/link-to-file");
  testing::WriteFile(base + "/dir/inner", "y");
  // A canonical path longer than 1024 bytes.
  std::string deep = base;
  while (deep.size() <= 1500) deep += "/" + std::string(60, 'd');
  testing::MakeFolders(deep);

  const struct {
    std::string path;
    std::uint32_t type;
    bool real;
  } cases[] = {
      {base + "/dir", kDirectoryType, true},
      {base + "/dir", kRegularFileType, false},
      {base + "/file", kRegularFileType, true},
      {base + "/file", kDirectoryType, false},
      {base + "/link-to-dir", kDirectoryType, false},
      {base + "/link-to-file", kRegularFileType, false},
      {base + "/link-to-dir/inner", kRegularFileType, false},  // a link inside the path
      {base + "/dir/../file", kRegularFileType, false},        // not canonical
      {base + "/./file", kRegularFileType, false},
      {base + "//file", kRegularFileType, false},
      {base + "/missing", kDirectoryType, false},
      {"", kDirectoryType, false},
      {deep, kDirectoryType, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RealItem(platform, c.path, c.type), c.real) << c.path;
  }
  FileStatus st;
  ASSERT_TRUE(RealItem(platform, base + "/dir", kDirectoryType, &st));
  EXPECT_EQ(st.uid, ::getuid());
  struct stat oracle {};
  ASSERT_EQ(::stat((base + "/dir").c_str(), &oracle), 0);
  EXPECT_EQ(st.inode, oracle.st_ino);
  EXPECT_EQ(st.device, oracle.st_dev);
  EXPECT_EQ(st.mode & kFileTypeMask, kDirectoryType);
}

// A platform whose process list is scripted; everything else is unused by InUse.
class ProcessTable : public LinuxPlatform {
 public:
  std::optional<std::vector<std::int32_t>> ids;
  std::map<std::int32_t, std::string> paths;
  std::optional<std::vector<std::int32_t>> ProcessIds() override { return ids; }
  std::optional<std::string> ProcessPath(std::int32_t pid) override {
    const auto it = paths.find(pid);
    if (it == paths.end()) return std::nullopt;
    return it->second;
  }
};

TEST(CleanupProbesTest, InUseFailsClosed) {
  const std::string bundle = "/Applications/Quorvel 2.app";
  const struct {
    const char* label;
    std::optional<std::vector<std::int32_t>> ids;
    std::map<std::int32_t, std::string> paths;
    bool busy;
  } cases[] = {
      {"unreadable list", std::nullopt, {}, true},
      {"inside", std::vector<std::int32_t>{1, 2}, {{2, bundle + "/Contents/MacOS/Quorvel"}}, true},
      {"neighbour with a longer name",
       std::vector<std::int32_t>{1},
       {{1, bundle + ".old/Contents/MacOS/Quorvel"}},
       false},
      {"the bundle folder itself is no executable inside it",
       std::vector<std::int32_t>{1},
       {{1, bundle}},
       false},
      {"uninspectable process", std::vector<std::int32_t>{5}, {}, false},
      {"ids that are not processes",
       std::vector<std::int32_t>{0, -1},
       {{0, bundle + "/x"}, {-1, bundle + "/x"}},
       false},
      {"path that is not text",
       std::vector<std::int32_t>{3},
       {{3, bundle + "/Contents/MacOS/\xFF"}},
       false},
      {"empty list", std::vector<std::int32_t>{}, {}, false},
  };
  for (const auto& c : cases) {
    ProcessTable table;
    table.ids = c.ids;
    table.paths = c.paths;
    EXPECT_EQ(InUse(table, bundle), c.busy) << c.label;
  }
}

TEST(CleanupProbesTest, InUseSeesARealProcess) {
  testing::TempFolder temp;
  const std::string bundle = temp.path() + "/Quorvel 2.app";
  testing::MakeFolders(bundle + "/Contents/MacOS");
  const std::string exe = bundle + "/Contents/MacOS/Quorvel";
  fs::copy_file(fs::exists("/usr/bin/sleep") ? "/usr/bin/sleep" : "/bin/sleep", exe);
  LinuxPlatform platform;
  EXPECT_FALSE(InUse(platform, bundle));
  const pid_t pid = testing::Spawn(exe, "30");
  ASSERT_GT(pid, 0);
  const bool busy = InUse(platform, bundle);
  const bool neighbour_busy = InUse(platform, temp.path() + "/Quorvel 2");
  testing::StopProcess(pid);
  EXPECT_TRUE(busy);
  EXPECT_FALSE(neighbour_busy);
  EXPECT_FALSE(InUse(platform, bundle));
}

}  // namespace
}  // namespace qv::cleanup
