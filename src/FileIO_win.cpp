// Windows side of the file I/O layer: CreateFileW handles with ReadFile/WriteFile at
// OVERLAPPED offsets, DeleteFileW, and MoveFileExW for atomic replacement. UTF-8 paths are
// converted with MultiByteToWideChar; invalid UTF-8 fails the operation.
#include <windows.h>

#include <atomic>
#include <climits>
#include <string>
#include <vector>

#include "FileIO.h"

namespace CorvaneSDK {
namespace {

using detail::ShouldFailFileOp;

// Upper bound of one ReadFile/WriteFile call (a DWORD count); larger transfers loop.
constexpr size_t kMaxChunk = size_t{1} << 30;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool ToWide(const std::string& utf8, std::wstring& out) {
  out.clear();
  if (utf8.empty() || utf8.size() > static_cast<size_t>(INT_MAX)) return false;
  if (utf8.find('\0') != std::string::npos) return false;
  const int size = static_cast<int>(utf8.size());
  int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
  if (n <= 0) return false;
  out.resize(static_cast<size_t>(n));
  return ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, &out[0], n) == n;
}

HANDLE AsHandle(intptr_t value) {
  return reinterpret_cast<HANDLE>(value);
}

OVERLAPPED At(uint64_t offset) {
  OVERLAPPED ov = {};
  ov.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return ov;
}

bool WriteAllAt(HANDLE h, uint64_t offset, const char* p, size_t len) {
  while (len > 0) {
    DWORD chunk = static_cast<DWORD>(len < kMaxChunk ? len : kMaxChunk);
    OVERLAPPED ov = At(offset);
    DWORD written = 0;
    if (!::WriteFile(h, p, chunk, &written, &ov) || written == 0) return false;
    p += written;
    len -= written;
    offset += written;
  }
  return true;
}

// A disk file that is neither a folder nor a reparse point (link, junction).
bool IsPlainDiskFile(HANDLE h) {
  if (::GetFileType(h) != FILE_TYPE_DISK) return false;
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(h, &info)) return false;
  return (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

}  // namespace

std::unique_ptr<RandomAccessFile> RandomAccessFile::Open(const std::string& utf8Path, bool create,
                                                         bool* created) {
  if (created != nullptr) *created = false;
  if (ShouldFailFileOp(FileOp::Open, utf8Path)) return nullptr;
  std::wstring wide;
  if (!ToWide(utf8Path, wide)) return nullptr;
  const DWORD access = GENERIC_READ | GENERIC_WRITE;
  // A reparse point (link, junction) is opened itself, not followed, and then refused below
  // with folders, devices and pipes.
  const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
  HANDLE h = ::CreateFileW(wide.c_str(), access, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr);
  if (h == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_FILE_NOT_FOUND && create) {
    h = ::CreateFileW(wide.c_str(), access, kShareAll, nullptr, CREATE_NEW, flags, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      if (created != nullptr) *created = true;
    } else if (::GetLastError() == ERROR_FILE_EXISTS) {
      // Another process created it between the two calls: open what is there.
      h = ::CreateFileW(wide.c_str(), access, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr);
    }
  }
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  if (!IsPlainDiskFile(h)) {
    ::CloseHandle(h);
    return nullptr;
  }
  return std::unique_ptr<RandomAccessFile>(
      new RandomAccessFile(utf8Path, reinterpret_cast<intptr_t>(h)));
}

RandomAccessFile::~RandomAccessFile() {
  Unmap();
  if (handle_ != kInvalidHandle) ::CloseHandle(AsHandle(handle_));
}

bool RandomAccessFile::ReadAt(uint64_t offset, void* buf, size_t len) {
  if (handle_ == kInvalidHandle) return false;
  if (ShouldFailFileOp(FileOp::Read, path_)) return false;
  char* p = static_cast<char*>(buf);
  while (len > 0) {
    DWORD chunk = static_cast<DWORD>(len < kMaxChunk ? len : kMaxChunk);
    OVERLAPPED ov = At(offset);
    DWORD got = 0;
    // ERROR_HANDLE_EOF and a zero count both mean a short read.
    if (!::ReadFile(AsHandle(handle_), p, chunk, &got, &ov) || got == 0) return false;
    p += got;
    len -= got;
    offset += got;
  }
  return true;
}

bool RandomAccessFile::WriteAt(uint64_t offset, const void* buf, size_t len) {
  if (handle_ == kInvalidHandle) return false;
  if (ShouldFailFileOp(FileOp::Write, path_)) return false;
  return WriteAllAt(AsHandle(handle_), offset, static_cast<const char*>(buf), len);
}

int64_t RandomAccessFile::Size() const {
  if (handle_ == kInvalidHandle) return -1;
  if (ShouldFailFileOp(FileOp::Read, path_)) return -1;
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(AsHandle(handle_), &size)) return -1;
  return static_cast<int64_t>(size.QuadPart);
}

