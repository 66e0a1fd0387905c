// Platform services: the pure mappings fed with synthetic values, and the real queries of the
// machine running the tests (Linux natively, Windows under Wine), checked for properties
// that hold on any such machine.
#include "Utils.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

#include "LogCapture.h"
#include "Random.h"
#include "TempDir.h"
#include "TestEnv.h"

namespace CorvaneSDK {
namespace {

using Test::FileExists;
using Test::LogCapture;
using Test::TempDir;
using Test::WriteFileBytes;

bool IsWindows() {
  return Utils::PlatformName() == "Windows";
}

// Sets or removes one environment variable for the lifetime of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    Put(value);
  }
  ~ScopedEnv() { Put(had_ ? old_.c_str() : nullptr); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  void Put(const char* value) {
    // putenv is the one call both C libraries have. glibc keeps the pointer, so every entry
    // stays alive (and reachable) for the whole run. "NAME=" removes on Windows; a bare name
    // removes on glibc.
    static auto* entries = new std::deque<std::string>();
    std::string entry = name_;
    if (value != nullptr) {
      entry += "=";
      entry += value;
    } else if (IsWindows()) {
      entry += "=";
    }
    entries->push_back(entry);
    putenv(&entries->back()[0]);
  }

  std::string name_;
  bool had_ = false;
  std::string old_;
};

bool IsMacText(const std::string& text) {
  if (text.size() < 2 || (text.size() + 1) % 3 != 0) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (i % 3 == 2) {
      if (c != ':') return false;
    } else if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
      return false;
    }
  }
  return true;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool IsDigits(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// "digits.digits"
bool IsMajorMinor(const std::string& text) {
  const size_t dot = text.find('.');
  return dot != std::string::npos && IsDigits(text.substr(0, dot)) &&
         IsDigits(text.substr(dot + 1));
}

// ---- Pure mappings -------------------------------------------------------------------------

TEST(Utils, OsNameTable) {
  struct Row {
    unsigned major, minor, build;
    bool client;
    const char* name;
  };
  const Row rows[] = {
      {5, 0, 2195, true, "Windows 2000"},
      {5, 1, 2600, true, "Windows XP"},
      {5, 2, 3790, false, "Windows Server 2003/Windows Server 2003 R2"},
      {6, 0, 6002, true, "Windows Vista"},
      {6, 0, 6002, false, "Windows Server 2008"},
      {6, 1, 7601, true, "Windows 7"},
      {6, 1, 7601, false, "Windows Server 2008 R2"},
      {6, 2, 9200, true, "Windows 8"},
      {6, 2, 9200, false, "Windows Server 2012"},
      {6, 3, 9600, true, "Windows 8.1"},
      {6, 3, 9600, false, "Windows Server 2012 R2"},
      {10, 0, 22000, true, "Windows 11"},
      {10, 0, 22000, false, "Windows 11"},
      {10, 0, 26100, false, "Windows 11"},
      {10, 0, 21999, true, "Windows 10"},
      {10, 0, 19045, true, "Windows 10"},
      {10, 0, 10240, true, "Windows 10"},
      {10, 0, 21999, false, "Windows Server 2022"},
      {10, 0, 20348, false, "Windows Server 2022"},
      {10, 0, 20347, false, "Windows Server 2019"},
      {10, 0, 17763, false, "Windows Server 2019"},
      {10, 0, 17762, false, "Windows Server 2016"},
      {10, 0, 14393, false, "Windows Server 2016"},
      {10, 1, 22000, true, "Windows"},
      {6, 4, 9841, true, "Windows"},
      {5, 3, 0, true, "Windows"},
      {4, 0, 1381, true, "Windows"},
      {11, 0, 30000, true, "Windows"},
      {0, 0, 0, false, "Windows"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::to_string(r.major) + "." + std::to_string(r.minor) + " build " +
                 std::to_string(r.build) + (r.client ? " client" : " server"));
    EXPECT_EQ(Utils::OsNameFromVersion(r.major, r.minor, r.build, r.client), r.name);
  }
}

TEST(Utils, AbiTable) {
  const std::vector<std::pair<int, const char*>> rows = {
      {0, "x86"},      {1, "mips"},   {2, "alpha"},    {3, "ppc"},          {4, "unknown"},
      {5, "arm"},      {6, "ia64"},   {7, "unknown"},  {9, "x64"},          {10, "ia64/32"},
      {11, "unknown"}, {12, "arm64"}, {13, "unknown"}, {0xFFFF, "unknown"}, {-1, "unknown"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.first);
    EXPECT_EQ(Utils::AbiName(r.first), r.second);
  }
}

TEST(Utils, AbiFromUnameMachine) {
  const std::vector<std::pair<const char*, const char*>> rows = {
      {"x86_64", "x64"},      {"amd64", "x64"},       {"aarch64", "arm64"}, {"arm64", "arm64"},
      {"i386", "x86"},        {"i686", "x86"},        {"armv7l", "arm"},    {"armv6l", "arm"},
      {"riscv64", "unknown"}, {"ppc64le", "unknown"}, {"", "unknown"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.first);
    EXPECT_EQ(Utils::AbiFromMachine(r.first), r.second);
  }
}

TEST(Utils, MacTextHoldsEveryByte) {
  const unsigned char six[] = {0x00, 0x1A, 0x2b, 0xC3, 0x4d, 0xff};
  EXPECT_EQ(Utils::MacText(six, 6), "00:1a:2b:c3:4d:ff");
  const unsigned char eight[] = {0x02, 0x00, 0x5e, 0x10, 0x00, 0x00, 0x00, 0x01};
  const std::string text = Utils::MacText(eight, 8);
  EXPECT_EQ(text, "02:00:5e:10:00:00:00:01");
  EXPECT_EQ(text.size(), 23u);
  EXPECT_EQ(Utils::MacText(six, 1), "00");
  EXPECT_EQ(Utils::MacText(six, 0), "");
  EXPECT_EQ(Utils::MacText(nullptr, 6), "");
}

TEST(Utils, LinkLocalV6) {
  const std::vector<std::pair<const char*, bool>> rows = {
      {"fe80::1", true},   {"fe80::fc:ff:fe00:1%eth0", true},
      {"FE80::1", true},   {"fe9a::1", true},
      {"fea0::1", true},   {"febf:ffff::1", true},
      {"fec0::1", false},  {"fe7f::1", false},
      {"fd00::2", false},  {"2001:db8::1", false},
      {"::1", false},      {"", false},
      {"fe80", false},    // no group separator: not an address
      {"fe8::1", false},  // the group is 0x0fe8
      {"fe80a::1", false}, {"192.168.1.10", false},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.first);
    EXPECT_EQ(Utils::IsLinkLocalV6(r.first), r.second);
  }
}

