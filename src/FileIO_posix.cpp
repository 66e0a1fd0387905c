// POSIX side of the file I/O layer: open/pread/pwrite on file descriptors, unlink, and
// write-temp-then-rename for atomic replacement. UTF-8 paths are passed to the OS as bytes.
#include <dirent.h>
#include <errno.h>

#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>

#include "FileIO.h"

namespace CorvaneSDK {
namespace {

using detail::ShouldFailFileOp;

// Upper bound of one read/write call; larger transfers loop.
constexpr size_t kMaxChunk = size_t{1} << 30;

int OpenRetrying(const char* path, int flags, mode_t mode) {
  int fd;
  do {
    fd = ::open(path, flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

bool WriteAll(int fd, uint64_t offset, const char* p, size_t len) {
  while (len > 0) {
    size_t chunk = len < kMaxChunk ? len : kMaxChunk;
    ssize_t n = ::pwrite(fd, p, chunk, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    p += n;
    len -= static_cast<size_t>(n);
    offset += static_cast<uint64_t>(n);
  }
  return true;
}

bool SyncFd(int fd) {
  int rc;
  do {
    rc = ::fsync(fd);
  } while (rc != 0 && errno == EINTR);
  return rc == 0;
}

std::string FolderOf(const std::string& path) {
  size_t cut = path.find_last_of('/');
  if (cut == std::string::npos) return ".";
  if (cut == 0) return "/";
  return path.substr(0, cut);
}

}  // namespace

std::unique_ptr<RandomAccessFile> RandomAccessFile::Open(const std::string& utf8Path, bool create,
                                                         bool* created) {
  if (created != nullptr) *created = false;
  if (ShouldFailFileOp(FileOp::Open, utf8Path)) return nullptr;
  // O_NONBLOCK: opening a planted FIFO must not hang; it is refused below. It has no
  // effect on the regular files that pass.
  const int flags = O_RDWR | O_NOFOLLOW | O_NONBLOCK;
  int fd = OpenRetrying(utf8Path.c_str(), flags, 0);
  if (fd < 0 && errno == ENOENT && create) {
    fd = OpenRetrying(utf8Path.c_str(), flags | O_CREAT | O_EXCL, 0600);
    if (fd >= 0) {
      if (created != nullptr) *created = true;
    } else if (errno == EEXIST) {
      // Another process created it between the two calls: open what is there.
      fd = OpenRetrying(utf8Path.c_str(), flags, 0);
    }
  }
  if (fd < 0) return nullptr;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<RandomAccessFile>(new RandomAccessFile(utf8Path, fd));
}

RandomAccessFile::~RandomAccessFile() {
  Unmap();
  if (handle_ != kInvalidHandle) ::close(static_cast<int>(handle_));
}

bool RandomAccessFile::ReadAt(uint64_t offset, void* buf, size_t len) {
  if (handle_ == kInvalidHandle) return false;
  if (ShouldFailFileOp(FileOp::Read, path_)) return false;
  char* p = static_cast<char*>(buf);
  while (len > 0) {
    size_t chunk = len < kMaxChunk ? len : kMaxChunk;
    ssize_t n = ::pread(static_cast<int>(handle_), p, chunk, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;  // end of file before len bytes
    p += n;
    len -= static_cast<size_t>(n);
    offset += static_cast<uint64_t>(n);
  }
  return true;
}

bool RandomAccessFile::WriteAt(uint64_t offset, const void* buf, size_t len) {
  if (handle_ == kInvalidHandle) return false;
  if (ShouldFailFileOp(FileOp::Write, path_)) return false;
  return WriteAll(static_cast<int>(handle_), offset, static_cast<const char*>(buf), len);
}

int64_t RandomAccessFile::Size() const {
  if (handle_ == kInvalidHandle) return -1;
  if (ShouldFailFileOp(FileOp::Read, path_)) return -1;
  struct stat st;
  if (::fstat(static_cast<int>(handle_), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

bool RandomAccessFile::Flush() {
  if (handle_ == kInvalidHandle) return false;
  return !ShouldFailFileOp(FileOp::Flush, path_);
}

bool RandomAccessFile::Sync() {
  if (handle_ == kInvalidHandle) return false;
  if (ShouldFailFileOp(FileOp::Flush, path_)) return false;
  return SyncFd(static_cast<int>(handle_));
}

bool RandomAccessFile::Reserve(uint64_t size) {
  if (handle_ == kInvalidHandle) return false;
  if (ShouldFailFileOp(FileOp::Write, path_)) return false;
#ifdef __linux__
  int rc;
  do {
    rc = ::posix_fallocate(static_cast<int>(handle_), 0, static_cast<off_t>(size));
  } while (rc == EINTR);
  errno = rc;  // posix_fallocate returns its error instead of setting errno
  return rc == 0;
#else
  // Without posix_fallocate the file is only extended; Map is not offered there.
  struct stat st;
  if (::fstat(static_cast<int>(handle_), &st) != 0) return false;
  if (static_cast<uint64_t>(st.st_size) >= size) return true;
  const char zero = 0;
  return WriteAll(static_cast<int>(handle_), size - 1, &zero, 1);
#endif
}

char* RandomAccessFile::Map(uint64_t size) {
  Unmap();
#ifndef __linux__
  // Only Linux promises that fdatasync writes back the pages of a shared mapping.
  (void)size;
  return nullptr;
#else
  if (handle_ == kInvalidHandle || size == 0) return nullptr;
  void* p = ::mmap(nullptr, static_cast<size_t>(size), PROT_READ | PROT_WRITE, MAP_SHARED,
                   static_cast<int>(handle_), 0);
  if (p == MAP_FAILED) return nullptr;
  std::lock_guard<std::mutex> lock(mapMutex_);
  map_ = static_cast<char*>(p);
  mapSize_ = size;
  return map_;
#endif
}

void RandomAccessFile::Unmap() {
  if (map_ == nullptr) return;
  char* p = map_;
  const uint64_t size = mapSize_;
  {
    std::lock_guard<std::mutex> lock(mapMutex_);
    map_ = nullptr;
    mapSize_ = 0;
  }
  ::munmap(p, static_cast<size_t>(size));
}

intptr_t RandomAccessFile::DuplicateForWorker() const {
  std::lock_guard<std::mutex> lock(mapMutex_);
  if (handle_ == kInvalidHandle) return -1;
  return ::fcntl(static_cast<int>(handle_), F_DUPFD_CLOEXEC, 0);
}

bool RandomAccessFile::PrepareGrowth(uint64_t from, uint64_t to) {
#ifndef __linux__
  (void)from;
  (void)to;
  return false;
#else
  if (to <= from) return true;
  if (ShouldFailFileOp(FileOp::Write, path_)) return false;
  const int fd = static_cast<int>(DuplicateForWorker());
  if (fd < 0) return false;
  // fallocate, not posix_fallocate: the latter's fallback writes bytes, which could race
  // with the owner's stores.
  int rc;
  do {
    rc = ::fallocate(fd, 0, static_cast<off_t>(from), static_cast<off_t>(to - from));
  } while (rc != 0 && errno == EINTR);
  const int error = errno;
  ::close(fd);
  if (rc != 0) {
    errno = error;
    return false;
  }
  // Pages beyond the first 256 KiB are left to later preparations, close to the adds
  // that use them: a large growth would otherwise hold that much page cache at once.
  constexpr uint64_t kMaxPrefault = 256 * 1024;
  Prefault(from, std::min(to, from + kMaxPrefault));
  return true;
#endif
}

bool RandomAccessFile::Prefault(uint64_t from, uint64_t to) {
#ifndef __linux__
  (void)from;
  (void)to;
  return false;
#else
#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23  // Linux 5.14; older kernels refuse it with EINVAL
#endif
  // A page at a time: each call holds the process's memory-map lock while it faults, and a
  // host thread growing its heap (mprotect, mmap) waits for the whole call. An owner
  // unmapping meanwhile also waits for one page at most.
  constexpr uint64_t kSlice = 4096;
  for (uint64_t at = from & ~uint64_t{4095}; at < to;) {
    const uint64_t len = std::min(kSlice, to - at);
    std::lock_guard<std::mutex> lock(mapMutex_);
    if (map_ == nullptr || handle_ == kInvalidHandle || at + len > mapSize_) return false;
    // A page beyond the end of the file fails with EFAULT rather than a signal.
    if (::madvise(map_ + at, static_cast<size_t>(len), MADV_POPULATE_WRITE) != 0) return false;
    at += len;
  }
  return true;
#endif
}

bool RandomAccessFile::SyncData() {
  if (ShouldFailFileOp(FileOp::Sync, path_)) return false;
  const int fd = static_cast<int>(DuplicateForWorker());
  if (fd < 0) return false;
  // On Linux the shared mapping is the page cache, so fdatasync also writes back the pages
  // dirtied through it.
  int rc;
  do {
#ifdef __linux__
    rc = ::fdatasync(fd);
#else
    rc = ::fsync(fd);
#endif
  } while (rc != 0 && errno == EINTR);
  const int error = errno;
  ::close(fd);
  errno = error;
  return rc == 0;
}

bool RandomAccessFile::Close() {
  if (handle_ == kInvalidHandle) return false;
  Unmap();
  bool ok = !ShouldFailFileOp(FileOp::Flush, path_);
  int fd;
  {
    std::lock_guard<std::mutex> lock(mapMutex_);
    fd = static_cast<int>(handle_);
    handle_ = kInvalidHandle;
  }
  // close() is never retried: on Linux the descriptor is gone even after EINTR.
  if (::close(fd) != 0) ok = false;
  return ok;
}

bool FileExists(const std::string& utf8Path) {
  struct stat st;
  return ::stat(utf8Path.c_str(), &st) == 0;
}

PathKind GetPathKind(const std::string& utf8Path) {
  struct stat st;
  if (::lstat(utf8Path.c_str(), &st) != 0) {
    return errno == ENOENT || errno == ENOTDIR ? PathKind::Missing : PathKind::Unknown;
  }
  return S_ISREG(st.st_mode) ? PathKind::Regular : PathKind::Other;
}

bool RenameFile(const std::string& from, const std::string& to) {
  if (ShouldFailFileOp(FileOp::Rename, from)) return false;
  return ::rename(from.c_str(), to.c_str()) == 0;
}

std::vector<std::string> ListFolder(const std::string& utf8Folder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(utf8Folder.c_str());
  if (dir == nullptr) return names;
  while (struct dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  return names;
}

int64_t RegularFileSize(const std::string& utf8Path) {
  struct stat st;
  if (::lstat(utf8Path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return static_cast<int64_t>(st.st_size);
}

bool RenameNoReplace(const std::string& fromUtf8, const std::string& toUtf8) {
  if (ShouldFailFileOp(FileOp::Rename, toUtf8)) return false;
  // link() refuses an existing target atomically; a file system without hard links falls
  // back to a checked rename.
  if (::link(fromUtf8.c_str(), toUtf8.c_str()) == 0) {
    ::unlink(fromUtf8.c_str());
    return true;
  }
  if (errno == EEXIST || errno == ENOENT) return false;
  struct stat st;
  if (::lstat(toUtf8.c_str(), &st) == 0) return false;
  return ::rename(fromUtf8.c_str(), toUtf8.c_str()) == 0;
}

bool RemoveFile(const std::string& utf8Path) {
  if (ShouldFailFileOp(FileOp::Remove, utf8Path)) return false;
  if (::unlink(utf8Path.c_str()) == 0) return true;
  return errno == ENOENT;
}

bool ReadWholeFile(const std::string& utf8Path, std::string& out, size_t maxBytes) {
  out.clear();
  if (ShouldFailFileOp(FileOp::Open, utf8Path)) return false;
  int fd = OpenRetrying(utf8Path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK, 0);
  if (fd < 0) return false;
  bool ok = false;
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
      static_cast<uint64_t>(st.st_size) <= maxBytes && !ShouldFailFileOp(FileOp::Read, utf8Path)) {
    // The size is a hint only: the file may change while it is read, so the bound is
    // enforced on the bytes actually read.
    out.reserve(static_cast<size_t>(st.st_size));
    char buf[16384];
    ok = true;
    for (;;) {
      ssize_t n = ::read(fd, buf, sizeof(buf));
      if (n < 0) {
        if (errno == EINTR) continue;
        ok = false;
        break;
      }
      if (n == 0) break;
      if (static_cast<size_t>(n) > maxBytes - out.size()) {
        ok = false;
        break;
      }
      out.append(buf, static_cast<size_t>(n));
    }
  }
  ::close(fd);
  if (!ok) out.clear();
  return ok;
}

bool WriteFileAtomically(const std::string& utf8Path, const std::string& bytes) {
  static std::atomic<unsigned> counter{0};
  const std::string temp = utf8Path + ".tmp-" + std::to_string(static_cast<long>(::getpid())) +
                           "-" + std::to_string(counter.fetch_add(1));
  if (ShouldFailFileOp(FileOp::Open, temp)) return false;
  int fd = OpenRetrying(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_EXCL, 0600);
  if (fd < 0) return false;
  bool ok = !ShouldFailFileOp(FileOp::Write, temp) && WriteAll(fd, 0, bytes.data(), bytes.size());
  ok = ok && !ShouldFailFileOp(FileOp::Flush, temp) && SyncFd(fd);
  if (::close(fd) != 0) ok = false;
  ok = ok && !ShouldFailFileOp(FileOp::Rename, utf8Path) &&
       ::rename(temp.c_str(), utf8Path.c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  // Make the rename itself durable; a failure here does not undo the replacement.
  int dir = OpenRetrying(FolderOf(utf8Path).c_str(), O_RDONLY | O_DIRECTORY, 0);
  if (dir >= 0) {
    SyncFd(dir);
    ::close(dir);
  }
  return true;
}

std::string LastFileErrorText() {
  if (detail::LastFileOpInjected()) return "injected fault";
  const int error = errno;
  return std::string(std::strerror(error)) + " (errno " + std::to_string(error) + ")";
}

char NativeSeparator() {
  return '/';
}

}  // namespace CorvaneSDK
