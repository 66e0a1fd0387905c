// Portable half of the platform services: the pure mappings, UTF conversion, the network
// query hook and the recursive folder creation over the platform's single-folder call.
// Thread-safe: the only state is the network hook, guarded by its own mutex.
#include "Utils.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "Env.h"
#include "Logger.h"

namespace CorvaneSDK {
namespace Utils {
namespace {

bool IsAsciiLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsAsciiDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsHexDigit(char c) {
  return IsAsciiDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
char ToLowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string LowerAscii(std::string text) {
  for (char& c : text) c = ToLowerAscii(c);
  return text;
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

constexpr uint32_t kReplacement = 0xFFFD;

bool CreateFolderRecursive(const std::string& path, int* lastError) {
  int error = detail::MakeOneFolder(path);
  *lastError = error;
  if (error == 0) return true;
  if (error != ENOENT) return false;
  size_t cut = path.find_last_of('/');
  if (cut == std::string::npos) cut = path.find_last_of('\\');
  if (cut == std::string::npos || cut == 0) return false;
  // Strictly shorter each time, so the recursion ends.
  const std::string parent = path.substr(0, cut);
  if (!CreateFolderRecursive(parent, lastError) && !detail::IsFolder(parent)) return false;
  *lastError = detail::MakeOneFolder(path);
  return *lastError == 0;
}

}  // namespace

NetworkAddress GetNetworkAddress(Env& env) {
  try {
    return env.QueryNetworkAddress();
  } catch (...) {
    CORVANE_LOG_ERROR("Network address query failed");
    return NetworkAddress();
  }
}


AppInfo GetAppInfo() {
  return AppInfo();
}

bool CreateFolder(const std::string& path) {
  if (path.empty()) return false;
  try {
    int error = 0;
    if (CreateFolderRecursive(path, &error) || detail::IsFolder(path)) return true;
    CORVANE_LOG_ERROR("Cannot create folder " << path << ": " << std::strerror(error) << " (errno "
                                              << error << ")");
    return false;
  } catch (...) {
    return false;
  }
}

std::string OsNameFromVersion(unsigned major, unsigned minor, unsigned build, bool isClient) {
  if (major == 5) {
    if (minor == 0) return "Windows 2000";
    if (minor == 1) return "Windows XP";
    if (minor == 2) return "Windows Server 2003/Windows Server 2003 R2";
  } else if (major == 6) {
    if (minor == 0) return isClient ? "Windows Vista" : "Windows Server 2008";
    if (minor == 1) return isClient ? "Windows 7" : "Windows Server 2008 R2";
    if (minor == 2) return isClient ? "Windows 8" : "Windows Server 2012";
    if (minor == 3) return isClient ? "Windows 8.1" : "Windows Server 2012 R2";
  } else if (major == 10 && minor == 0) {
    // Windows 11 kept the 10.0 version; only the build tells it apart, servers included.
    if (build >= 22000) return "Windows 11";
    if (isClient) return "Windows 10";
    if (build >= 20348) return "Windows Server 2022";
    if (build >= 17763) return "Windows Server 2019";
    return "Windows Server 2016";
  }
  return "Windows";
}

std::string AbiName(int windowsArchitecture) {
  switch (windowsArchitecture) {
    case 0:
      return "x86";
    case 1:
      return "mips";
    case 2:
      return "alpha";
    case 3:
      return "ppc";
    case 5:
      return "arm";
    case 6:
      return "ia64";
    case 9:
      return "x64";
    case 10:
      return "ia64/32";
    case 12:
      return "arm64";
    default:
      return "unknown";
  }
}

std::string AbiFromMachine(const std::string& machine) {
  const std::string m = LowerAscii(machine);
  if (m == "x86_64" || m == "amd64" || m == "x64") return "x64";
  if (m == "aarch64" || m == "arm64") return "arm64";
  if (m == "i386" || m == "i486" || m == "i586" || m == "i686" || m == "x86") return "x86";
  if (m.compare(0, 3, "arm") == 0) return "arm";
  return "unknown";
}

std::string MacText(const unsigned char* bytes, size_t length) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  if (bytes == nullptr || length == 0) return out;
  out.reserve(length * 3);
  for (size_t i = 0; i < length; ++i) {
    if (i != 0) out += ':';
    out += kHex[bytes[i] >> 4];
    out += kHex[bytes[i] & 0x0F];
  }
  return out;
}

bool IsLinkLocalV6(const std::string& text) {
  // Text form drops leading zeros, so "fe8::1" is 0x0fe8, not link-local: demand 4 digits.
  if (text.size() < 5 || text[4] != ':') return false;
  for (size_t i = 0; i < 4; ++i) {
    if (!IsHexDigit(text[i])) return false;
  }
  if (ToLowerAscii(text[0]) != 'f' || ToLowerAscii(text[1]) != 'e') return false;
  const char third = ToLowerAscii(text[2]);
  return third == '8' || third == '9' || third == 'a' || third == 'b';
}

bool IsTeredo(const std::string& text) {
  if (text.compare(0, 5, "2001:") != 0) return false;
  // "2001::..." compresses a zero second group as well.
  if (text.size() > 5 && text[5] == ':') return true;
  size_t i = 5;
  while (i < text.size() && text[i] == '0') ++i;
  return i > 5 && i < text.size() && text[i] == ':';
}

std::string NormaliseTimeZoneName(const std::string& name) {
  if (name == "Coordinated Universal Time" || name == "Etc/UTC" || name == "Universal" ||
      name == "Etc/Universal") {
    return "UTC";
  }
  return name;
}

LocaleParts ParsePosixLocale(const std::string& value) {
  LocaleParts parts;
  const std::string name = value.substr(0, value.find_first_of(".@"));
  if (name.empty() || name == "C" || name == "POSIX") return parts;
  const size_t underscore = name.find('_');
  const std::string language = name.substr(0, underscore);
  const std::string country =
      underscore == std::string::npos ? std::string() : name.substr(underscore + 1);
  if (language.size() < 2 || language.size() > 8) return parts;
  for (char c : language) {
    if (!IsAsciiLetter(c)) return parts;
  }
  if (underscore != std::string::npos) {
    // ISO 3166 alpha-2 or a UN M.49 area code such as "419".
    if (country.size() < 2 || country.size() > 3) return parts;
    for (char c : country) {
      if (!IsAsciiLetter(c) && !IsAsciiDigit(c)) return parts;
    }
  }
  parts.locale = name;
  parts.language = language;
  parts.country = LowerAscii(country);
  return parts;
}

NetworkAddress ChooseNetworkAddress(const std::vector<AddressCandidate>& candidates) {
  const AddressCandidate* v6 = nullptr;
  for (const AddressCandidate& c : candidates) {
    if (c.ip.empty()) continue;
    if (!c.isV6) return NetworkAddress{c.ip, c.mac};
    if (v6 == nullptr && !IsLinkLocalV6(c.ip) && !IsTeredo(c.ip)) v6 = &c;
  }
  if (v6 != nullptr) return NetworkAddress{v6->ip, v6->mac};
  return NetworkAddress();
}

std::string OsNameFromOsRelease(const std::string& text) {
  std::string pretty;
  std::string name;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
      line.pop_back();
    }
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq);
    if (key != "PRETTY_NAME" && key != "NAME") continue;
    std::string raw = line.substr(eq + 1);
    std::string value;
    if (raw.size() >= 2 && (raw.front() == '"' || raw.front() == '\'') &&
        raw.back() == raw.front()) {
      const char quote = raw.front();
      raw = raw.substr(1, raw.size() - 2);
      for (size_t i = 0; i < raw.size(); ++i) {
        // Shell-style escapes exist only inside double quotes.
        if (quote == '"' && raw[i] == '\\' && i + 1 < raw.size()) ++i;
        value += raw[i];
      }
    } else {
      value = raw;
    }
    if (key == "PRETTY_NAME") {
      pretty = value;
    } else {
      name = value;
    }
  }
  return pretty.empty() ? name : pretty;
}