TEST(Utils, Teredo) {
  const std::vector<std::pair<const char*, bool>> rows = {
      {"2001:0:4136:e378:8000:63bf:3fff:fdd2", true},
      {"2001:0000:4136:e378:8000:63bf:3fff:fdd2", true},
      {"2001::1", true},  // the compressed zero group is the same prefix
      {"2001:db8::1", false},
      {"2001:1:2::3", false},
      {"2002:0:1::1", false},
      {"12001:0:1::1", false},
      {"2001:0", false},
      {"2001:", false},
      {"fe80::1", false},
      {"", false},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.first);
    EXPECT_EQ(Utils::IsTeredo(r.first), r.second);
  }
}

TEST(Utils, ChooseNetworkAddressPrefersFirstIpv4) {
  using C = Utils::AddressCandidate;
  Utils::NetworkAddress chosen = Utils::ChooseNetworkAddress({
      C{"2a00:1450:4001:80b::200e", true, "aa:aa:aa:aa:aa:aa"},
      C{"192.168.1.20", false, "bb:bb:bb:bb:bb:bb"},
      C{"10.0.0.5", false, "cc:cc:cc:cc:cc:cc"},
  });
  EXPECT_EQ(chosen.ip, "192.168.1.20");
  EXPECT_EQ(chosen.mac, "bb:bb:bb:bb:bb:bb");
}

TEST(Utils, ChooseNetworkAddressFallsBackToGlobalIpv6) {
  using C = Utils::AddressCandidate;
  Utils::NetworkAddress chosen = Utils::ChooseNetworkAddress({
      C{"fe80::1", true, "aa:aa:aa:aa:aa:aa"},
      C{"2001:0:4136:e378:8000:63bf:3fff:fdd2", true, "bb:bb:bb:bb:bb:bb"},
      C{"2a00:1450::1", true, "cc:cc:cc:cc:cc:cc"},
      C{"2a00:1450::2", true, "dd:dd:dd:dd:dd:dd"},
  });
  EXPECT_EQ(chosen.ip, "2a00:1450::1");
  EXPECT_EQ(chosen.mac, "cc:cc:cc:cc:cc:cc");
}

