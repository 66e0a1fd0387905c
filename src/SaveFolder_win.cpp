// Windows side of the save folder: the folder check (the per-user profile's ACLs already
// keep other users out) and folder listing.
#include <windows.h>

#include <climits>

#include "SaveFolder.h"
#include "Utils.h"

namespace CorvaneSDK {
namespace detail {

bool IsSafeFolder(const std::string& path, std::string* why) {
  const std::u16string wide = Utils::Utf8ToUtf16(path);
  const DWORD attributes = ::GetFileAttributesW(reinterpret_cast<const wchar_t*>(wide.c_str()));
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    if (why != nullptr) *why = "not a folder";
    return false;
  }
  return true;
}

void MakePrivate(const std::string&) {}

std::vector<std::string> ListFolder(const std::string& path) {
  std::vector<std::string> names;
  const std::u16string pattern = Utils::Utf8ToUtf16(path + "\\*");
  WIN32_FIND_DATAW data;
  HANDLE find = ::FindFirstFileW(reinterpret_cast<const wchar_t*>(pattern.c_str()), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    const std::u16string name(reinterpret_cast<const char16_t*>(data.cFileName));
    const std::string utf8 = Utils::Utf16ToUtf8(name);
    if (utf8 != "." && utf8 != "..") names.push_back(utf8);
  } while (::FindNextFileW(find, &data));
  ::FindClose(find);
  return names;
}

long CurrentProcessId() { return static_cast<long>(::GetCurrentProcessId()); }

}  // namespace detail
}  // namespace CorvaneSDK