bool RandomAccessFile::Flush() {
  if (handle_ == kInvalidHandle) return false;
  return !ShouldFailFileOp(FileOp::Flush, path_);
}

bool RandomAccessFile::Sync() {
  if (handle_ == kInvalidHandle) return false;
  if (ShouldFailFileOp(FileOp::Flush, path_)) return false;
  return ::FlushFileBuffers(AsHandle(handle_)) != 0;
}

bool RandomAccessFile::Reserve(uint64_t size) {
  if (handle_ == kInvalidHandle) return false;
  if (ShouldFailFileOp(FileOp::Write, path_)) return false;
  LARGE_INTEGER current;
  if (!::GetFileSizeEx(AsHandle(handle_), &current)) return false;
  if (static_cast<uint64_t>(current.QuadPart) >= size) return true;
  // NTFS allocates the clusters of a file that is not sparse when its end moves, so a full
  // disk fails here.
  FILE_END_OF_FILE_INFO end = {};
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
  return ::SetFileInformationByHandle(AsHandle(handle_), FileEndOfFileInfo, &end, sizeof(end)) != 0;
}

char* RandomAccessFile::Map(uint64_t size) {
  // Positioned writes only (see kMapsFiles).
  (void)size;
  Unmap();
  return nullptr;
}

void RandomAccessFile::Unmap() {
  if (map_ == nullptr) return;
  char* p = map_;
  HANDLE section = AsHandle(section_);
  {
    std::lock_guard<std::mutex> lock(mapMutex_);
    map_ = nullptr;
    mapSize_ = 0;
    section_ = 0;
  }
  ::UnmapViewOfFile(p);
  ::CloseHandle(section);
}

bool RandomAccessFile::PrepareGrowth(uint64_t from, uint64_t to) {
  // Only for mapped files (see kMapsFiles); the end of file moves at the growth itself.
  (void)from;
  (void)to;
  return false;
}

bool RandomAccessFile::Prefault(uint64_t from, uint64_t to) {
  (void)from;
  (void)to;
  return false;
}

bool RandomAccessFile::SyncData() {
  if (ShouldFailFileOp(FileOp::Sync, path_)) return false;
  HANDLE dup = nullptr;
  bool ok = true;
  {
    std::lock_guard<std::mutex> lock(mapMutex_);
    if (handle_ == kInvalidHandle) return false;
    // Pages dirtied through the view reach the file's cache only when the view is flushed.
    if (map_ != nullptr && !::FlushViewOfFile(map_, 0)) ok = false;
    if (!::DuplicateHandle(::GetCurrentProcess(), AsHandle(handle_), ::GetCurrentProcess(), &dup,
                           0, FALSE, DUPLICATE_SAME_ACCESS)) {
      return false;
    }
  }
  if (!::FlushFileBuffers(dup)) ok = false;
  ::CloseHandle(dup);
  return ok;
}

bool RandomAccessFile::Close() {
  if (handle_ == kInvalidHandle) return false;
  Unmap();
  bool ok = !ShouldFailFileOp(FileOp::Flush, path_);
  HANDLE h;
  {
    std::lock_guard<std::mutex> lock(mapMutex_);
    h = AsHandle(handle_);
    handle_ = kInvalidHandle;
  }
  if (!::CloseHandle(h)) ok = false;
  return ok;
}

bool FileExists(const std::string& utf8Path) {
  std::wstring wide;
  if (!ToWide(utf8Path, wide)) return false;
  return ::GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES;
}

PathKind GetPathKind(const std::string& utf8Path) {
  std::wstring wide;
  if (!ToWide(utf8Path, wide)) return PathKind::Unknown;
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? PathKind::Missing
                                                                          : PathKind::Unknown;
  }
  const DWORD odd =
      FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
  return (attributes & odd) != 0 ? PathKind::Other : PathKind::Regular;
}