TEST(Utils, ChooseNetworkAddressWithOnlyLinkLocalIsEmpty) {
  using C = Utils::AddressCandidate;
  Utils::NetworkAddress chosen =
      Utils::ChooseNetworkAddress({C{"fe80::fc:ff:fe00:1", true, "02:fc:00:00:00:01"}});
  EXPECT_EQ(chosen.ip, "");
  EXPECT_EQ(chosen.mac, "");
  chosen = Utils::ChooseNetworkAddress({});
  EXPECT_EQ(chosen.ip, "");
  EXPECT_EQ(chosen.mac, "");
}

TEST(Utils, NetworkQueryHookReplacesAndRestores) {
  const Utils::NetworkAddress real = Utils::GetNetworkAddress(Env::Default());
  ::CorvaneSDK::Test::ProcessEnv().SetNetworkQuery([] { return Utils::NetworkAddress{"203.0.113.7", "01:02"}; });
  const Utils::NetworkAddress fake = Utils::GetNetworkAddress(Env::Default());
  ::CorvaneSDK::Test::ProcessEnv().SetNetworkQuery(nullptr);
  EXPECT_EQ(fake.ip, "203.0.113.7");
  EXPECT_EQ(fake.mac, "01:02");
  const Utils::NetworkAddress again = Utils::GetNetworkAddress(Env::Default());
  EXPECT_EQ(again.ip, real.ip);
  EXPECT_EQ(again.mac, real.mac);
}

TEST(Utils, ThrowingNetworkHookGivesEmptyAddress) {
  LogCapture log;
  ::CorvaneSDK::Test::ProcessEnv().SetNetworkQuery([]() -> Utils::NetworkAddress { throw 42; });
  const Utils::NetworkAddress address = Utils::GetNetworkAddress(Env::Default());
  ::CorvaneSDK::Test::ProcessEnv().SetNetworkQuery(nullptr);
  EXPECT_EQ(address.ip, "");
  EXPECT_TRUE(log.Contains("Network address query failed"));
}

TEST(Utils, TimeZoneNames) {
  const std::vector<std::pair<const char*, const char*>> rows = {
      {"Coordinated Universal Time", "UTC"},
      {"Etc/UTC", "UTC"},
      {"Universal", "UTC"},
      {"Etc/Universal", "UTC"},
      {"UTC", "UTC"},
      {"W. Europe Standard Time", "W. Europe Standard Time"},
      {"Europe/Paris", "Europe/Paris"},
      {"coordinated universal time", "coordinated universal time"},
      {"", ""},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.first);
    EXPECT_EQ(Utils::NormaliseTimeZoneName(r.first), r.second);
  }
}

TEST(Utils, ZoneFromZoneinfoPath) {
  const std::vector<std::pair<const char*, const char*>> rows = {
      {"/usr/share/zoneinfo/Europe/Paris", "Europe/Paris"},
      {"../usr/share/zoneinfo/America/Argentina/Buenos_Aires", "America/Argentina/Buenos_Aires"},
      {"/usr/share/zoneinfo/Etc/UTC", "Etc/UTC"},
      {"/usr/share/zoneinfo/posix/Asia/Tokyo", "Asia/Tokyo"},
      {"/etc/localtime", ""},
      {"", ""},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.first);
    EXPECT_EQ(Utils::ZoneFromZoneinfoPath(r.first), r.second);
  }
}

TEST(Utils, PosixLocaleParsing) {
  struct Row {
    const char* value;
    const char* locale;
    const char* language;
    const char* country;
  };
  const Row rows[] = {
      {"en_US.UTF-8", "en_US", "en", "us"},
      {"de_AT", "de_AT", "de", "at"},
      {"pt_BR.utf8@euro", "pt_BR", "pt", "br"},
      {"sr_RS@latin", "sr_RS", "sr", "rs"},
      {"es_419.UTF-8", "es_419", "es", "419"},
      {"fil_PH", "fil_PH", "fil", "ph"},
      {"de", "de", "de", ""},
      {"C", "", "", ""},
      {"C.UTF-8", "", "", ""},
      {"POSIX", "", "", ""},
      {"", "", "", ""},
      {".UTF-8", "", "", ""},
      {"e_US", "", "", ""},
      {"en_", "", "", ""},
      {"en_USAA", "", "", ""},
      {"1n_US", "", "", ""},
      {"en_U$", "", "", ""},
      {"/usr/lib/locale/x", "", "", ""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.value);
    const Utils::LocaleParts parts = Utils::ParsePosixLocale(r.value);
    EXPECT_EQ(parts.locale, r.locale);
    EXPECT_EQ(parts.language, r.language);
    EXPECT_EQ(parts.country, r.country);
  }
}

