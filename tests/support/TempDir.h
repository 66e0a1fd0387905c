// A fresh folder under the system temp folder, removed with everything in it at the end.
#pragma once

#include <string>

namespace CorvaneSDK {
namespace Test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() joined with `name` by the native separator.
  std::string File(const std::string& name) const;

 private:
  std::string path_;
};

std::string ReadFileBytes(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);

}  // namespace Test
}  // namespace CorvaneSDK