bool RenameFile(const std::string& from, const std::string& to) {
  if (ShouldFailFileOp(FileOp::Rename, from)) return false;
  std::wstring wideFrom, wideTo;
  if (!ToWide(from, wideFrom) || !ToWide(to, wideTo)) return false;
  return ::MoveFileExW(wideFrom.c_str(), wideTo.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

std::vector<std::string> ListFolder(const std::string& utf8Folder) {
  std::vector<std::string> names;
  std::wstring pattern;
  if (!ToWide(utf8Folder + "\\*", pattern)) return names;
  WIN32_FIND_DATAW data;
  HANDLE find = ::FindFirstFileW(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, data.cFileName, -1, nullptr, 0, nullptr,
                                        nullptr);
    if (n <= 1) continue;
    std::string name(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, data.cFileName, -1, &name[0], n, nullptr, nullptr);
    name.resize(static_cast<size_t>(n - 1));
    if (name != "." && name != "..") names.push_back(name);
  } while (::FindNextFileW(find, &data));
  ::FindClose(find);
  return names;
}

int64_t RegularFileSize(const std::string& utf8Path) {
  std::wstring wide;
  if (!ToWide(utf8Path, wide)) return -1;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) return -1;
  if (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) return -1;
  return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool RenameNoReplace(const std::string& fromUtf8, const std::string& toUtf8) {
  if (ShouldFailFileOp(FileOp::Rename, toUtf8)) return false;
  std::wstring from, to;
  if (!ToWide(fromUtf8, from) || !ToWide(toUtf8, to)) return false;
  return ::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
}

bool RemoveFile(const std::string& utf8Path) {
  if (ShouldFailFileOp(FileOp::Remove, utf8Path)) return false;
  std::wstring wide;
  if (!ToWide(utf8Path, wide)) return false;
  if (::DeleteFileW(wide.c_str())) return true;
  DWORD error = ::GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool ReadWholeFile(const std::string& utf8Path, std::string& out, size_t maxBytes) {
  out.clear();
  if (ShouldFailFileOp(FileOp::Open, utf8Path)) return false;
  std::wstring wide;
  if (!ToWide(utf8Path, wide)) return false;
  HANDLE h = ::CreateFileW(wide.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = false;
  LARGE_INTEGER size;
  if (IsPlainDiskFile(h) && ::GetFileSizeEx(h, &size) && size.QuadPart >= 0 &&
      static_cast<uint64_t>(size.QuadPart) <= maxBytes &&
      !ShouldFailFileOp(FileOp::Read, utf8Path)) {
    // The size is a hint only: the bound is enforced on the bytes actually read.
    out.reserve(static_cast<size_t>(size.QuadPart));
    char buf[16384];
    ok = true;
    for (;;) {
      DWORD got = 0;
      if (!::ReadFile(h, buf, sizeof(buf), &got, nullptr)) {
        ok = false;
        break;
      }
      if (got == 0) break;
      if (got > maxBytes - out.size()) {
        ok = false;
        break;
      }
      out.append(buf, got);
    }
  }
  ::CloseHandle(h);
  if (!ok) out.clear();
  return ok;
}

bool WriteFileAtomically(const std::string& utf8Path, const std::string& bytes) {
  static std::atomic<unsigned> counter{0};
  const std::string temp = utf8Path + ".tmp-" + std::to_string(::GetCurrentProcessId()) + "-" +
                           std::to_string(counter.fetch_add(1));
  std::wstring wideTarget, wideTemp;
  if (!ToWide(utf8Path, wideTarget) || !ToWide(temp, wideTemp)) return false;
  if (ShouldFailFileOp(FileOp::Open, temp)) return false;
  HANDLE h = ::CreateFileW(wideTemp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = !ShouldFailFileOp(FileOp::Write, temp) && WriteAllAt(h, 0, bytes.data(), bytes.size());
  ok = ok && !ShouldFailFileOp(FileOp::Flush, temp) && ::FlushFileBuffers(h) != 0;
  if (!::CloseHandle(h)) ok = false;
  ok = ok && !ShouldFailFileOp(FileOp::Rename, utf8Path) &&
       ::MoveFileExW(wideTemp.c_str(), wideTarget.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  if (!ok) {
    ::DeleteFileW(wideTemp.c_str());
    return false;
  }
  return true;
}

std::string LastFileErrorText() {
  if (detail::LastFileOpInjected()) return "injected fault";
  const DWORD error = GetLastError();
  char text[512] = {};
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           error, 0, text, sizeof(text), nullptr);
  while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == ' ')) text[--n] = '\0';
  return std::string(n > 0 ? text : "unknown error") + " (error " + std::to_string(error) + ")";
}

char NativeSeparator() {
  return '\\';
}

}  // namespace CorvaneSDK