TEST(Utils, OsNameFromOsRelease) {
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nNAME=\"Debian GNU/Linux\"\n",
       "Debian GNU/Linux 12 (bookworm)"},
      {"NAME=Fedora\nVERSION_ID=40\n", "Fedora"},
      {"NAME='Arch Linux'\r\nID=arch\r\n", "Arch Linux"},
      {"# comment\nNAME=\"Alpine\"\nPRETTY_NAME=\"\"\n", "Alpine"},
      {"PRETTY_NAME=\"Say \\\"hi\\\" \\\\ \\$HOME\"\n", "Say \"hi\" \\ $HOME"},
      {"PRETTY_NAME=\"unterminated\n", "\"unterminated"},
      {"ID=debian\nVERSION_ID=12\n", ""},
      {"", ""},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.first);
    EXPECT_EQ(Utils::OsNameFromOsRelease(r.first), r.second);
  }
}

TEST(Utils, KernelVersionFromRelease) {
  const std::vector<std::pair<const char*, const char*>> rows = {
      {"6.1.0-18-amd64", "6.1"},
      {"5.15.0", "5.15"},
      {"4.4", "4.4"},
      {"6.10-rc1", "6.10"},
      {"6", ""},
      {"6.", ""},
      {".1", ""},
      {"", ""},
      {"x6.1", ""},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.first);
    EXPECT_EQ(Utils::KernelVersionFromRelease(r.first), r.second);
  }
}

TEST(Utils, ChassisTypes) {
  const std::vector<std::pair<int, const char*>> rows = {
      {3, "desktop"}, {7, "desktop"}, {13, "desktop"}, {35, "desktop"}, {9, "laptop"},
      {10, "laptop"}, {31, "laptop"}, {30, "tablet"},  {17, "server"},  {23, "server"},
      {1, ""},        {2, ""},        {0, ""},         {-3, ""},        {999, ""},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.first);
    EXPECT_EQ(Utils::ChassisTypeName(r.first), r.second);
  }
}

TEST(Utils, DisplayModeParsing) {
  struct Row {
    const char* text;
    bool ok;
    int width, height;
  };
  const Row rows[] = {
      {"1920x1080", true, 1920, 1080},
      {"2560x1440i", true, 2560, 1440},
      {"800x600\n", true, 800, 600},
      {"x1080", false, 0, 0},
      {"1920x", false, 0, 0},
      {"1920*1080", false, 0, 0},
      {"0x0", false, 0, 0},
      {"99999999999x1", false, 0, 0},
      {"", false, 0, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    int width = -1;
    int height = -1;
    EXPECT_EQ(Utils::ParseDisplayMode(r.text, width, height), r.ok);
    if (r.ok) {
      EXPECT_EQ(width, r.width);
      EXPECT_EQ(height, r.height);
    } else {
      EXPECT_EQ(width, -1);  // untouched on failure
    }
  }
}

TEST(Utils, Utf16RoundTrip) {
  // ASCII, two-byte, three-byte and a supplementary character (a surrogate pair in UTF-16).
  const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";
  const std::u16string wide = Utils::Utf8ToUtf16(text);
  EXPECT_EQ(wide, (std::u16string{u'a', 0x00E9, 0x20AC, 0xD83D, 0xDE00, u'z'}));
  EXPECT_EQ(Utils::Utf16ToUtf8(wide), text);
  EXPECT_EQ(Utils::Utf8ToUtf16(""), u"");
  EXPECT_EQ(Utils::Utf16ToUtf8(u""), "");
  const std::string nul("a\0b", 3);
  EXPECT_EQ(Utils::Utf16ToUtf8(Utils::Utf8ToUtf16(nul)), nul);
}

TEST(Utils, InvalidUtf8BecomesReplacementCharacters) {
  const char16_t r = 0xFFFD;
  const std::vector<std::pair<std::string, std::u16string>> rows = {
      {"\xFF", {r}},
      {"a\200b", {u'a', r, u'b'}},
      {"\xC0\xAF", {r, r}},                // overlong "/"
      {"\xE0\x80\xAF", {r, r, r}},         // overlong three-byte form
      {"\xED\xA0\x80", {r, r, r}},         // an encoded surrogate
      {"\xF4\x90\x80\x80", {r, r, r, r}},  // above U+10FFFF
      {"\xE2\x82", {r}},                   // cut short at the end
      {"\xE2\x82x", {r, u'x'}},            // cut short in the middle
      {"\xF0\x9F\x98", {r}},
      {"\xF5\x80", {r, r}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.first));
    EXPECT_EQ(Utils::Utf8ToUtf16(row.first), row.second);
  }
}

