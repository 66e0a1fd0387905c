// The save folder under hostile or shared conditions, with real files and folders: one
// folder per app (and the move of an earlier version's shared files), owner-only modes,
// folders of other users, planted links and FIFOs, an oversized properties file, and two
// instances writing one properties file.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "Event.h"
#include "FakeClock.h"
#include "LogCapture.h"
#include "Properties.h"
#include "QueueFile.h"
#include "SaveFolder.h"
#include "Utils.h"
#include "manager_harness.h"

namespace {

using namespace CorvaneSDK;
using namespace CorvaneSDK::Test;
namespace fs = std::filesystem;

// Sets or removes one environment variable for the lifetime of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    value != nullptr ? setenv(name, value, 1) : unsetenv(name);
  }
  ~ScopedEnv() { had_ ? setenv(name_.c_str(), old_.c_str(), 1) : unsetenv(name_.c_str()); }

 private:
  std::string name_, old_;
  bool had_ = false;
};

template <typename P>
bool WaitFor(P predicate, int timeoutMs = 10000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!predicate()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

mode_t ModeOf(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// A queue file holding one event named `name`, as an earlier run would leave it.
void WriteQueueWith(const std::string& path, const std::string& name) {
  EventPtr event = Event::Acquire(name);
  const std::string text = event->ToJsonText();
  event.reset();
  QueueFile file(path);
  ASSERT_TRUE(file.Init());
  ASSERT_TRUE(file.Add(text.data(), static_cast<uint32_t>(text.size())));
  file.Close();
}

Json ReadJsonFile(const std::string& path) {
  Json value;
  if (!ParseJson(ReadFileBytes(path), value)) return Json();
  return value;
}

class SaveFolderTest : public ManagerHarness {
 protected:
  void SetUp() override {
    server_.SetHandler("/v4/event", [this](const RecordedRequest&) {
      return ScriptedResponse{status_.load(), "", "text/plain", 0};
    });
    ManagerHarness::SetUp();
  }

  // A record without a save path: the default folder below $XDG_DATA_HOME.
  ::InitializationData* DefaultData(const char* appId) {
    ::InitializationData* data = InitializationData_Create(appId, "secret");
    InitializationData_SetHost(data, server_.Url("/v4/event").c_str());
    InitializationData_SetDisableOnlineSdkConfig(data, 1);
    InitializationData_SetRegisterURIScheme(data, 0);
    InitializationData_SetQueueCheckInterval(data, 20);
    InitializationData_SetSendDelay(data, 0);
    return data;
  }
  ::InitializationData* DataIn(const std::string& folder) {
    ::InitializationData* data = Data();
    InitializationData_SetSavePath(data, folder.c_str());
    InitializationData_SetRegisterURIScheme(data, 0);
    return data;
  }
  std::string UserId(CorvaneSDKManagerRef m) { return Take(CorvaneSDKManager_GetUserId(m)); }

  std::atomic<int> status_{204};
};

// ---- one folder per app ------------------------------------------------------------------

TEST_F(SaveFolderTest, EachAppKeepsItsOwnEventsAndUserIdInTheDefaultFolder) {
  ScopedFakeClock clock;
  const std::string xdg = dir_.File("xdg");
  ScopedEnv env("XDG_DATA_HOME", xdg.c_str());
  // Game A cannot deliver: its event stays queued on disk.
  status_ = 503;
  CorvaneSDKManagerRef a = Init(DefaultData("game-a"));
  const std::string userA = UserId(a);
  CorvaneSDKManager_Log(a, "a-only");
  const std::string folderA = xdg + "/CorvaneSDK/game-a";
  // A refused upload: the open event's hold is over and the event is in the queue file.
  ASSERT_TRUE(WaitFor([&] { return server_.Count("/v4/event") > 0; }));
  CorvaneSDKManager_Destroy();
  EXPECT_EQ(ReadJsonFile(folderA + "/.properties").value("appId", ""), "game-a");

  // Game B on the same machine neither sends A's event nor takes A's user id.
  status_ = 204;
  server_.ClearRequests();
  CorvaneSDKManagerRef b = Init(DefaultData("game-b"));
  EXPECT_NE(UserId(b), userA);
  ASSERT_TRUE(WaitForCount("qvsdk_first_open", 1));
  CorvaneSDKManager_Log(b, "b-only");
  ASSERT_TRUE(WaitForCount("b-only", 1));
  EXPECT_TRUE(Named("a-only").empty()) << "game B uploaded game A's event";
  CorvaneSDKManager_Destroy();

  // A's event waited for A.
  CorvaneSDKManagerRef again = Init(DefaultData("game-a"));
  EXPECT_EQ(UserId(again), userA);
  EXPECT_TRUE(WaitForCount("a-only", 1));
}

TEST_F(SaveFolderTest, AnEarlierVersionsFilesMoveToTheFirstAppUnlessTheyNameAnother) {
  ScopedFakeClock clock;
  const std::string xdg = dir_.File("xdg");
  const std::string base = xdg + "/CorvaneSDK";
  ScopedEnv env("XDG_DATA_HOME", xdg.c_str());
  ASSERT_TRUE(Utils::CreateFolder(base));
  ASSERT_TRUE(WriteFileBytes(base + "/.properties", R"({"userId":"u-legacy"})"));
  WriteQueueWith(base + "/.event_queue", "legacy-event");

  CorvaneSDKManagerRef m = Init(DefaultData("game-a"));
  EXPECT_EQ(UserId(m), "u-legacy");
  EXPECT_TRUE(WaitForCount("legacy-event", 1));
  CorvaneSDKManager_Destroy();
  EXPECT_FALSE(CorvaneSDK::Test::FileExists(base + "/.properties"));
  EXPECT_FALSE(CorvaneSDK::Test::FileExists(base + "/.event_queue"));
  const Json moved = ReadJsonFile(base + "/game-a/.properties");
  EXPECT_EQ(moved.value("userId", ""), "u-legacy");
  EXPECT_EQ(moved.value("appId", ""), "game-a");

  // Files that name another app stay where they are, with a Warning.
  ASSERT_TRUE(WriteFileBytes(base + "/.properties", R"({"userId":"u-z","appId":"game-z"})"));
  WriteQueueWith(base + "/.event_queue", "z-event");
  server_.ClearRequests();
  LogCapture log(kLogWarning);
  CorvaneSDKManagerRef b = Init(DefaultData("game-b"));
  EXPECT_NE(UserId(b), "u-z");
  ASSERT_TRUE(WaitForCount("qvsdk_first_open", 1));
  EXPECT_TRUE(Named("z-event").empty());
  EXPECT_TRUE(log.Contains("belong to the app game-z"));
  EXPECT_TRUE(CorvaneSDK::Test::FileExists(base + "/.properties"));
  EXPECT_TRUE(CorvaneSDK::Test::FileExists(base + "/.event_queue"));
}

TEST(SaveFolderNames, AppIdsBecomeSafeFolderNames) {
  EXPECT_EQ(AppFolderName("game-a_1.2"), "game-a_1.2");
  for (const char* hostile : {"", "..", ".", "../../etc", "a/b", "a\\b", "c:", ".hidden",
                              "tab\tname", "CON", "nul.txt", "trailing.", "caf\xc3\xa9"}) {
    const std::string name = AppFolderName(hostile);
    EXPECT_EQ(name.rfind("app-", 0), 0u) << hostile;
    EXPECT_EQ(name.size(), 20u) << hostile;
  }
  EXPECT_NE(AppFolderName("a/b"), AppFolderName("a\\b"));
  EXPECT_EQ(AppFolderName(std::string(64, 'x')), std::string(64, 'x'));
  EXPECT_EQ(AppFolderName(std::string(65, 'x')).rfind("app-", 0), 0u);
}

// ---- who may own and read the files ------------------------------------------------------

TEST_F(SaveFolderTest, FoldersAndFilesAreOwnerOnly) {
  ScopedFakeClock clock;
  const std::string xdg = dir_.File("fresh");
  ScopedEnv env("XDG_DATA_HOME", xdg.c_str());
  const mode_t previous = ::umask(022);
  // The base as an earlier version left it: readable by all.
  ASSERT_TRUE(fs::create_directories(xdg + "/CorvaneSDK"));
  ASSERT_EQ(ModeOf(xdg + "/CorvaneSDK"), 0755u);
  CorvaneSDKManagerRef m = Init(DefaultData("game-a"));
  ::umask(previous);
  CorvaneSDKManager_Log(m, "x");
  ASSERT_TRUE(WaitForCount("x", 1));
  const std::string folder = xdg + "/CorvaneSDK/game-a";
  EXPECT_EQ(ModeOf(xdg + "/CorvaneSDK"), 0700u);
  EXPECT_EQ(ModeOf(folder), 0700u);
  EXPECT_EQ(ModeOf(folder + "/.properties"), 0600u);
  // A drained queue's file is removed and made again: wait out that moment.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!fs::exists(folder + "/.event_queue") && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(ModeOf(folder + "/.event_queue"), 0600u);
}

TEST_F(SaveFolderTest, AFolderOfAnotherUserOrWritableByAllIsRefused) {
  const std::string folder = dir_.File("planted");
  auto plant = [&] {
    ASSERT_TRUE(WriteFileBytes(folder + "/.properties", R"({"userId":"planted"})"));
    WriteQueueWith(folder + "/.event_queue", "planted-event");
  };
  auto expectRefused = [&](const char* why) {
    ScopedFakeClock clock;
    LogCapture log(kLogError);
    server_.ClearRequests();
    CorvaneSDKManagerRef m = Init(DataIn(folder));
    EXPECT_NE(UserId(m), "planted") << why;
    // Memory only, as with saving off: a new user id each run, sent with "qvsdk_open".
    ASSERT_TRUE(WaitForCount("qvsdk_open", 1)) << why;
    EXPECT_TRUE(Named("planted-event").empty()) << why;
    EXPECT_TRUE(log.Contains(why));
    CorvaneSDKManager_Destroy();
    EXPECT_EQ(ReadJsonFile(folder + "/.properties").value("userId", ""), "planted") << why;
  };
  ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
  plant();
  ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
  expectRefused("writable by every user");

  ASSERT_EQ(::chmod(folder.c_str(), 0700), 0);
  if (::geteuid() != 0) GTEST_SKIP() << "only root can give a folder to another user";
  ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
  expectRefused("owned by another user");
}

TEST_F(SaveFolderTest, LinksAreNeverFollowedForTheQueueOrTheProperties) {
  ScopedFakeClock clock;
  const std::string outside = dir_.File("outside");
  const std::string folder = dir_.File("save");
  ASSERT_TRUE(Utils::CreateFolder(outside));
  ASSERT_TRUE(Utils::CreateFolder(folder));
  ASSERT_TRUE(WriteFileBytes(outside + "/props", R"({"userId":"planted"})"));
  ASSERT_TRUE(WriteFileBytes(outside + "/queue", std::string(8192, 'q')));
  ASSERT_EQ(::symlink((outside + "/props").c_str(), (folder + "/.properties").c_str()), 0);
  ASSERT_EQ(::symlink((outside + "/queue").c_str(), (folder + "/.event_queue").c_str()), 0);

  CorvaneSDKManagerRef m = Init(DataIn(folder));
  EXPECT_NE(UserId(m), "planted");
  CorvaneSDKManager_Log(m, "after-links");
  ASSERT_TRUE(WaitForCount("after-links", 1));
  CorvaneSDKManager_Destroy();
  EXPECT_EQ(ReadFileBytes(outside + "/props"), R"({"userId":"planted"})");
  EXPECT_EQ(ReadFileBytes(outside + "/queue"), std::string(8192, 'q'));
}

TEST_F(SaveFolderTest, WithoutHomeTheUserDatabaseIsUsedNeverTheTempFolder) {
  ScopedEnv xdg("XDG_DATA_HOME", nullptr);
  ScopedEnv home("HOME", nullptr);
  ScopedEnv tmp("TMPDIR", dir_.path().c_str());
  struct passwd* entry = ::getpwuid(::geteuid());
  ASSERT_NE(entry, nullptr);
  std::string expected = entry->pw_dir;
  if (expected == "/") expected.clear();
  EXPECT_EQ(Utils::GetDefaultSaveFolder(), expected + "/.local/share/CorvaneSDK");
}

// ---- files that are not what they seem ---------------------------------------------------

TEST_F(SaveFolderTest, AFifoAsPropertiesDoesNotBlockInitialize) {
  ScopedFakeClock clock;
  const std::string fifo = dir_.File(".properties");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::atomic<bool> returned{false};
  std::string userId;
  std::thread host([&] {
    CorvaneSDKManagerRef m = Init();
    userId = UserId(m);
    returned = true;
  });
  const bool inTime = WaitFor([&] { return returned.load(); }, 10000);
  // Frees a reader stuck in open() so that the test itself ends.
  for (int i = 0; i < 100 && !returned; ++i) {
    const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) ::close(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  host.join();
  EXPECT_TRUE(inTime) << "Initialize blocked on a FIFO";
  EXPECT_EQ(userId.size(), 36u);
}

TEST_F(SaveFolderTest, AnOversizedPropertiesFileIsKeptAsideWithAWarning) {
  ScopedFakeClock clock;
  const std::string path = dir_.File(".properties");
  {
    std::ofstream out(path, std::ios::binary);
    out << R"({"userId":"u-big"})" << std::string(Properties::kMaxFileBytes, ' ');
  }
  LogCapture log(kLogWarning);
  CorvaneSDKManagerRef m = Init();
  EXPECT_NE(UserId(m), "u-big");
  EXPECT_TRUE(log.Contains("over the bound"));
  int aside = 0;
  for (const auto& entry : fs::directory_iterator(dir_.path())) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(".properties.oversize-", 0) != 0) continue;
    ++aside;
    EXPECT_EQ(entry.file_size(), Properties::kMaxFileBytes + 18);
  }
  EXPECT_EQ(aside, 1);
}

// ---- two instances, one properties file --------------------------------------------------

TEST(SharedProperties, TwoInstancesAgreeOnTheUserIdAndKeepEachOthersValues) {
  TempDir dir;
  Properties first(dir.path(), ".properties");
  Properties second(dir.path(), ".properties");
  first.Open();
  second.Open();  // both saw no user id
  EXPECT_TRUE(second.SetStringIfAbsent("userId", "from-second"));
  EXPECT_FALSE(first.SetStringIfAbsent("userId", "from-first"));
  EXPECT_EQ(first.GetString("userId"), "from-second");

  second.SetString("remoteConfig", "{}");
  ASSERT_TRUE(second.Save());
  first.SetBool("gdprForgetMe", true);
  first.Remove("nothing");
  ASSERT_TRUE(first.Save());
  Properties reader(dir.path(), ".properties");
  reader.Open();
  EXPECT_EQ(reader.GetString("userId"), "from-second");
  EXPECT_EQ(reader.GetString("remoteConfig"), "{}");
  EXPECT_TRUE(reader.GetBool("gdprForgetMe"));
}

}  // namespace
