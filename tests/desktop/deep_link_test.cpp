// Deep links, push token and URI-scheme registration end to end: a link opened before
// Initialize travels as a sub-event of the open event with its Unix-epoch click time and
// reaches callbacks registered early; every OpenURL is one event; a push token is reported
// once per new value; schemes are registered once per properties file (on Linux, the
// desktop entry under $XDG_DATA_HOME/applications).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "ConfigTestHarness.h"
#include "EnvVars.h"
#include "FakeClock.h"
#include "LogCapture.h"
#include "Utils.h"

using namespace CorvaneSDK;
using namespace CorvaneSDK::Test;

namespace {

std::mutex g_mutex;
std::vector<std::string> g_calls;

void OnDeepLink(const char* url, int id) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_calls.push_back("link " + std::string(url) + " " + std::to_string(id));
}

void OnPushToken(const char* token, int id) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_calls.push_back("token " + std::string(token) + " " + std::to_string(id));
}

std::vector<std::string> Calls() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_calls;
}

class DeepLinkTest : public ConfigHarness {
 protected:
  void SetUp() override {
    ConfigHarness::SetUp();
    std::lock_guard<std::mutex> lock(g_mutex);
    g_calls.clear();
  }
};

// Points XDG_DATA_HOME at a folder for the scope, then restores it.
class ScopedDataHome {
 public:
  explicit ScopedDataHome(const std::string& path) {
    const char* old = std::getenv("XDG_DATA_HOME");
    had_ = old != nullptr;
    if (had_) old_ = old;
    SetEnv("XDG_DATA_HOME", path.c_str());
  }
  ~ScopedDataHome() {
    if (had_) {
      SetEnv("XDG_DATA_HOME", old_.c_str());
    } else {
      UnsetEnv("XDG_DATA_HOME");
    }
  }

 private:
  bool had_ = false;
  std::string old_;
};

}  // namespace

TEST_F(DeepLinkTest, LinkOpenedBeforeInitializeIsASubEventOfTheOpenEvent) {
  ScopedFakeClock clock;
  const int64_t before = clock->WallMs();
  CorvaneSDKManager_OpenURL("corvanegame://level/3?from=ad");
  CorvaneSDKManager_AddDeepLinkCallback(OnDeepLink, 4);
  EXPECT_EQ(Take(CorvaneSDKManager_GetDeepLinkUrl()), "corvanegame://level/3?from=ad");
  CorvaneSDKManagerRef m = Init(Data());
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(Calls(), (std::vector<std::string>{"link corvanegame://level/3?from=ad 4"}));

  ASSERT_TRUE(WaitForEvent("qvsdk_first_open"));
  const Json open = ReceivedNamed("qvsdk_first_open")[0];
  ASSERT_TRUE(open.contains("subEvents"));
  ASSERT_EQ(open["subEvents"].size(), 1u);
  const Json& link = open["subEvents"][0];
  EXPECT_EQ(link["eventName"], "qvsdk_deep_link");
  EXPECT_EQ(link["value"]["url"], "corvanegame://level/3?from=ad");
  // Unix-epoch milliseconds (the fake wall clock starts in December 2025), not uptime.
  ASSERT_TRUE(link["value"]["click_time"].is_number_integer());
  const int64_t clickTime = link["value"]["click_time"].get<int64_t>();
  EXPECT_GE(clickTime, before);
  EXPECT_LE(clickTime, clock->WallMs());
  EXPECT_EQ(link["id"], open["id"]);  // the open event's session
}

TEST_F(DeepLinkTest, EveryOpenUrlIsOneEventAndEmptyOrNullIsIgnored) {
  ScopedFakeClock clock;
  CorvaneSDKManagerRef m = Init(Data());
  ASSERT_NE(m, nullptr);
  CorvaneSDKManager_AddDeepLinkCallback(OnDeepLink, 1);
  CorvaneSDKManager_OpenURL("corvanegame://same");
  CorvaneSDKManager_OpenURL("corvanegame://same");
  CorvaneSDKManager_OpenURL("");
  CorvaneSDKManager_OpenURL(nullptr);
  EXPECT_EQ(Take(CorvaneSDKManager_GetDeepLinkUrl()), "corvanegame://same");
  CorvaneSDKManager_LogWithIntValue(m, "marker", 1);
  ASSERT_TRUE(WaitForEvent("marker"));
  ASSERT_TRUE(WaitForEvent("qvsdk_deep_link", 2));
  EXPECT_EQ(ReceivedNamed("qvsdk_deep_link").size(), 2u);
  EXPECT_EQ(Calls(), (std::vector<std::string>{"link corvanegame://same 1",
                                               "link corvanegame://same 1"}));
}