TEST(Utils, UnpairedSurrogatesBecomeReplacementCharacters) {
  const std::string r = "\xEF\xBF\xBD";
  EXPECT_EQ(Utils::Utf16ToUtf8(std::u16string{0xD83D}), r);
  EXPECT_EQ(Utils::Utf16ToUtf8(std::u16string{0xDE00, u'x'}), r + "x");
  EXPECT_EQ(Utils::Utf16ToUtf8(std::u16string{0xD83D, u'x', 0xDE00}), r + "x" + r);
  EXPECT_EQ(Utils::Utf16ToUtf8(std::u16string{0xD83D, 0xD83D, 0xDE00}), r + "\xF0\x9F\x98\x80");
}

TEST(Utils, UriSchemeValidation) {
  const std::vector<std::pair<const char*, bool>> rows = {
      {"corvane", true},
      {"my-app", true},
      {"com.example.app", true},
      {"a+b", true},
      {"X1", true},
      {"a", true},
      {"", false},
      {"1app", false},
      {"-app", false},
      {"my app", false},
      {"app:", false},
      {"app/x", false},
      {"caf\xC3\xA9", false},
      {"a_b", false},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.first);
    EXPECT_EQ(Utils::IsValidUriScheme(r.first), r.second);
  }
}

TEST(Utils, AppInfoIsEmpty) {
  const Utils::AppInfo info = Utils::GetAppInfo();
  EXPECT_EQ(info.name, "");
  EXPECT_EQ(info.bundleId, "");
  EXPECT_EQ(info.version, "");
  EXPECT_EQ(info.buildNumber, "");
}

// ---- Folders -------------------------------------------------------------------------------

TEST(Utils, CreateFolderWithMissingParents) {
  TempDir dir;
  const std::string path = dir.path() + "/a/b/c";
  ASSERT_FALSE(FileExists(dir.path() + "/a"));
  EXPECT_TRUE(Utils::CreateFolder(path));
  EXPECT_TRUE(FileExists(path));
  EXPECT_TRUE(WriteFileBytes(path + "/file", "x"));
  // Present already: still reported as there.
  EXPECT_TRUE(Utils::CreateFolder(path));
}

TEST(Utils, CreateFolderWithBackslashes) {
  if (!IsWindows()) GTEST_SKIP() << "\"\\\" separates folders only on Windows";
  TempDir dir;
  const std::string path = dir.path() + "\\x\\y\\z";
  EXPECT_TRUE(Utils::CreateFolder(path));
  EXPECT_TRUE(FileExists(path));
  // A path written with "/" only, below the backslashed one.
  const std::string slashed = path + "/p/q";
  EXPECT_TRUE(Utils::CreateFolder(slashed));
  EXPECT_TRUE(FileExists(path + "\\p\\q"));
}

TEST(Utils, CreateFolderFailures) {
  TempDir dir;
  EXPECT_FALSE(Utils::CreateFolder(""));
  ASSERT_TRUE(WriteFileBytes(dir.File("plain"), "x"));
  EXPECT_FALSE(Utils::CreateFolder(dir.File("plain")));
  EXPECT_FALSE(Utils::CreateFolder(dir.File("plain") + "/below"));
  EXPECT_FALSE(Utils::CreateFolder(dir.File("plain") + "/below/deeper"));
}

