// POSIX side of the save folder: ownership and permission checks, folder listing.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "SaveFolder.h"

namespace CorvaneSDK {
namespace detail {

bool IsSafeFolder(const std::string& path, std::string* why) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    if (why != nullptr) *why = "not a folder";
    return false;
  }
  // Whoever else owns or may write the folder can plant a queue or a user id in it, or
  // read the ones we write.
  if (st.st_uid != ::geteuid()) {
    if (why != nullptr) *why = "owned by another user (uid " + std::to_string(st.st_uid) + ")";
    return false;
  }
  if ((st.st_mode & S_IWOTH) != 0) {
    if (why != nullptr) *why = "writable by every user";
    return false;
  }
  return true;
}

void MakePrivate(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 077) != 0) {
    ::chmod(path.c_str(), (st.st_mode & 07700) | 0700);
  }
}

std::vector<std::string> ListFolder(const std::string& path) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return names;
  while (struct dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  return names;
}

long CurrentProcessId() { return static_cast<long>(::getpid()); }

}  // namespace detail
}  // namespace CorvaneSDK
