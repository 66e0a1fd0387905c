// Device utilities over the device double, the Linux device port, the deep-link filter, the
// local IP preference and the payload-filter expressions.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "CorvaneSDKConfiguration.h"
#include "CorvaneSDKRegex.h"
#include "CorvaneSDKUtils.h"
#include "MobileTestSupport.h"

namespace CorvaneSDK {
namespace Mobile {
namespace {

class MobileUtils : public ::testing::Test {
 protected:
  Testing::TestPorts ports_;
  FakeDevice& device() { return *ports_.device; }
};

TEST_F(MobileUtils, DeviceAndOsValuesComeFromThePorts) {
  EXPECT_EQ(CorvaneSDKUtils::deviceModel(), "iPhone14,2");
  EXPECT_EQ(CorvaneSDKUtils::deviceType(), "iPhone");
  EXPECT_EQ(CorvaneSDKUtils::deviceManufacturer(), "apple");
  EXPECT_EQ(CorvaneSDKUtils::platform(), "iOS");
  EXPECT_EQ(CorvaneSDKUtils::osName(), "iOS");
  EXPECT_EQ(CorvaneSDKUtils::osVersion(), "17.0");
  EXPECT_EQ(CorvaneSDKUtils::osMajorVersion(), 17);
  EXPECT_EQ(CorvaneSDKUtils::hwModel(), "D63AP");
  EXPECT_EQ(CorvaneSDKUtils::hwMachine(), "iPhone14,2");
  EXPECT_EQ(CorvaneSDKUtils::kernOsVersion(), "21A329");
  EXPECT_EQ(CorvaneSDKUtils::hwCpuType(), "arm64");
  EXPECT_EQ(CorvaneSDKUtils::displayWidth(), 1170);
  EXPECT_EQ(CorvaneSDKUtils::displayHeight(), 2532);
  EXPECT_EQ(CorvaneSDKUtils::startedAt(), 1764990000250ull);
  EXPECT_EQ(CorvaneSDKUtils::bundleIdentifier(), "com.example.game");
  EXPECT_EQ(CorvaneSDKUtils::bundleVersion(), "42");
  EXPECT_EQ(CorvaneSDKUtils::bundleShortVersionString(), "1.2.3");
  EXPECT_EQ(CorvaneSDKUtils::locale(), "en_US");
  EXPECT_EQ(CorvaneSDKUtils::country(), "us");
  EXPECT_EQ(CorvaneSDKUtils::language(), "en");
  EXPECT_EQ(CorvaneSDKUtils::timeZone(), "Europe/Berlin");
  EXPECT_EQ(CorvaneSDKUtils::idfv(), "3F2504E0-4F89-11D3-9A0C-0305E82C3301");
}

TEST_F(MobileUtils, CpuTypesMapAndUnknownOnesSayUnknown) {
  EXPECT_EQ(CorvaneSDKUtils::cpuTypeName(7), "x86");
  EXPECT_EQ(CorvaneSDKUtils::cpuTypeName(12), "arm");
  EXPECT_EQ(CorvaneSDKUtils::cpuTypeName(16777223), "x64");
  EXPECT_EQ(CorvaneSDKUtils::cpuTypeName(16777228), "arm64");
  EXPECT_EQ(CorvaneSDKUtils::cpuTypeName(33554444), "arm64/32");
  device().set([](FakeDevice& d) { d.sysctlInts["hw.cputype"] = 18; });
  EXPECT_EQ(CorvaneSDKUtils::hwCpuType(), "unknown");
  device().set([](FakeDevice& d) { d.sysctlInts.clear(); });
  EXPECT_EQ(CorvaneSDKUtils::hwCpuType(), "unknown");
}

TEST_F(MobileUtils, MissingPlatformAnswersAreEmptyOrZero) {
  device().set([](FakeDevice& d) {
    d.sysctlStrings.clear();
    d.boot.reset();
  });
  device().setScreen(std::nullopt);
  device().setBundle(BundleRecord{"id.only", std::nullopt, ""});
  device().setVendorIdentifier(std::nullopt);
  EXPECT_EQ(CorvaneSDKUtils::hwModel(), "");
  EXPECT_EQ(CorvaneSDKUtils::kernOsVersion(), "");
  EXPECT_EQ(CorvaneSDKUtils::startedAt(), 0u);
  EXPECT_EQ(CorvaneSDKUtils::displayWidth(), 0);
  EXPECT_EQ(CorvaneSDKUtils::bundleIdentifier(), "id.only");
  EXPECT_EQ(CorvaneSDKUtils::bundleVersion(), "");
  EXPECT_EQ(CorvaneSDKUtils::bundleShortVersionString(), "");
  EXPECT_EQ(CorvaneSDKUtils::idfv(), "");
  device().setBundle(std::nullopt);
  EXPECT_EQ(CorvaneSDKUtils::bundleIdentifier(), "");
  device().setScreen(ScreenRecord{1e300, -5, 3});
  EXPECT_EQ(CorvaneSDKUtils::displayWidth(), 0);
  EXPECT_EQ(CorvaneSDKUtils::displayHeight(), 0);
}

TEST_F(MobileUtils, SysctlTextsAreCutAsTheHundredByteBufferCutsThem) {
  device().set([](FakeDevice& d) { d.sysctlStrings["hw.model"] = std::string(150, 'm'); });
  EXPECT_EQ(CorvaneSDKUtils::hwModel(), std::string(99, 'm'));
  device().set([](FakeDevice& d) { d.sysctlStrings["hw.model"] = std::string("ab\0cd", 5); });
  EXPECT_EQ(CorvaneSDKUtils::hwModel(), "ab");
}

TEST_F(MobileUtils, AdvertisingIdentifierRules) {
  EXPECT_EQ(CorvaneSDKUtils::idfa(), "6D92078A-8246-4BA4-AE5B-76104861E7DC");
  EXPECT_TRUE(CorvaneSDKUtils::isAdvertisingTrackingEnabled());
  device().setAdvertisingIdentifier(std::string("00000000-0000-0000-0000-000000000000"), true);
  EXPECT_EQ(CorvaneSDKUtils::idfa(), "");
  device().setAdvertisingIdentifier(std::nullopt, true);
  EXPECT_EQ(CorvaneSDKUtils::idfa(), "");
  // Below iOS 14 a disabled tracking flag hides the identifier; from 14 on the flag is not asked.
  device().setAdvertisingIdentifier(std::string("6D92078A-8246-4BA4-AE5B-76104861E7DC"), false);
  EXPECT_EQ(CorvaneSDKUtils::idfa(), "6D92078A-8246-4BA4-AE5B-76104861E7DC");
  device().set([](FakeDevice& d) { d.sysVersion = "13.7"; });
  EXPECT_EQ(CorvaneSDKUtils::idfa(), "");
  EXPECT_FALSE(CorvaneSDKUtils::isAdvertisingTrackingEnabled());
}

TEST_F(MobileUtils, FacebookAnonymousIdIsLookedUpByName) {
  EXPECT_EQ(CorvaneSDKUtils::fbAnonymousId(), "");
  device().registerClassOperation("FBSDKAppEventsUtility", "retrievePersistedAnonymousID", [] { return "XZ-old"; });
  EXPECT_EQ(CorvaneSDKUtils::fbAnonymousId(), "XZ-old");
  device().registerClassOperation("FBSDKBasicUtility", "somethingElse", [] { return "no"; });
  EXPECT_EQ(CorvaneSDKUtils::fbAnonymousId(), "XZ-old") << "a class that does not answer is skipped";
  device().registerClassOperation("FBSDKBasicUtility", "retrievePersistedAnonymousID", [] { return "XZ-new"; });
  EXPECT_EQ(CorvaneSDKUtils::fbAnonymousId(), "XZ-new");
  device().registerClassOperation("FBSDKBasicUtility", "retrievePersistedAnonymousID",
                                  []() -> std::string { throw std::runtime_error("provider bug"); });
  EXPECT_EQ(CorvaneSDKUtils::fbAnonymousId(), "XZ-old");
}

TEST_F(MobileUtils, UuidsAreRandomVersionFourText) {
  const std::regex form("^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$");
  const std::string a = CorvaneSDKUtils::createUUIDString();
  const std::string b = CorvaneSDKUtils::createUUIDString();
  EXPECT_TRUE(std::regex_match(a, form)) << a;
  EXPECT_NE(a, b);
}

TEST_F(MobileUtils, DeepLinkFilterRefusesSignInRedirectsWithTokens) {
  EXPECT_FALSE(CorvaneSDKUtils::isValidDeepLink(std::nullopt));
  EXPECT_FALSE(CorvaneSDKUtils::isValidDeepLink(std::string()));
  EXPECT_FALSE(CorvaneSDKUtils::isValidDeepLink(std::string("fb1234567://authorize#state=1&access_token=EAAB")));
  EXPECT_TRUE(CorvaneSDKUtils::isValidDeepLink(std::string("fb1234://authorize#state=1&access_token=EAAB")));
  EXPECT_FALSE(CorvaneSDKUtils::isValidDeepLink(std::string("vk55555xyz://authorize?access_token=abc")));
  EXPECT_TRUE(CorvaneSDKUtils::isValidDeepLink(std::string("fb1234567://authorize#state=1")));
  EXPECT_TRUE(CorvaneSDKUtils::isValidDeepLink(std::string("mygame://level/3?access_token=x")));
  EXPECT_TRUE(CorvaneSDKUtils::isValidDeepLink(std::string("https://example.com/\xff\xfe")));
  // A megabyte URL is matched in linear time, without recursion.
  std::string longUrl = "fb1234567://authorize" + std::string(1u << 20, 'a') + "access_token=t";
  EXPECT_FALSE(CorvaneSDKUtils::isValidDeepLink(longUrl));
  EXPECT_TRUE(CorvaneSDKUtils::isValidDeepLink("https://x/" + std::string(1u << 20, 'a')));
}

TEST_F(MobileUtils, LocalAddressPrefersWifiThenCellularAndTheAskedFamily) {
  device().set([](FakeDevice& d) {
    d.addresses = {{"lo0", 4, "127.0.0.1", true, true},       {"en0", 6, "fe80::1", true, false},
                   {"en0", 6, "2001:db8::5", true, false},    {"pdp_ip0", 4, "10.20.30.40", true, false},
                   {"en0", 4, "169.254.3.3", true, false},    {"en0", 4, "192.168.1.7", true, false},
                   {"utun0", 4, "100.64.0.1", true, false},   {"en1", 4, "172.16.0.2", false, false}};
  });
  auto all = CorvaneSDKUtils::getIPAddresses();
  EXPECT_EQ(all["en0/ipv4"], "192.168.1.7") << "link-local is not usable";
  EXPECT_EQ(all["en0/ipv6"], "2001:db8::5");
  EXPECT_EQ(all.count("lo0/ipv4"), 0u);
  EXPECT_EQ(all.count("en1/ipv4"), 0u) << "a down interface is not usable";
  EXPECT_EQ(CorvaneSDKUtils::getIPAddress(true), "192.168.1.7");
  EXPECT_EQ(CorvaneSDKUtils::getIPAddress(false), "2001:db8::5");
  device().set([](FakeDevice& d) { d.addresses.erase(d.addresses.begin() + 5); });
  EXPECT_EQ(CorvaneSDKUtils::getIPAddress(true), "10.20.30.40") << "cellular IPv4 before Wi-Fi IPv6";
  device().set([](FakeDevice& d) { d.addresses = {{"eth0", 4, "192.0.2.9", true, false}, {"lo", 4, "127.0.0.1", true, true}}; });
  EXPECT_EQ(CorvaneSDKUtils::getIPAddress(true), "192.0.2.9") << "a Linux host names its interfaces otherwise";
  device().set([](FakeDevice& d) { d.addresses.clear(); });
  EXPECT_EQ(CorvaneSDKUtils::getIPAddress(true), "");
}

TEST_F(MobileUtils, InstallTimeComesFromTheApplicationSupportFolder) {
  EXPECT_EQ(CorvaneSDKUtils::installedAt(), 0u);
  EXPECT_TRUE(ports_.log->contains("Error while trying to check install date. Exception:"));
  std::filesystem::create_directories(ports_.files->applicationSupportDirectory());
  const uint64_t t = CorvaneSDKUtils::installedAt();
  EXPECT_GT(t, 1600000000000ull);
}

TEST(MobileLinuxDevice, AnswersFromTheRunningSystem) {
  LinuxDevice d;
  EXPECT_FALSE(d.unameMachine().empty());
  EXPECT_FALSE(d.systemName().empty());
  EXPECT_FALSE(d.systemVersion().empty());
  EXPECT_TRUE(d.sysctlString("kern.osversion"));
  EXPECT_FALSE(d.sysctlString("hw.nothing"));
  auto boot = d.bootTime();
  ASSERT_TRUE(boot);
  EXPECT_GT(boot->first, 1000000000);
  EXPECT_TRUE(d.mainBundle());
  EXPECT_FALSE(d.timeZoneName().empty());
  bool loopback = false;
  for (const auto& a : d.interfaceAddresses()) loopback = loopback || a.loopback;
  EXPECT_TRUE(loopback);
  EXPECT_EQ(LinuxDevice::localeFromEnvironmentValue("de_AT.UTF-8@euro"), "de_AT");
  EXPECT_EQ(LinuxDevice::localeFromEnvironmentValue("C.UTF-8"), "en_US_POSIX");
  EXPECT_EQ(LinuxDevice::localeFromEnvironmentValue(""), "en_US_POSIX");
  EXPECT_EQ(*LinuxDevice::cpuTypeForMachine("x86_64"), 0x1000007);
  EXPECT_EQ(*LinuxDevice::cpuTypeForMachine("aarch64"), 0x100000c);
  EXPECT_FALSE(LinuxDevice::cpuTypeForMachine("riscv64"));
}

TEST(MobileRegex, DefaultPayloadFilterRedactsFacebookTokens) {
  CorvaneSDKConfiguration c;
  CorvaneSDKRegex re(c.payloadFilters[0].first);
  ASSERT_TRUE(re.ok()) << re.error();
  EXPECT_EQ(re.replaceAll("fb123://authorize#access_token=EAAB123 rest", c.payloadFilters[0].second),
            "fb123://authorize#access_token=((redacted/fb-auth-token)) rest");
  EXPECT_EQ(re.replaceAll("mygame://open", c.payloadFilters[0].second), "mygame://open");
}

TEST(MobileRegex, TemplatesTranslateToTheLibraryForm) {
  EXPECT_EQ(CorvaneSDKRegex::translateTemplate("$1-$2", 2), "\\1-\\2");
  EXPECT_EQ(CorvaneSDKRegex::translateTemplate("\\$1 costs $", 1), "$1 costs $");
  EXPECT_EQ(CorvaneSDKRegex::translateTemplate("a\\\\b", 0), "a\\\\b");
  EXPECT_EQ(CorvaneSDKRegex::translateTemplate("$3", 1), "");
  CorvaneSDKRegex re("(a)(b)");
  EXPECT_EQ(re.replaceAll("xaby", "[$2$1$9\\$]"), "x[ba$]y");
  CorvaneSDKRegex bad("(unclosed");
  EXPECT_FALSE(bad.ok());
  EXPECT_FALSE(bad.search("unclosed"));
  EXPECT_EQ(bad.replaceAll("text", "x"), "text");
  CorvaneSDKRegex empty("x*");
  EXPECT_EQ(empty.replaceAll("abc", "-"), "-a-b-c-");
}

}  // namespace
}  // namespace Mobile
}  // namespace CorvaneSDK