TEST(Utils, DefaultSaveFolderFollowsXdgAndHome) {
  if (IsWindows()) GTEST_SKIP() << "Windows uses LOCALAPPDATA";
  {
    ScopedEnv xdg("XDG_DATA_HOME", "/srv/data/");
    ScopedEnv home("HOME", "/home/tester");
    EXPECT_EQ(Utils::GetDefaultSaveFolder(), "/srv/data/CorvaneSDK");
  }
  {
    // A relative XDG value is invalid and ignored.
    ScopedEnv xdg("XDG_DATA_HOME", "relative/data");
    ScopedEnv home("HOME", "/home/tester");
    EXPECT_EQ(Utils::GetDefaultSaveFolder(), "/home/tester/.local/share/CorvaneSDK");
  }
  {
    ScopedEnv xdg("XDG_DATA_HOME", nullptr);
    ScopedEnv home("HOME", "/");
    EXPECT_EQ(Utils::GetDefaultSaveFolder(), "/.local/share/CorvaneSDK");
  }
}

TEST(Utils, DefaultSaveFolderOnWindows) {
  if (!IsWindows()) GTEST_SKIP() << "LOCALAPPDATA is a Windows variable";
  {
    ScopedEnv local("LOCALAPPDATA", "C:/Users/tester/AppData/Local");
    EXPECT_EQ(Utils::GetDefaultSaveFolder(), "C:\\Users\\tester\\AppData\\Local\\CorvaneSDK");
  }
  ScopedEnv local("LOCALAPPDATA", nullptr);
  {
    ScopedEnv profile("USERPROFILE", "C:\\Users\\tester");
    LogCapture log;
    EXPECT_EQ(Utils::GetDefaultSaveFolder(), "C:\\Users\\tester\\AppData\\Local\\CorvaneSDK");
    EXPECT_TRUE(log.Contains("LOCALAPPDATA is not set"));
  }
  // Never the temp folder, which other users may share.
  ScopedEnv profile("USERPROFILE", nullptr);
  LogCapture log;
  EXPECT_EQ(Utils::GetDefaultSaveFolder(), "");
  EXPECT_TRUE(log.Contains("Error|"));
}

// ---- Registry ------------------------------------------------------------------------------

TEST(Utils, RegistryHelpersAreInertWithoutRegistry) {
  if (IsWindows()) GTEST_SKIP() << "Windows has a registry";
  LogCapture log;
  EXPECT_FALSE(Utils::SetCurrentUserRegistry("SOFTWARE\\Classes\\x", "URL Protocol", ""));
  EXPECT_EQ(Utils::GetLocalMachineRegistry("SOFTWARE\\Valve\\Steam", "InstallPath"), "");
  EXPECT_EQ(Utils::GetCurrentUserRegistry("SOFTWARE\\Classes\\x", "URL Protocol"), "");
  EXPECT_FALSE(Utils::DeleteCurrentUserRegistryKey("SOFTWARE\\Classes\\x"));
  EXPECT_TRUE(log.Lines().empty());
}

// Removes the test key even when an assertion ends the test early.
class RegistryKeyGuard {
 public:
  explicit RegistryKeyGuard(std::string key) : key_(std::move(key)) {}
  ~RegistryKeyGuard() { Utils::DeleteCurrentUserRegistryKey(key_); }

 private:
  std::string key_;
};

TEST(Utils, CurrentUserRegistryWriteAndReadBack) {
  if (!IsWindows()) GTEST_SKIP() << "needs the Windows registry";
  const std::string scheme = "corvane-test-" + NewUuid().substr(0, 8);
  ASSERT_TRUE(Utils::IsValidUriScheme(scheme));
  const std::string key = "SOFTWARE\\Classes\\" + scheme;
  RegistryKeyGuard guard(key);
  LogCapture log;
  // Non-ASCII text must survive the UTF-16 trip in both directions.
  const std::string command = "\"C:\\Program Files\\Caf\xC3\xA9\\app.exe\" \"%1\"";

  EXPECT_TRUE(Utils::SetCurrentUserRegistry(key, "URL Protocol", ""));
  EXPECT_TRUE(Utils::SetCurrentUserRegistry(key + "\\shell\\open\\command", "", command));
  EXPECT_EQ(Utils::GetCurrentUserRegistry(key + "\\shell\\open\\command", ""), command);
  EXPECT_EQ(Utils::GetCurrentUserRegistry(key, "URL Protocol"), "");
  EXPECT_TRUE(Utils::SetCurrentUserRegistry(key, "URL Protocol", "overwritten"));
  EXPECT_EQ(Utils::GetCurrentUserRegistry(key, "URL Protocol"), "overwritten");
  EXPECT_FALSE(log.Contains("Error|"));

  EXPECT_TRUE(Utils::DeleteCurrentUserRegistryKey(key));
  EXPECT_EQ(Utils::GetCurrentUserRegistry(key + "\\shell\\open\\command", ""), "");
  // Deleting what is gone already is fine; a top-level key is refused.
  EXPECT_TRUE(Utils::DeleteCurrentUserRegistryKey(key));
  EXPECT_FALSE(Utils::DeleteCurrentUserRegistryKey("SOFTWARE"));
  EXPECT_FALSE(Utils::DeleteCurrentUserRegistryKey("\\\\"));
  EXPECT_FALSE(Utils::DeleteCurrentUserRegistryKey(""));
}

