// POSIX file locks: flock on a descriptor of a regular file. flock (unlike fcntl locks) is
// held by the open file description, so a second lock attempt in the same process fails as
// it does in another process.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "FileLock.h"

namespace CorvaneSDK {

std::unique_ptr<FileLock> FileLock::TryAcquire(const std::string& utf8Path, bool* busy) {
  if (busy != nullptr) *busy = false;
  int fd;
  do {
    fd = ::open(utf8Path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return nullptr;
  struct stat held;
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0 && errno == EWOULDBLOCK && busy != nullptr) *busy = true;
  if (rc != 0 || ::fstat(fd, &held) != 0 || !S_ISREG(held.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  // A holder that removed the file before releasing it leaves us a lock on a dead inode.
  struct stat named;
  if (::lstat(utf8Path.c_str(), &named) != 0 || named.st_ino != held.st_ino ||
      named.st_dev != held.st_dev) {
    if (busy != nullptr) *busy = true;
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<FileLock>(new FileLock(utf8Path, fd));
}

void FileLock::Release() {
  if (handle_ < 0) return;
  ::close(static_cast<int>(handle_));  // drops the lock
  handle_ = -1;
}

void FileLock::RemoveAndRelease() {
  if (handle_ < 0) return;
  ::unlink(path_.c_str());
  Release();
}

}  // namespace CorvaneSDK
