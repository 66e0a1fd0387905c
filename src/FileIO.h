// File I/O layer: unbuffered positioned file access, whole-file helpers and atomic replace,
// each asking the environment's fault injector (Env.h) first, for tests of disk faults. Paths are UTF-8 everywhere;
// FileIO_posix.cpp and FileIO_win.cpp implement the OS side, FileIO.cpp the shared part.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace CorvaneSDK {

// Operations the fault injector can fail.
enum class FileOp { Open, Read, Write, Flush, Remove, Rename, Sync };

// Env::ShouldFailFileOp is consulted before every operation of this header with the operation
// and the UTF-8 path it acts on; true makes that operation fail as if the OS had refused it.
// It may be called from any thread, never under a lock of this layer. Mapping: RandomAccessFile::Open -> Open; ReadAt, Size -> Read; WriteAt ->
// Write; Reserve -> Write; Flush, Sync, Close -> Flush; SyncData -> Sync; RemoveFile -> Remove; ReadWholeFile -> Open then Read;
// WriteFileAtomically -> Open, Write, Flush on the temp file (path = target + ".tmp-..."),
// then Rename with the target path. FileExists is a query and is never failed.

namespace detail {
// True when the default environment's injector wants `op` on `path` to fail.
bool ShouldFailFileOp(FileOp op, const std::string& path);
// Whether the last operation of this thread was failed by the injector.
bool LastFileOpInjected();
}  // namespace detail

// The OS's text for the error of the last failed operation of this layer on this thread
// (errno, or GetLastError on Windows), for log lines; read it right after the failure.
std::string LastFileErrorText();

// A file opened for reading and writing at explicit offsets, without a user-space buffer:
// every successful WriteAt has reached the OS when it returns (POSIX pwrite, Windows
// WriteFile with an OVERLAPPED offset), so it survives the process being killed; it does
// not survive a power loss unless Sync() was called. One thread at a time, except SyncData.
//
// Mapping: Map shares the file's pages with the process, so that stores into MappedData()
// reach the file as writes do (they survive the process being killed). The caller keeps
// every byte it touches inside the file and the mapping, and reserves the blocks first
// (Reserve), so that a full disk is an error of Reserve and never a fault on a store. This
// relies on no other process shortening the file (the save folder's lock).
class RandomAccessFile {
 public:
  // Opens `utf8Path` read-write, never blocking on a FIFO or device and never following a
  // symbolic link; anything but a regular file fails. With `create`, a missing file is
  // created empty (owner-only on POSIX) and
  // *created (may be null) is set to true; otherwise a missing file fails. Returns null on
  // failure. Never truncates an existing file, never blocks, and opens only a regular file:
  // a folder, FIFO, device or symbolic link (reparse point) at the path fails.
  static std::unique_ptr<RandomAccessFile> Open(const std::string& utf8Path, bool create,
                                                bool* created);
  ~RandomAccessFile();  // closes, ignoring errors
  RandomAccessFile(const RandomAccessFile&) = delete;
  RandomAccessFile& operator=(const RandomAccessFile&) = delete;

