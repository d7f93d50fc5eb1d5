// Test-only helpers that build real application bundles and folders on disk.
#pragma once

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>

namespace qv::cleanup::testing {

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it on destruction.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

struct BundleLayout {
  std::string version = "1.2.9";
  std::string identifier = "app.quorvel.test";
  std::string executable_key = "Quorvel";
  std::optional<std::string> team = std::string("TEAM1");  // nullopt: sealed without a team
  bool sealed = true;
  bool binary_plist = false;
  std::string executable_source;  // file copied as the executable; empty: a small script
};

// Creates folder/name as a bundle described by layout (creating folder when missing) and returns
// its path.
std::string MakeBundle(const std::string& folder, const std::string& name,
                       const BundleLayout& layout = {});

void MakeFolders(const std::string& path);
bool WriteFile(const std::string& path, const std::string& bytes);
std::optional<std::string> ReadWholeFile(const std::string& path);
bool Exists(const std::string& path);  // lstat succeeds

// Every item under root (relative path -> "type:inode:size:mtime"), symbolic links not followed.
std::map<std::string, std::string> Snapshot(const std::string& root);

// Starts program with one argument, returning its pid (-1 on failure). The caller must stop it.
pid_t Spawn(const std::string& program, const std::string& argument);
void StopProcess(pid_t pid);

// Percent-decoding of a trash record's Path value, written independently of the encoder.
std::string PercentDecode(const std::string& text);

}  // namespace qv::cleanup::testing
