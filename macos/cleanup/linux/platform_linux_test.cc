// The Linux platform operations against real files, processes and trash folders.
#include "macos/cleanup/linux/platform_linux.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <plist/plist.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <regex>
#include <utility>
#include <vector>

#include "macos/cleanup/linux/plist_file.h"
#include "macos/cleanup/linux/trash_linux.h"
#include "macos/cleanup/testing/test_tree_testing.h"

namespace qv::cleanup {
namespace {

namespace fs = std::filesystem;

TEST(CleanupPlatformTest, BundleOfExecutable) {
  const struct {
    const char* executable;
    const char* bundle;
  } cases[] = {
      {"/Applications/Quorvel.app/Contents/MacOS/Quorvel", "/Applications/Quorvel.app"},
      {"/home/u/Applications/Quorvel 2.app/Contents/MacOS/node",
       "/home/u/Applications/Quorvel 2.app"},
      {"/usr/bin/node", "/usr/bin"},
      {"/x/Quorvel.app/Contents/Helpers/tool", "/x/Quorvel.app/Contents/Helpers"},
      {"/x/Quorvel/Contents/MacOS/Quorvel", "/x/Quorvel/Contents/MacOS"},
      {"/x/.app/Contents/MacOS/Quorvel", "/x/.app/Contents/MacOS"},
      {"/node", "/"},
  };
  for (const auto& c : cases) EXPECT_EQ(BundleOfExecutable(c.executable), c.bundle) << c.executable;
}

TEST(CleanupPlatformTest, FolderListingAndProcesses) {
  testing::TempFolder temp;
  LinuxPlatform platform;
  for (const char* name : {"a", ".hidden", "Quorvel 2.app"}) {
    testing::WriteFile(temp.path() + "/" + name, "");
  }
  testing::MakeFolders(temp.path() + "/sub/deeper");
  std::optional<std::vector<std::string>> entries = platform.ListFolder(temp.path());
  ASSERT_TRUE(entries);
  std::sort(entries->begin(), entries->end());
  const std::vector<std::string> want = {temp.path() + "/.hidden", temp.path() + "/Quorvel 2.app",
                                         temp.path() + "/a", temp.path() + "/sub"};
  EXPECT_EQ(*entries, want);
  EXPECT_FALSE(platform.ListFolder(temp.path() + "/missing"));
  EXPECT_FALSE(platform.ListFolder(temp.path() + "/a"));

  const auto ids = platform.ProcessIds();
  ASSERT_TRUE(ids);
  EXPECT_NE(std::find(ids->begin(), ids->end(), ::getpid()), ids->end());
  EXPECT_EQ(platform.ProcessPath(::getpid()), fs::read_symlink("/proc/self/exe").string());
  EXPECT_FALSE(platform.ProcessPath(0));
  EXPECT_EQ(platform.MainBundle(), fs::read_symlink("/proc/self/exe").parent_path().string());
}

TEST(CleanupPlatformTest, PropertyLists) {
  testing::TempFolder temp;
  const std::string xml_path = temp.path() + "/xml.plist";
  testing::WriteFile(xml_path, R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
  <key>CFBundleIdentifier</key><string>app.quorvel.test</string>
  <key>CFBundleShortVersionString</key><string>1.2.3</string>
  <key>CFBundleVersion</key><integer>42</integer>
  <key>LSEnvironment</key><dict><key>A</key><string>b</string></dict>
  <key>Name</key><string>caf&#xE9; &amp; co</string>
</dict>
</plist>
)");
  // The same content in binary form, written by an independent encoder.
  plist_t dict = plist_new_dict();
  plist_dict_set_item(dict, "CFBundleIdentifier", plist_new_string("app.quorvel.test"));
  plist_dict_set_item(dict, "CFBundleVersion", plist_new_uint(42));
  char* bin = nullptr;
  uint32_t length = 0;
  plist_to_bin(dict, &bin, &length);
  plist_free(dict);
  const std::string bin_path = temp.path() + "/bin.plist";
  testing::WriteFile(bin_path, std::string(bin, length));
  std::free(bin);
  testing::WriteFile(temp.path() + "/array.plist",
                     "<plist version=\"1.0\"><array><string>x</string></array></plist>");
  testing::WriteFile(temp.path() + "/garbage.plist", "not a property list at all");
  testing::WriteFile(temp.path() + "/empty.plist", "");

  const auto xml = ReadPropertyListFile(xml_path);
  ASSERT_TRUE(xml);
  EXPECT_EQ(xml->at("CFBundleIdentifier"), "app.quorvel.test");
  EXPECT_EQ(xml->at("CFBundleShortVersionString"), "1.2.3");
  EXPECT_EQ(xml->at("CFBundleVersion"), std::nullopt);  // a number is not text
  EXPECT_EQ(xml->at("LSEnvironment"), std::nullopt);
  EXPECT_EQ(xml->at("Name"), "caf\xC3\xA9 & co");
  const auto binary = ReadPropertyListFile(bin_path);
  ASSERT_TRUE(binary);
  EXPECT_EQ(binary->size(), 2U);
  EXPECT_EQ(binary->at("CFBundleIdentifier"), "app.quorvel.test");
  for (const char* bad : {"/array.plist", "/garbage.plist", "/empty.plist", "/missing.plist"}) {
    EXPECT_FALSE(ReadPropertyListFile(temp.path() + bad)) << bad;
  }

  // Strings whose stored text goes on past a NUL never read as their prefix: values are not
  // text, and a key cut short names nothing. The lists come from the library's own encoder, with
  // one marker character of the text then turned into a NUL.
  struct NulCase {
    const char* name;
    std::vector<std::pair<std::string, std::string>> entries;
    std::string format;  // "bin" or "xml"
    std::string marked;  // the bytes around the marker, found once in the encoded list
    std::size_t at;      // the marker's offset in them
  };
  const std::string u16_marked("\0#\0x", 4);  // "#x" as UTF-16 big-endian units
  const NulCase nul_cases[] = {
      {"identifier",
       {{"CFBundleIdentifier", "app.quorvel.desktop#x"}, {"CFBundleName", "Quorvel"}},
       "bin",
       "desktop#x",
       7},
      {"version", {{"CFBundleShortVersionString", "2.0.0#x"}}, "bin", "2.0.0#x", 5},
      {"non-ASCII", {{"Name", "caf\xC3\xA9#x"}, {"CFBundleName", "Quorvel"}}, "bin", u16_marked, 1},
      {"key", {{"CFBundleIdentifier#x", "app.quorvel.desktop"}}, "bin", "Identifier#x", 10},
      {"non-ASCII key",
       {{"CFBundleIdentifier#x\xC3\xA9", "app.quorvel.desktop"}},
       "bin",
       u16_marked,
       1},
      {"XML value",
       {{"CFBundleIdentifier", "app.quorvel.desktop#x"}, {"CFBundleName", "Quorvel"}},
       "xml",
       "desktop#x",
       7},
      {"XML key", {{"CFBundleIdentifier#x", "app.quorvel.desktop"}}, "xml", "Identifier#x", 10},
  };
  for (const NulCase& c : nul_cases) {
    SCOPED_TRACE(c.name);
    plist_t list = plist_new_dict();
    for (const auto& [key, value] : c.entries) {
      plist_dict_set_item(list, key.c_str(), plist_new_string(value.c_str()));
    }
    char* encoded = nullptr;
    uint32_t encoded_length = 0;
    if (c.format == "bin") {
      plist_to_bin(list, &encoded, &encoded_length);
    } else {
      plist_to_xml(list, &encoded, &encoded_length);
    }
    plist_free(list);
    std::string bytes(encoded, encoded_length);
    std::free(encoded);
    const std::size_t found = bytes.find(c.marked);
    ASSERT_NE(found, std::string::npos);
    ASSERT_EQ(bytes.find(c.marked, found + 1), std::string::npos);
    bytes[found + c.at] = '\0';
    const std::string path = temp.path() + "/nul.plist";
    testing::WriteFile(path, bytes);
    const auto read = ReadPropertyListFile(path);
    for (const auto& [key, value] : c.entries) {
      const std::string cut_key = key.substr(0, key.find('#'));
      const std::string cut_value = value.substr(0, value.find('#'));
      const bool marked =
          key.find('#') != std::string::npos || value.find('#') != std::string::npos;
      if (marked) {
        EXPECT_FALSE(read && read->count(cut_key) && read->at(cut_key) == cut_value)
            << key << " read as " << cut_key << " = " << cut_value;
      } else if (read) {
        EXPECT_EQ(read->at(key), value) << "a clean entry of a list that is read stays text";
      }
    }
  }
  // Reading a value that holds a NUL as not text keeps the rest of the list.
  testing::WriteFile(temp.path() + "/nul.plist", [&] {
    plist_t list = plist_new_dict();
    plist_dict_set_item(list, "CFBundleIdentifier", plist_new_string("app.quorvel.desktop#x"));
    plist_dict_set_item(list, "CFBundleName", plist_new_string("Quorvel"));
    char* encoded = nullptr;
    uint32_t encoded_length = 0;
    plist_to_bin(list, &encoded, &encoded_length);
    plist_free(list);
    std::string bytes(encoded, encoded_length);
    std::free(encoded);
    bytes[bytes.find("desktop#x") + 7] = '\0';
    return bytes;
  }());
  const auto kept = ReadPropertyListFile(temp.path() + "/nul.plist");
  ASSERT_TRUE(kept);
  EXPECT_EQ(kept->at("CFBundleIdentifier"), std::nullopt);
  EXPECT_EQ(kept->at("CFBundleName"), "Quorvel");

  // A pipe put in the file's place after the scan looked at it must not hold the scan up.
  const std::string fifo = temp.path() + "/fifo.plist";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::future<bool> read =
      std::async(std::launch::async, [&] { return static_cast<bool>(ReadPropertyListFile(fifo)); });
  const bool returned = read.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  if (!returned) {
    // Let the blocked reader go: a writer that opens and closes ends its wait.
    const int fd = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd >= 0) ::close(fd);
  }
  EXPECT_TRUE(returned) << "reading a pipe blocked";
  EXPECT_FALSE(read.get());
}

struct TrashCase {
  std::string name;
  std::string trashed_as;  // expected name inside files/
};

TEST(CleanupPlatformTest, MovesIntoTheTrashWithARecord) {
  testing::TempFolder temp;
  const std::string trash = temp.path() + "/data/Trash";  // created on first use
  const std::string apps = temp.path() + "/Apps 100%";
  testing::MakeFolders(apps);
  const TrashCase cases[] = {
      {"Quorvel 2.app", "Quorvel 2.app"},
      {"Quorvel 2.app", "Quorvel 2 (2).app"},  // the same name again
      {"Quorvel 2.app", "Quorvel 2 (3).app"},
      {"caf\xC3\xA9#?.app", "caf\xC3\xA9#?.app"},
      {"noextension", "noextension"},
      {"noextension", "noextension (2)"},
  };
  for (const TrashCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string item = apps + "/" + c.name;
    testing::MakeFolders(item + "/Contents");
    testing::WriteFile(item + "/Contents/marker", c.trashed_as);
    struct stat before {};
    ASSERT_EQ(::lstat(item.c_str(), &before), 0);
    const auto moved = MoveToTrashFolder(item, trash);
    ASSERT_TRUE(moved) << moved.error().code;
    EXPECT_EQ(moved.value(), trash + "/files/" + c.trashed_as);
    EXPECT_FALSE(testing::Exists(item));
    struct stat after {};
    ASSERT_EQ(::lstat(moved.value().c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "renamed, not copied";
    EXPECT_EQ(testing::ReadWholeFile(moved.value() + "/Contents/marker"), c.trashed_as);
    const auto record = testing::ReadWholeFile(trash + "/info/" + c.trashed_as + ".trashinfo");
    ASSERT_TRUE(record);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(
        *record, m,
        std::regex(
            R"(\[Trash Info\]\nPath=([^\n]*)\nDeletionDate=\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\n)")));
    EXPECT_EQ(testing::PercentDecode(m[1]), item);
    EXPECT_TRUE(std::regex_match(m[1].str(), std::regex(R"([A-Za-z0-9/._~%-]*)"))) << m[1];
  }
  struct stat st {};
  ASSERT_EQ(::stat((trash + "/files").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700U);

  // Failures leave no record behind and touch nothing.
  const auto missing = MoveToTrashFolder(apps + "/missing.app", trash);
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().code, ENOENT);
  EXPECT_FALSE(MoveToTrashFolder("relative/path", trash));
  EXPECT_FALSE(MoveToTrashFolder("/", trash));
  EXPECT_FALSE(testing::Exists(trash + "/info/missing.app.trashinfo"));
  testing::WriteFile(temp.path() + "/file-not-folder", "");
  testing::MakeFolders(apps + "/Quorvel 9.app");
  EXPECT_FALSE(MoveToTrashFolder(apps + "/Quorvel 9.app", temp.path() + "/file-not-folder"));
  EXPECT_TRUE(testing::Exists(apps + "/Quorvel 9.app"));
}

TEST(CleanupPlatformTest, HomeTrashFollowsTheDataHome) {
  const char* saved = std::getenv("XDG_DATA_HOME");
  const std::optional<std::string> keep = saved ? std::optional<std::string>(saved) : std::nullopt;
  ::unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(HomeTrashFolder("/home/u"), "/home/u/.local/share/Trash");
  ::setenv("XDG_DATA_HOME", "relative", 1);
  EXPECT_EQ(HomeTrashFolder("/home/u"), "/home/u/.local/share/Trash");
  ::setenv("XDG_DATA_HOME", "/data", 1);
  EXPECT_EQ(HomeTrashFolder("/home/u"), "/data/Trash");
  EXPECT_EQ(HomeTrashFolder(""), "/data/Trash");

  // Without an absolute home there is no home trash, and nothing is moved anywhere else.
  ::unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(HomeTrashFolder(""), "");
  EXPECT_EQ(HomeTrashFolder("home/u"), "");
  testing::TempFolder temp;
  const std::string item = temp.path() + "/Quorvel 2.app";
  testing::MakeFolders(item + "/Contents");
  const char* saved_home = std::getenv("HOME");
  const std::string home = saved_home != nullptr ? saved_home : "";
  const std::string cwd = std::filesystem::current_path().string();
  ASSERT_EQ(::chdir(temp.path().c_str()), 0);
  ::setenv("HOME", "home", 1);
  const auto moved = LinuxPlatform().MoveToTrash(item);
  ::setenv("HOME", home.c_str(), 1);
  const bool relative_moved = static_cast<bool>(MoveToTrashFolder(item, "Trash"));
  ASSERT_EQ(::chdir(cwd.c_str()), 0);
  EXPECT_FALSE(moved);
  EXPECT_FALSE(relative_moved);
  EXPECT_FALSE(MoveToTrashFolder(item, ""));
  EXPECT_TRUE(testing::Exists(item + "/Contents"));
  EXPECT_FALSE(testing::Exists(temp.path() + "/home"));
  EXPECT_FALSE(testing::Exists(temp.path() + "/Trash"));
  EXPECT_FALSE(testing::Exists("/.local/share/Trash/info/Quorvel 2.app.trashinfo"));
  if (keep) {
    ::setenv("XDG_DATA_HOME", keep->c_str(), 1);
  } else {
    ::unsetenv("XDG_DATA_HOME");
  }
}

// The trash follows the home folder the platform saw when it was made: a job's moves use the
// same home as its scan folders, and the worker thread never reads the environment.
TEST(CleanupPlatformTest, TrashIsFixedWhenThePlatformIsMade) {
  testing::TempFolder temp;
  const std::string item = temp.path() + "/Applications/Quorvel 2.app";
  testing::MakeFolders(item + "/Contents");
  const char* saved_home = std::getenv("HOME");
  const std::string home = saved_home != nullptr ? saved_home : "";
  const char* saved_data = std::getenv("XDG_DATA_HOME");
  const std::optional<std::string> data =
      saved_data ? std::optional<std::string>(saved_data) : std::nullopt;
  ::unsetenv("XDG_DATA_HOME");
  ::setenv("HOME", (temp.path() + "/first").c_str(), 1);
  LinuxPlatform platform;
  ::setenv("HOME", (temp.path() + "/second").c_str(), 1);
  const auto moved = platform.MoveToTrash(item);
  ::setenv("HOME", home.c_str(), 1);
  if (data) ::setenv("XDG_DATA_HOME", data->c_str(), 1);
  ASSERT_TRUE(moved) << moved.error().code;
  EXPECT_EQ(moved.value(), temp.path() + "/first/.local/share/Trash/files/Quorvel 2.app");
  EXPECT_FALSE(testing::Exists(temp.path() + "/second"));
}

}  // namespace
}  // namespace qv::cleanup
