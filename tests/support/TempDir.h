// Test support: a fresh folder of one's own under the system's temporary folder (mkdtemp, so no
// two processes or threads ever share one), removed with everything in it when the object goes
// away unless Keep was called. Not copyable or movable; usable from one thread.
#pragma once

#include <filesystem>
#include <string>

namespace testsupport {

class TempDir {
 public:
  // Raises std::runtime_error when the folder cannot be made. The prefix names the folder
  // (PREFIX.XXXXXX), so a folder left behind says which test made it.
  explicit TempDir(const std::string& prefix = "pdi07310-test");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // The path of a file in the folder.
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  // Leaves the folder in place when the object goes away (to read a failing test's files).
  void Keep() { keep_ = true; }

 private:
  std::filesystem::path path_;
  bool keep_ = false;
};

}  // namespace testsupport
