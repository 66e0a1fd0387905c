// Windows file locks: the file is opened with no sharing, so every other open of it fails
// until the handle is closed (also when the process dies).
#include <windows.h>

#include <climits>

#include "FileLock.h"

namespace CorvaneSDK {
namespace {

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty() || utf8.size() > static_cast<size_t>(INT_MAX)) return std::wstring();
  const int size = static_cast<int>(utf8.size());
  int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring out(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, &out[0], n);
  return out;
}

}  // namespace

std::unique_ptr<FileLock> FileLock::TryAcquire(const std::string& utf8Path, bool* busy) {
  if (busy != nullptr) *busy = false;
  const std::wstring wide = Wide(utf8Path);
  if (wide.empty()) return nullptr;
  HANDLE h = ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_OPEN_REPARSE_POINT,
                           nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (busy != nullptr) *busy = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
    return nullptr;
  }
  if (::GetFileType(h) != FILE_TYPE_DISK) {
    ::CloseHandle(h);
    return nullptr;
  }
  return std::unique_ptr<FileLock>(new FileLock(utf8Path, reinterpret_cast<intptr_t>(h)));
}

void FileLock::Release() {
  if (handle_ == -1) return;
  ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = -1;
}

void FileLock::RemoveAndRelease() {
  if (handle_ == -1) return;
  // Marks the file for deletion; it goes when the (only) handle closes.
  FILE_DISPOSITION_INFO info = {};
  info.DeleteFile = TRUE;
  ::SetFileInformationByHandle(reinterpret_cast<HANDLE>(handle_), FileDispositionInfo, &info,
                               sizeof(info));
  Release();
}

}  // namespace CorvaneSDK