TEST_F(DeepLinkTest, PushTokenIsReportedOncePerNewValue) {
  ScopedFakeClock clock;
  CorvaneSDKManager_SetPushToken("token-1");
  CorvaneSDKManager_AddPushTokenCallback(OnPushToken, 2);
  EXPECT_EQ(Take(CorvaneSDKManager_GetPushToken()), "token-1");
  CorvaneSDKManagerRef m = Init(Data());
  ASSERT_NE(m, nullptr);
  CorvaneSDKManager_SetPushToken("token-1");  // already stored
  CorvaneSDKManager_SetPushToken("");
  CorvaneSDKManager_SetPushToken(nullptr);
  CorvaneSDKManager_SetPushToken("token-2");
  CorvaneSDKManager_SetPushToken("token-2");
  EXPECT_EQ(Take(CorvaneSDKManager_GetPushToken()), "token-2");
  CorvaneSDKManager_LogWithIntValue(m, "marker", 1);
  ASSERT_TRUE(WaitForEvent("marker"));
  ASSERT_TRUE(WaitForEvent("qvsdk_push_token", 2));
  const auto tokens = ReceivedNamed("qvsdk_push_token");
  ASSERT_EQ(tokens.size(), 2u);
  EXPECT_EQ(tokens[0]["value"]["token"], "token-1");
  EXPECT_EQ(tokens[1]["value"]["token"], "token-2");
  EXPECT_EQ(Calls(), (std::vector<std::string>{"token token-1 2", "token token-2 2"}));
}

TEST_F(DeepLinkTest, PendingValuesAreForgottenByDestroy) {
  ScopedFakeClock clock;
  ASSERT_NE(Init(Data()), nullptr);
  CorvaneSDKManager_Destroy();
  CorvaneSDKManager_OpenURL("corvanegame://late");
  CorvaneSDKManager_SetPushToken("late-token");
  EXPECT_EQ(Take(CorvaneSDKManager_GetDeepLinkUrl()), "corvanegame://late");
  EXPECT_EQ(Take(CorvaneSDKManager_GetPushToken()), "late-token");
  CorvaneSDKManager_Destroy();  // no manager: only the pending values are cleared
  EXPECT_EQ(Take(CorvaneSDKManager_GetDeepLinkUrl()), "");
  EXPECT_EQ(Take(CorvaneSDKManager_GetPushToken()), "");
}

TEST_F(DeepLinkTest, UriSchemesRegisteredOncePerPropertiesFile) {
  if (Utils::PlatformName() != "Linux") GTEST_SKIP() << "the desktop entry is the Linux form";
  ScopedFakeClock clock;
  TempDir data;
  ScopedDataHome home(data.path());
  const std::string entryPath = data.path() + "/applications/corvane-corvanegame-handler.desktop";
  auto withSchemes = [&]() {
    ::InitializationData* d = Data();
    InitializationData_AddURIScheme(d, "corvanegame");
    InitializationData_AddURIScheme(d, "bad scheme!");
    InitializationData_AddURIScheme(d, "");
    InitializationData_AddURIScheme(d, "second+x.y");
    return d;
  };
  {
    LogCapture capture(kLogWarning);
    ASSERT_NE(Init(withSchemes()), nullptr);
    EXPECT_TRUE(capture.Contains("Skipping invalid URI scheme \"bad scheme!\""));
    EXPECT_TRUE(capture.Contains("Skipping invalid URI scheme \"\""));
  }
  const std::string exe = Utils::GetExecutablePath();
  ASSERT_FALSE(exe.empty());
  EXPECT_EQ(ReadFileBytes(entryPath),
            "[Desktop Entry]\nType=Application\nName=corvanegame link handler\nExec=\"" + exe +
                "\" %u\nMimeType=x-scheme-handler/corvanegame;x-scheme-handler/second+x.y;\n"
                "NoDisplay=true\nTerminal=false\n");
  Json properties;
  ASSERT_TRUE(ParseJson(ReadFileBytes(dir_.File(".properties")), properties));
  EXPECT_EQ(properties.value("registerUriFlag", false), true);

  // Registered already: a later run leaves the user's folder alone.
  CorvaneSDKManager_Destroy();
  ASSERT_TRUE(std::remove(entryPath.c_str()) == 0);
  ASSERT_NE(Init(withSchemes()), nullptr);
  EXPECT_FALSE(FileExists(entryPath));

  // A new properties file registers again; a Steam build launches through Steam.
  CorvaneSDKManager_Destroy();
  ASSERT_TRUE(std::remove(dir_.File(".properties").c_str()) == 0);
  ::InitializationData* steam = withSchemes();
  InitializationData_SetSteamBuild(steam, 480);
  ASSERT_NE(Init(steam), nullptr);
  EXPECT_NE(ReadFileBytes(entryPath).find("\nExec=steam -applaunch 480 %u\n"), std::string::npos);
}
