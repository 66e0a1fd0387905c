// An exclusive advisory lock on a file, held by this process until it is released: flock on
// POSIX, an open without sharing on Windows. Used to give one save folder one owner and to
// mark which per-process queue files are still in use.
// Thread contract: one thread at a time per object; the lock itself is per process.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace CorvaneSDK {

class FileLock {
 public:
  // Opens `utf8Path` (creating it, owner-only, when missing) and locks it without waiting.
  // Null when another holder has it, or when it is not a regular file or cannot be opened.
  // On POSIX a file replaced or removed while we waited for it is not taken. *busy (may be
  // null) tells whether the failure was another holder.
  static std::unique_ptr<FileLock> TryAcquire(const std::string& utf8Path, bool* busy = nullptr);
  // Tries again every few milliseconds of real time while another holder has it, for at most
  // `timeoutMs`; any other failure returns at once.
  static std::unique_ptr<FileLock> Acquire(const std::string& utf8Path, int timeoutMs);
  ~FileLock();  // releases, keeping the file
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Deletes the lock file while still holding it, then releases.
  void RemoveAndRelease();
  const std::string& Path() const { return path_; }

 private:
  FileLock(std::string path, intptr_t handle) : path_(std::move(path)), handle_(handle) {}
  void Release();

  std::string path_;
  intptr_t handle_;  // a descriptor on POSIX, a HANDLE on Windows
};

}  // namespace CorvaneSDK
