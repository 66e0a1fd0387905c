// Windows side of the file I/O layer: CreateFileW handles with ReadFile/WriteFile at
// OVERLAPPED offsets, DeleteFileW, and MoveFileExW for atomic replacement. UTF-8 paths are
// converted with MultiByteToWideChar; invalid UTF-8 fails the operation.
#include <windows.h>

#include <atomic>
#include <climits>
#include <string>

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

}  // namespace

std::unique_ptr<RandomAccessFile> RandomAccessFile::Open(const std::string& utf8Path, bool create,
                                                         bool* created) {
  if (created != nullptr) *created = false;
  if (ShouldFailFileOp(FileOp::Open, utf8Path)) return nullptr;
  std::wstring wide;
  if (!ToWide(utf8Path, wide)) return nullptr;
  const DWORD access = GENERIC_READ | GENERIC_WRITE;
  HANDLE h = ::CreateFileW(wide.c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_FILE_NOT_FOUND && create) {
    h = ::CreateFileW(wide.c_str(), access, kShareAll, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                      nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      if (created != nullptr) *created = true;
    } else if (::GetLastError() == ERROR_FILE_EXISTS) {
      // Another process created it between the two calls: open what is there.
      h = ::CreateFileW(wide.c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    }
  }
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  if (::GetFileType(h) != FILE_TYPE_DISK) {
    ::CloseHandle(h);
    return nullptr;
  }
  return std::unique_ptr<RandomAccessFile>(
      new RandomAccessFile(utf8Path, reinterpret_cast<intptr_t>(h)));
}

RandomAccessFile::~RandomAccessFile() {
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

bool RandomAccessFile::Close() {
  if (handle_ == kInvalidHandle) return false;
  bool ok = !ShouldFailFileOp(FileOp::Flush, path_);
  if (!::CloseHandle(AsHandle(handle_))) ok = false;
  handle_ = kInvalidHandle;
  return ok;
}

bool FileExists(const std::string& utf8Path) {
  std::wstring wide;
  if (!ToWide(utf8Path, wide)) return false;
  return ::GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES;
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
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = false;
  LARGE_INTEGER size;
  if (::GetFileType(h) == FILE_TYPE_DISK && ::GetFileSizeEx(h, &size) && size.QuadPart >= 0 &&
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
