// SKAdNetwork reports by OS release and by what the class answers, their debug lines, the
// completion's error line, the OS-version parsing, and the manager's permission and save.
#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>

#include "CorvaneSDKSkanConversionContext.h"
#include "CorvaneSDKSkanPlatform.h"
#include "MobileTestSupport.h"
#include "OSVersion.h"
#include "SKAdNetwork.h"

namespace CorvaneSDK {
namespace Mobile {
namespace {

class MobileSkanPlatform : public ::testing::Test {
 protected:
  void use(const std::string& version, bool present = true) {
    os = std::make_shared<FixedOSVersion>(version);
    skan = std::make_shared<RecordingSKAdNetwork>(present, os);
    auto pair = std::make_shared<SKAdNetworkPorts>();
    pair->skAdNetwork = skan;
    pair->osVersion = os;
    SKAdNetworkPlatform::install(pair);
  }
  ~MobileSkanPlatform() override { SKAdNetworkPlatform::install(nullptr); }

  Mobile::Testing::TestPorts ports;
  std::shared_ptr<FixedOSVersion> os;
  std::shared_ptr<RecordingSKAdNetwork> skan;
};

TEST_F(MobileSkanPlatform, ReportsByRelease) {
  enum Form { Fine, Coarse, CoarseLock };
  struct Case {
    const char* version;
    Form form;
    const char* selector;  // nullptr: no call
    const char* log;
  } cases[] = {
      {"13.7", Fine, nullptr, nullptr},
      {"13.7", CoarseLock, nullptr, nullptr},
      {"14.0", Fine, kSelUpdateConversionValue, "Update Postback Conversion Value: 7"},
      {"14.0", Coarse, kSelUpdateConversionValue, "Update Postback Conversion Value: 7"},
      {"15.3.1", CoarseLock, kSelUpdateConversionValue, "Update Postback Conversion Value: 7"},
      {"15.4", Fine, kSelUpdatePostback, "Update Postback Conversion Value: 7"},
      {"15.4", Coarse, kSelUpdatePostback, "Update Postback Conversion Value: 7"},
      {"16.0", CoarseLock, kSelUpdatePostback, "Update Postback Conversion Value: 7"},
      {"16.1", Fine, kSelUpdatePostback, "Update Postback Conversion Value: 7"},
      {"16.1", Coarse, kSelUpdatePostbackCoarse, "Update Postback Conversion Value: 7 medium"},
      {"16.1", CoarseLock, kSelUpdatePostbackCoarseLock, "Update Postback Conversion Value: 7 medium Lock"},
      {"17.0", CoarseLock, kSelUpdatePostbackCoarseLock, "Update Postback Conversion Value: 7 medium Lock"},
  };
  for (const auto& c : cases) {
    use(c.version);
    ports.log->clear();
    switch (c.form) {
      case Fine: CorvaneSDKSkanPlatform::updatePostbackConversionValue(7); break;
      case Coarse: CorvaneSDKSkanPlatform::updatePostbackConversionValue(7, "medium"); break;
      case CoarseLock: CorvaneSDKSkanPlatform::updatePostbackConversionValue(7, "medium", true); break;
    }
    const auto calls = skan->calls();
    if (c.selector == nullptr) {
      EXPECT_TRUE(calls.empty()) << c.version;
      EXPECT_FALSE(ports.log->contains("Update Postback")) << c.version;
      continue;
    }
    ASSERT_EQ(calls.size(), 1u) << c.version << " " << c.form;
    EXPECT_EQ(calls[0].selector, c.selector) << c.version << " " << c.form;
    EXPECT_EQ(ports.log->lines(), std::vector<std::string>{c.log}) << c.version << " " << c.form;
  }
}

TEST_F(MobileSkanPlatform, ArgumentsAndLockText) {
  use("16.1");
  CorvaneSDKSkanPlatform::updatePostbackConversionValue(63, "low", false);
  CorvaneSDKSkanPlatform::updatePostbackConversionValue(0, "high");
  const auto calls = skan->calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].args, Value::array({63, "low", false}));
  EXPECT_EQ(calls[1].args, Value::array({0, "high"}));
  EXPECT_TRUE(ports.log->contains("Update Postback Conversion Value: 63 low Non-lock"));
}

TEST_F(MobileSkanPlatform, WhatTheClassAnswersDecides) {
  use("17.0");
  // A class without the lock form falls back to the fine-only update, coarse and lock dropped.
  skan->setResponds(std::set<std::string>{kSelUpdatePostback, kSelUpdatePostbackCoarse});
  CorvaneSDKSkanPlatform::updatePostbackConversionValue(4, "high", true);
  skan->setResponds(std::set<std::string>{kSelUpdateConversionValue});
  CorvaneSDKSkanPlatform::updatePostbackConversionValue(5, "high");
  skan->setResponds(std::set<std::string>{});
  CorvaneSDKSkanPlatform::updatePostbackConversionValue(6);
  const auto calls = skan->calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].selector, kSelUpdatePostback);
  EXPECT_EQ(calls[0].args, Value::array({4}));
  EXPECT_EQ(calls[1].selector, kSelUpdateConversionValue);
  // An answer on a release older than the operation does not count.
  use("14.5");
  skan->setResponds(std::set<std::string>{kSelUpdatePostback, kSelUpdateConversionValue});
  CorvaneSDKSkanPlatform::updatePostbackConversionValue(8);
  ASSERT_EQ(skan->calls().size(), 1u);
  EXPECT_EQ(skan->calls()[0].selector, kSelUpdateConversionValue);
}