  // Reads exactly `len` bytes at `offset`; false on error or a short read (end of file).
  bool ReadAt(uint64_t offset, void* buf, size_t len);
  // Writes all `len` bytes at `offset`, extending the file (with zeros) when needed.
  bool WriteAt(uint64_t offset, const void* buf, size_t len);
  // Current size in bytes, or -1 on error.
  int64_t Size() const;
  // Hands buffered data to the OS. Writes are unbuffered, so this only reports an injected
  // fault or a closed file; no fsync (see Sync).
  bool Flush();
  // Forces the data to the storage device (fsync / FlushFileBuffers).
  bool Sync();
  // Allocates disk blocks for the first `size` bytes, growing the file to `size` when it is
  // shorter (posix_fallocate; on Windows the end of file is moved there). False when the
  // disk cannot hold them; the content already there is unchanged.
  bool Reserve(uint64_t size);
  // Maps the first `size` bytes shared and read-write, replacing an earlier mapping. The
  // range may reach beyond the end of the file, as room to grow into without a new mapping;
  // only bytes inside the file may be touched. Null on failure, with no mapping left.
  char* Map(uint64_t size);
  // Whether Map can succeed here. Only Linux: there fdatasync writes back a shared mapping's
  // pages, and a killed process leaves its stores in the page cache. On Windows the queue
  // lost stored events to kills under test with a mapped view, so it keeps positioned writes.
  static constexpr bool kMapsFiles =
#if defined(__linux__)
      true;
#else
      false;
#endif
  void Unmap();
  char* MappedData() const { return map_; }
  uint64_t MappedSize() const { return mapSize_; }
  // Growth prepared ahead, from another thread while the owner writes, maps or closes (on a
  // duplicate of the handle, like SyncData): allocates the blocks of [from, to), growing the
  // file to `to`, without ever writing a byte (no emulation where the file system cannot
  // allocate); then, where the mapping covers it, brings the range's first 256 KiB in
  // writable, so that the owner's first stores there take no page fault (best effort). False
  // when the blocks could not be allocated; the file's content is unchanged either way.
  // Linux only; false elsewhere.
  bool PrepareGrowth(uint64_t from, uint64_t to);
  // Brings the mapped pages of [from, to) in writable without changing a byte, from any
  // thread like PrepareGrowth, so that the owner's next stores there take no page fault (a
  // data sync leaves every page it wrote back read-only until its next store). The range
  // must lie inside the file. Best effort: false when it could not (not mapped, an old
  // kernel, a range beyond the file). Linux only.
  bool Prefault(uint64_t from, uint64_t to);
  // Forces written and mapped data to the storage device (fdatasync; FlushViewOfFile then
  // FlushFileBuffers). May run on another thread while the owner writes, maps or closes;
  // the device flush runs on a duplicate of the handle, outside every lock. False when the
  // file is closed or the flush failed.
  bool SyncData();
  // Closes the handle; later calls fail. Returns false when the OS reported an error (the
  // handle is released all the same).
  bool Close();
  bool IsOpen() const { return handle_ != kInvalidHandle; }
  const std::string& Path() const { return path_; }

 private:
  // The OS handle as an integer: a file descriptor on POSIX, a HANDLE on Windows (whose
  // INVALID_HANDLE_VALUE is -1 too).
  static constexpr intptr_t kInvalidHandle = -1;
  RandomAccessFile(std::string path, intptr_t handle) : path_(std::move(path)), handle_(handle) {}
  // POSIX: a duplicate of the handle for work on another thread while the owner may close
  // it (close-on-exec), or -1.
  intptr_t DuplicateForWorker() const;

  std::string path_;
  intptr_t handle_ = kInvalidHandle;
  char* map_ = nullptr;
  uint64_t mapSize_ = 0;
  intptr_t section_ = 0;  // the file mapping object on Windows
  // Guards handle_, map_ and section_ against SyncData on another thread; the owner changes
  // them only under it and reads them without it.
  mutable std::mutex mapMutex_;
};

// True when something exists at `utf8Path`.
bool FileExists(const std::string& utf8Path);
// What sits at `utf8Path`, without following a final symbolic link (or reparse point).
enum class PathKind { Missing, Regular, Other, Unknown };
PathKind GetPathKind(const std::string& utf8Path);
// Renames `from` to `to`, replacing a file at `to`; the injector sees Rename with `from`.
// Renames a link or a folder itself, never what it points to.
bool RenameFile(const std::string& from, const std::string& to);
// Names (not paths) of the entries of `folder`, without "." and ".."; empty on error.
std::vector<std::string> ListFolder(const std::string& utf8Folder);
// Size of the regular file at `utf8Path`; -1 when it is missing, a link (never followed), a
// folder or anything else but a regular file.
int64_t RegularFileSize(const std::string& utf8Path);
// Moves a file to a name that must not exist yet; false (nothing moved) when it does.
bool RenameNoReplace(const std::string& fromUtf8, const std::string& toUtf8);
// Deletes the file. True when it is gone afterwards, including when it was already missing.
bool RemoveFile(const std::string& utf8Path);
// Reads the whole file into `out`. False (and `out` cleared) when the file is missing,
// unreadable, not a regular file (a FIFO is refused without blocking; a symbolic link is not
// followed), or larger than `maxBytes`.
bool ReadWholeFile(const std::string& utf8Path, std::string& out, size_t maxBytes);
// Replaces the file's content atomically: writes a temp file (owner-only on POSIX) in the
// same folder, syncs it,
// renames it over the target (MoveFileExW with MOVEFILE_REPLACE_EXISTING on Windows). On
// failure the target keeps its previous content and the temp file is removed.
bool WriteFileAtomically(const std::string& utf8Path, const std::string& bytes);
// '\\' on Windows, '/' elsewhere.
char NativeSeparator();
// folder + NativeSeparator() + name, as given (no normalisation).
std::string JoinPath(const std::string& folder, const std::string& name);

}  // namespace CorvaneSDK
