// POSIX files: temp file + fsync + rename for every write, regular files only for reads.
#include "FileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

namespace CorvaneSDK {
namespace Mobile {

namespace fs = std::filesystem;

namespace {
void setError(std::string* error, const std::string& text) {
  if (error) *error = text;
}
std::string errnoText(const char* what, const std::string& path, int code) {
  return std::string(what) + " " + path + ": " + std::strerror(code);
}
}  // namespace

std::string joinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

PosixFileSystem::PosixFileSystem(std::string root) : root_(std::move(root)) {}

std::string PosixFileSystem::defaultRoot() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return home;
  std::error_code ec;
  auto tmp = fs::temp_directory_path(ec);
  return ec ? std::string("/tmp") : tmp.string();
}

std::string PosixFileSystem::applicationSupportDirectory() {
  return joinPath(root_, "Library/Application Support");
}

std::string PosixFileSystem::cachesDirectory() { return joinPath(root_, "Library/Caches"); }

bool PosixFileSystem::createDirectories(const std::string& path, std::string* error) {
  std::error_code ec;
  fs::create_directories(path, ec);
  if (ec || !fs::is_directory(path, ec)) {
    setError(error, "cannot create folder " + path + ": " + (ec ? ec.message() : "not a folder"));
    return false;
  }
  return true;
}

bool PosixFileSystem::writeAtomically(const std::string& path, const std::string& bytes,
                                      std::string* error) {
  std::string pattern = path + ".tmp-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  int fd = ::mkstemp(name.data());
  if (fd < 0) {
    setError(error, errnoText("cannot create", name.data(), errno));
    return false;
  }
  ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  size_t written = 0;
  int code = 0;
  while (written < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      code = errno;
      break;
    }
    written += static_cast<size_t>(n);
  }
  if (code == 0 && ::fsync(fd) != 0) code = errno;
  if (::close(fd) != 0 && code == 0) code = errno;
  if (code == 0 && ::rename(name.data(), path.c_str()) != 0) code = errno;
  if (code != 0) {
    ::unlink(name.data());
    setError(error, errnoText("cannot write", path, code));
    return false;
  }
  return true;
}

FileSystem::Read PosixFileSystem::read(const std::string& path, std::string& out, std::string* error) {
  out.clear();
  // Non-blocking open: a FIFO planted under the name must not hang the reader.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    const int code = errno;
    setError(error, errnoText("cannot open", path, code));
    return code == ENOENT ? Read::Missing : Read::Failed;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    setError(error, path + " is not a regular file");
    return Read::Failed;
  }
  if (static_cast<uint64_t>(st.st_size) > kMaxReadBytes) {
    ::close(fd);
    setError(error, path + " is larger than " + std::to_string(kMaxReadBytes) + " bytes");
    return Read::Failed;
  }
  out.resize(static_cast<size_t>(st.st_size));
  size_t got = 0;
  while (got < out.size()) {
    ssize_t n = ::read(fd, &out[got], out.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int code = errno;
      ::close(fd);
      out.clear();
      setError(error, errnoText("cannot read", path, code));
      return Read::Failed;
    }
    if (n == 0) break;  // shrank meanwhile
    got += static_cast<size_t>(n);
  }
  out.resize(got);
  ::close(fd);
  return Read::Ok;
}

bool PosixFileSystem::exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

bool PosixFileSystem::removeFile(const std::string& path, std::string* error) {
  if (::unlink(path.c_str()) != 0) {
    setError(error, errnoText("cannot remove", path, errno));
    return false;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  excluded_.erase(path);
  return true;
}

bool PosixFileSystem::removeDirectory(const std::string& path, std::string* error) {
  std::error_code ec;
  fs::remove_all(path, ec);
  if (ec) {
    setError(error, "cannot remove folder " + path + ": " + ec.message());
    return false;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string prefix = path.back() == '/' ? path : path + "/";
  for (auto it = excluded_.begin(); it != excluded_.end();) {
    it = (*it == path || it->rfind(prefix, 0) == 0) ? excluded_.erase(it) : std::next(it);
  }
  return true;
}

bool PosixFileSystem::setExcludedFromBackup(const std::string& path, bool excluded, std::string* error) {
  if (!exists(path)) {
    setError(error, errnoText("cannot mark", path, ENOENT));
    return false;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (excluded) {
    excluded_.insert(path);
  } else {
    excluded_.erase(path);
  }
  return true;
}

bool PosixFileSystem::isExcludedFromBackup(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  return excluded_.count(path) != 0;
}

std::optional<int64_t> PosixFileSystem::creationTimeMs(const std::string& path) {
#ifdef STATX_BTIME
  struct statx sx {};
  if (::statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME | STATX_MTIME, &sx) == 0) {
    if (sx.stx_mask & STATX_BTIME) {
      return static_cast<int64_t>(sx.stx_btime.tv_sec) * 1000 + sx.stx_btime.tv_nsec / 1000000;
    }
    return static_cast<int64_t>(sx.stx_mtime.tv_sec) * 1000 + sx.stx_mtime.tv_nsec / 1000000;
  }
  return std::nullopt;
#else
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
#endif
}

void FaultFileSystem::setInjector(Injector injector) {
  std::lock_guard<std::mutex> lock(mutex_);
  injector_ = std::move(injector);
}

bool FaultFileSystem::fails(const char* op, const std::string& path, std::string* error) {
  Injector injector;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    injector = injector_;
  }
  if (injector && injector(op, path)) {
    setError(error, std::string("injected fault: ") + op + " " + path);
    return true;
  }
  return false;
}

bool FaultFileSystem::createDirectories(const std::string& path, std::string* error) {
  return !fails("createDirectories", path, error) && inner_->createDirectories(path, error);
}
bool FaultFileSystem::writeAtomically(const std::string& path, const std::string& bytes, std::string* error) {
  return !fails("write", path, error) && inner_->writeAtomically(path, bytes, error);
}
FileSystem::Read FaultFileSystem::read(const std::string& path, std::string& out, std::string* error) {
  if (fails("read", path, error)) return Read::Failed;
  return inner_->read(path, out, error);
}
bool FaultFileSystem::removeFile(const std::string& path, std::string* error) {
  return !fails("remove", path, error) && inner_->removeFile(path, error);
}
bool FaultFileSystem::removeDirectory(const std::string& path, std::string* error) {
  return !fails("removeDirectory", path, error) && inner_->removeDirectory(path, error);
}
bool FaultFileSystem::setExcludedFromBackup(const std::string& path, bool excluded, std::string* error) {
  return !fails("exclude", path, error) && inner_->setExcludedFromBackup(path, excluded, error);
}

}  // namespace Mobile
}  // namespace CorvaneSDK