TEST_F(MobileSkanPlatform, NoClassNoCallAndOneLookUp) {
  use("17.0", false);
  for (int i = 0; i < 3; ++i) {
    CorvaneSDKSkanPlatform::updatePostbackConversionValue(1);
    CorvaneSDKSkanPlatform::updatePostbackConversionValue(1, "low", false);
  }
  EXPECT_TRUE(skan->calls().empty());
  EXPECT_FALSE(CorvaneSDKSkanPlatform::isSKAdNetworkAvailable());
  EXPECT_EQ(skan->lookups(), 1);
  EXPECT_TRUE(ports.log->lines().empty());
}

TEST_F(MobileSkanPlatform, CompletionErrorOnlyLogs) {
  use("16.1");
  skan->failWith("The operation couldn't be completed.");
  CorvaneSDKSkanPlatform::updatePostbackConversionValue(2, "low", false);
  EXPECT_TRUE(ports.log->contains("updatePostbackConversionValue error: The operation couldn't be completed."));
  skan->failWith(std::nullopt);
  ports.log->clear();
  CorvaneSDKSkanPlatform::updatePostbackConversionValue(2);
  EXPECT_FALSE(ports.log->contains("error"));
  // The legacy update has no completion at all.
  use("15.0");
  skan->failWith("x");
  CorvaneSDKSkanPlatform::updatePostbackConversionValue(2);
  EXPECT_FALSE(ports.log->contains("updatePostbackConversionValue error"));
}

TEST_F(MobileSkanPlatform, LinesOnlyWithDebugOn) {
  Mobile::Testing::TestPorts quiet(Mobile::Testing::TestPortsOptions{false, false, false, false});
  use("16.1");
  CorvaneSDKSkanPlatform::updatePostbackConversionValue(3);
  EXPECT_EQ(skan->calls().size(), 1u);
  EXPECT_TRUE(quiet.log->lines().empty());
}

TEST_F(MobileSkanPlatform, PortableClassAnswersLikeTheRelease) {
  auto version = std::make_shared<FixedOSVersion>("15.4");
  PortableSKAdNetwork portable(version);
  EXPECT_TRUE(portable.classPresent());
  EXPECT_TRUE(portable.respondsToSelector(kSelUpdatePostback));
  EXPECT_FALSE(portable.respondsToSelector(kSelUpdatePostbackCoarseLock));
  EXPECT_FALSE(portable.respondsToSelector("updateConversionValue"));
  bool completed = false;
  portable.updatePostbackConversionValue(9, "high", true, [&](const std::optional<std::string>& e) {
    completed = !e.has_value();
  });
  EXPECT_TRUE(completed);
  EXPECT_EQ(portable.lastReport().fine, 9);
  EXPECT_EQ(portable.lastReport().coarse, "high");
  EXPECT_TRUE(portable.lastReport().lockWindow);
}