std::string KernelVersionFromRelease(const std::string& release) {
  size_t i = 0;
  while (i < release.size() && IsAsciiDigit(release[i])) ++i;
  if (i == 0 || i >= release.size() || release[i] != '.') return std::string();
  size_t j = i + 1;
  while (j < release.size() && IsAsciiDigit(release[j])) ++j;
  if (j == i + 1) return std::string();
  return release.substr(0, j);
}

std::string ZoneFromZoneinfoPath(const std::string& path) {
  static const std::string kMarker = "zoneinfo/";
  const size_t at = path.rfind(kMarker);
  if (at == std::string::npos) return std::string();
  std::string zone = path.substr(at + kMarker.size());
  // The "posix/" and "right/" trees hold the same zones with other leap-second rules.
  for (const char* tree : {"posix/", "right/"}) {
    const std::string prefix(tree);
    if (zone.compare(0, prefix.size(), prefix) == 0) zone = zone.substr(prefix.size());
  }
  return zone;
}

std::string ChassisTypeName(int code) {
  switch (code) {
    case 3:
    case 4:
    case 5:
    case 6:
    case 7:
    case 13:
    case 15:
    case 16:
    case 24:
    case 35:
    case 36:
      return "desktop";
    case 8:
    case 9:
    case 10:
    case 14:
    case 31:
    case 32:
      return "laptop";
    case 30:
      return "tablet";
    case 17:
    case 23:
    case 25:
    case 28:
    case 29:
      return "server";
    default:
      return std::string();
  }
}