TEST(Utils, CurrentUserRegistryCreateFailureIsLogged) {
  if (!IsWindows()) GTEST_SKIP() << "needs the Windows registry";
  LogCapture log;
  // A key path may not start with a separator.
  const std::string bad = "\\SOFTWARE\\Classes\\corvane-never";
  EXPECT_FALSE(Utils::SetCurrentUserRegistry(bad, "URL Protocol", ""));
  EXPECT_TRUE(log.Contains("Error|"));
  EXPECT_TRUE(
      log.Contains("[SetCurrentUserRegistry]|Could not create current user registry key " + bad));
}

TEST(Utils, LocalMachineRegistryRead) {
  if (!IsWindows()) GTEST_SKIP() << "needs the Windows registry";
  LogCapture log;
  const std::string root = Utils::GetLocalMachineRegistry(
      "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "SystemRoot");
  EXPECT_FALSE(root.empty());
  EXPECT_FALSE(log.Contains("Error|"));

  EXPECT_EQ(Utils::GetLocalMachineRegistry("SOFTWARE\\CorvaneNoSuchKey", "InstallPath"), "");
  EXPECT_TRUE(
      log.Contains("[GetLocalMachineRegistry]|Could not get local machine registry key "
                   "SOFTWARE\\CorvaneNoSuchKey"));
  EXPECT_EQ(Utils::GetLocalMachineRegistry("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                                           "CorvaneNoSuchValue"),
            "");
  EXPECT_TRUE(log.Contains(
      "[GetLocalMachineRegistry]|Could not get local machine registry value CorvaneNoSuchValue"));
  EXPECT_EQ(log.CountContaining("Error|"), 2);
}

// ---- Real queries --------------------------------------------------------------------------

TEST(Utils, PlatformName) {
  const std::string name = Utils::PlatformName();
  EXPECT_TRUE(name == "Windows" || name == "Linux" || name == "macOS") << name;
}

TEST(Utils, OsNameVersionAndBuild) {
  const std::string name = Utils::GetOsName();
  EXPECT_FALSE(name.empty());
  const std::string version = Utils::GetOsVersion();
  EXPECT_TRUE(IsMajorMinor(version)) << version;
  const std::string build = Utils::GetOsBuild();
  ASSERT_FALSE(build.empty());
  EXPECT_TRUE(build[0] >= '0' && build[0] <= '9') << build;
  if (IsWindows()) {
    EXPECT_TRUE(StartsWith(name, "Windows")) << name;
    // The build number, then optionally ": " and the service-pack text.
    EXPECT_TRUE(IsDigits(build.substr(0, build.find(": ")))) << build;
  } else {
    // The kernel release begins with the version.
    EXPECT_TRUE(StartsWith(build, version)) << build << " / " << version;
  }
}

TEST(Utils, AbiOfThisBuild) {
  const std::string abi = Utils::GetAbi();
#if defined(__x86_64__) || defined(_M_X64)
  EXPECT_EQ(abi, "x64");
#elif defined(__aarch64__) || defined(_M_ARM64)
  EXPECT_EQ(abi, "arm64");
#else
  EXPECT_FALSE(abi.empty());
#endif
}

TEST(Utils, NetworkAddressShape) {
  const Utils::NetworkAddress address = Utils::GetNetworkAddress(Env::Default());
  if (address.ip.empty()) {
    EXPECT_EQ(address.mac, "");
    return;
  }
  EXPECT_NE(address.ip.find_first_of(".:"), std::string::npos) << address.ip;
  EXPECT_FALSE(StartsWith(address.ip, "127.")) << address.ip;
  EXPECT_NE(address.ip, "::1");
  EXPECT_FALSE(Utils::IsLinkLocalV6(address.ip)) << address.ip;
  EXPECT_FALSE(Utils::IsTeredo(address.ip)) << address.ip;
  EXPECT_TRUE(IsMacText(address.mac)) << address.mac;
}

TEST(Utils, LocaleFromEnvironment) {
  if (IsWindows()) GTEST_SKIP() << "Windows keeps the locale in the user profile";
  ScopedEnv messages("LC_MESSAGES", "fr_CA.UTF-8");
  ScopedEnv lang("LANG", "en_US.UTF-8");
  {
    ScopedEnv all("LC_ALL", "de_AT.UTF-8");
    EXPECT_EQ(Utils::GetLocale(), "de_AT");
    EXPECT_EQ(Utils::GetLanguage(), "de");
    EXPECT_EQ(Utils::GetCountry(), "at");
  }
  {
    ScopedEnv all("LC_ALL", nullptr);
    EXPECT_EQ(Utils::GetLocale(), "fr_CA");
    ScopedEnv noMessages("LC_MESSAGES", nullptr);
    EXPECT_EQ(Utils::GetLocale(), "en_US");
    EXPECT_EQ(Utils::GetCountry(), "us");
  }
  ScopedEnv all("LC_ALL", "C");
  EXPECT_EQ(Utils::GetLocale(), "");
  EXPECT_EQ(Utils::GetLanguage(), "");
  EXPECT_EQ(Utils::GetCountry(), "");
}

TEST(Utils, LocaleShape) {
  const std::string locale = Utils::GetLocale();
  const std::string language = Utils::GetLanguage();
  const std::string country = Utils::GetCountry();
  for (char c : country) {
    EXPECT_FALSE(c >= 'A' && c <= 'Z') << country;
  }
  if (!language.empty() && !locale.empty()) {
    EXPECT_TRUE(StartsWith(locale, language)) << locale << " / " << language;
  }
  if (IsWindows()) {
    EXPECT_FALSE(locale.empty());
  }
}

TEST(Utils, TimeZoneFromEnvironment) {
  if (IsWindows()) GTEST_SKIP() << "Windows keeps the zone in its settings";
  {
    ScopedEnv tz("TZ", ":/usr/share/zoneinfo/Europe/Paris");
    EXPECT_EQ(Utils::GetTimeZone(), "Europe/Paris");
  }
  {
    ScopedEnv tz("TZ", "Etc/UTC");
    EXPECT_EQ(Utils::GetTimeZone(), "UTC");
  }
  {
    ScopedEnv tz("TZ", "America/New_York");
    EXPECT_EQ(Utils::GetTimeZone(), "America/New_York");
  }
}

TEST(Utils, TimeZoneOnWindows) {
  if (!IsWindows()) GTEST_SKIP() << "a Linux system may have no zone configured";
  const std::string zone = Utils::GetTimeZone();
  EXPECT_FALSE(zone.empty());
  EXPECT_NE(zone, "Coordinated Universal Time");
}

TEST(Utils, DisplaySizeIsBothOrNeither) {
  int width = -1;
  int height = -1;
  Utils::GetDisplaySize(width, height);
  EXPECT_GE(width, 0);
  EXPECT_GE(height, 0);
  EXPECT_EQ(width == 0, height == 0) << width << "x" << height;
}

TEST(Utils, DeviceIdShape) {
  const std::string id = Utils::GetDeviceId();
  if (id.empty()) return;  // no machine id is a legitimate answer
  if (IsWindows()) {
    EXPECT_EQ(id.size(), 36u) << id;  // a GUID without braces
  } else {
    EXPECT_EQ(id.size(), 32u) << id;
    EXPECT_EQ(id.find_first_not_of("0123456789abcdefABCDEF"), std::string::npos) << id;
  }
}

TEST(Utils, DeviceInfo) {
  const Utils::DeviceInfo info = Utils::GetDeviceInfo();
  if (IsWindows()) {
    EXPECT_EQ(info.manufacturer, "");
    EXPECT_EQ(info.model, "");
  }
  EXPECT_TRUE(info.type == "" || info.type == "desktop" || info.type == "laptop" ||
              info.type == "tablet" || info.type == "server")
      << info.type;
}

TEST(Utils, ExecutablePath) {
  const std::string path = Utils::GetExecutablePath();
  ASSERT_FALSE(path.empty());
  EXPECT_TRUE(FileExists(path)) << path;
  if (IsWindows()) {
    std::string lower = path;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_TRUE(EndsWith(lower, ".exe")) << path;
  } else {
    EXPECT_EQ(path[0], '/') << path;
  }
}

}  // namespace
}  // namespace CorvaneSDK