TEST(MobileOSVersion, Parsing) {
  struct Case {
    const char* text;
    int major, minor, patch;
  } cases[] = {{"16.1", 16, 1, 0}, {"15.4.1", 15, 4, 1}, {"17", 17, 0, 0}, {"", 0, 0, 0},
               {"16.1 beta", 16, 1, 0}, {"x", 0, 0, 0}, {"99999999999.1", 1000000, 1, 0}};
  for (const auto& c : cases) {
    const OSVersion v = OSVersion::parse(c.text);
    EXPECT_EQ(v.major, c.major) << c.text;
    EXPECT_EQ(v.minor, c.minor) << c.text;
    EXPECT_EQ(v.patch, c.patch) << c.text;
  }
  EXPECT_TRUE(OSVersion::parse("15.4").isAtLeast(15, 4));
  EXPECT_FALSE(OSVersion::parse("15.3.9").isAtLeast(15, 4));
  EXPECT_TRUE(OSVersion::parse("16.0").isAtLeast(15, 4));
  EXPECT_FALSE(OSVersion::parse("16.0.9").isAtLeast(16, 1));
  Mobile::Testing::TestPorts ports;
  EXPECT_EQ(DeviceOSVersion().operatingSystemVersion().text(),
            OSVersion::parse(ports.device->systemVersion()).text());
}

TEST_F(MobileSkanPlatform, ManagerPermissionAndSave) {
  use("17.0");
  bool initialized = false, useSkan = true;
  std::vector<Value> stored;
  CorvaneSDKSkanConversionManagerExternal external([&] { return initialized; }, [&] { return useSkan; },
                                                   [&](const Value& d) { stored.push_back(d); });
  EXPECT_FALSE(external.canUpdatePostbackConversionValue());
  external.saveSkanConversionContextToDisk(Value{{"fine_cv", 1}});
  auto& main = static_cast<ManualDispatch&>(*ports.dispatch).main();
  main.runPending();
  EXPECT_TRUE(stored.empty()) << "dropped before initialization";
  initialized = true;
  EXPECT_TRUE(external.canUpdatePostbackConversionValue());
  external.saveSkanConversionContextToDisk(Value{{"fine_cv", 2}});
  EXPECT_TRUE(stored.empty()) << "stored on the main queue, not on the caller's";
  main.runPending();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0]["fine_cv"], 2);
  useSkan = false;
  EXPECT_FALSE(external.canUpdatePostbackConversionValue());
  useSkan = true;
  use("17.0", false);
  EXPECT_FALSE(external.canUpdatePostbackConversionValue()) << "no SKAdNetwork class";
}

TEST_F(MobileSkanPlatform, Version4ContextFallsBackBefore16_1) {
  use("15.4");
  auto context = CorvaneSDKSkanConversionContextImpl::init();
  context->setExternal(std::make_shared<CorvaneSDKSkanConversionManagerExternal>(
      [] { return true; }, [] { return true; }, [](const Value&) {}));
  Value schema;
  ASSERT_TRUE(parseJson(R"({"window_one":{"fine_cv_mappings":[{"fine_cv":12,"value_mappings":[{"mapping_type":"session"}]}]}})",
                        schema));
  context->start(CorvaneSDKSkanConversionSchema::create(schema));
  context->recordSession();
  const auto calls = skan->calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].selector, kSelUpdatePostback);
  EXPECT_EQ(calls[1].args, Value::array({12}));
}

}  // namespace
}  // namespace Mobile
}  // namespace CorvaneSDK