bool ParseDisplayMode(const std::string& text, int& width, int& height) {
  constexpr long kMax = 1000000;
  long w = 0;
  long h = 0;
  size_t i = 0;
  while (i < text.size() && IsAsciiDigit(text[i]) && w <= kMax) w = w * 10 + (text[i++] - '0');
  if (i == 0 || i >= text.size() || text[i] != 'x') return false;
  const size_t heightStart = ++i;
  while (i < text.size() && IsAsciiDigit(text[i]) && h <= kMax) h = h * 10 + (text[i++] - '0');
  if (i == heightStart || w <= 0 || h <= 0 || w > kMax || h > kMax) return false;
  if (i < text.size() && IsAsciiDigit(text[i])) return false;
  width = static_cast<int>(w);
  height = static_cast<int>(h);
  return true;
}

std::string Utf16ToUtf8(const std::u16string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const uint32_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      AppendUtf8(out, kReplacement);
    } else {
      AppendUtf8(out, unit);
    }
  }
  return out;
}

std::u16string Utf8ToUtf16(const std::string& text) {
  std::u16string out;
  out.reserve(text.size());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      out += static_cast<char16_t>(lead);
      ++i;
      continue;
    }
    size_t length = 0;
    uint32_t cp = 0;
    // The second byte's range rules out overlong forms, surrogates and values above U+10FFFF.
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      cp = lead & 0x0F;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      cp = lead & 0x07;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      out += static_cast<char16_t>(kReplacement);
      ++i;
      continue;
    }
    size_t k = 1;
    for (; k < length && i + k < n; ++k) {
      const unsigned char c = static_cast<unsigned char>(text[i + k]);
      const unsigned char lo = k == 1 ? low : 0x80;
      const unsigned char hi = k == 1 ? high : 0xBF;
      if (c < lo || c > hi) break;
      cp = (cp << 6) | (c & 0x3F);
    }
    if (k < length) {
      // One replacement for the longest valid prefix, as Unicode recommends.
      out += static_cast<char16_t>(kReplacement);
      i += k;
      continue;
    }
    i += length;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

bool IsValidUriScheme(const std::string& scheme) {
  if (scheme.empty() || !IsAsciiLetter(scheme[0])) return false;
  for (char c : scheme) {
    if (!IsAsciiLetter(c) && !IsAsciiDigit(c) && c != '+' && c != '-' && c != '.') return false;
  }
  return true;
}

}  // namespace Utils
}  // namespace CorvaneSDK
