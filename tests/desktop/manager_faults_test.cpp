// The manager under process-level faults, end to end through the C interface: events logged
// before the start, the open event across an ending run, exceptions on SDK threads, fork()
// and a server that never answers an upload.
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <new>
#include <set>

#include "FakeClock.h"
#include "FileIO.h"
#include "LogCapture.h"
#include "PendingOpenStore.h"
#include "TestEnv.h"
#include "manager_harness.h"

using CorvaneSDK::Json;
using namespace CorvaneSDK::Test;

namespace {

class ManagerFaults : public ManagerHarness {
 protected:
  std::string PendingPath() const { return dir_.path() + "/" + CorvaneSDK::PendingOpenStore::kFileName; }
};

// Accepts connections and reads requests, never answers. Counts the requests it has seen.
class SilentServer {
 public:
  SilentServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(fd_, 16) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
      return;
    }
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] {
      for (;;) {
        const int c = ::accept(fd_, nullptr, nullptr);
        if (c < 0) return;
        clients_.push_back(c);
        char buffer[4096];
        if (::recv(c, buffer, sizeof(buffer), 0) > 0) ++requests_;
      }
    });
  }
  ~SilentServer() {
    ::shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
    if (thread_.joinable()) thread_.join();
    for (int c : clients_) ::close(c);
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/v4/event"; }
  int Requests() const { return requests_.load(); }

 private:
  int fd_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::vector<int> clients_;
  std::atomic<int> requests_{0};
};

}  // namespace

// ---- events before the start ---------------------------------------------------------

TEST_F(ManagerFaults, EventsLoggedBeforeTheAutomaticStartAreSentAfterItInOrderWithTheirTime) {
  ScopedFakeClock clock;
  std::atomic<bool> release{false};
  server_.SetHandler("/v1/public/config", [&](const RecordedRequest&) {
    for (int i = 0; i < 10000 && !release; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return ScriptedResponse{404, "", "text/plain", 0};
  });
  ::InitializationData* data = Data();
  InitializationData_SetDisableOnlineSdkConfig(data, 0);
  CorvaneSDKManager_Initialize3(data, OnReady, 7);
  InitializationData_Destroy(data);
  CorvaneSDKManagerRef m = CorvaneSDKManager_GetInstance();
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(CorvaneSDKManager_IsInitialized(m), 0);  // still fetching its configuration
  const int64_t loggedAt = clock->WallMs();
  CorvaneSDKManager_Log(m, "early_1");
  CorvaneSDKManager_Log(m, "early_2");
  clock->Advance(60000);
  release = true;
  ASSERT_TRUE(WaitForCount("early_2", 1));
  const auto received = Received();
  int first = -1, second = -1;
  for (size_t i = 0; i < received.size(); ++i) {
    if (received[i]["eventName"] == "early_1") first = static_cast<int>(i);
    if (received[i]["eventName"] == "early_2") second = static_cast<int>(i);
  }
  ASSERT_GE(first, 0);
  EXPECT_LT(first, second);
  EXPECT_EQ(Named("early_1").size(), 1u);
  const int64_t time = Named("early_1")[0]["timeInMs"].get<int64_t>();
  EXPECT_GE(time, loggedAt);
  EXPECT_LT(time, loggedAt + 60000);  // its own time, not the time of the start
  EXPECT_EQ(Named("early_1")[0]["id"], Take(CorvaneSDKManager_GetSessionId(m)));
}

TEST_F(ManagerFaults, EventsWaitingForTheAutomaticStartOverflowWithAWarning) {
  ScopedFakeClock clock;
  LogCapture log(1);
  std::atomic<bool> release{false};
  server_.SetHandler("/v1/public/config", [&](const RecordedRequest&) {
    for (int i = 0; i < 10000 && !release; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return ScriptedResponse{404, "", "text/plain", 0};
  });
  ::InitializationData* data = Data();
  InitializationData_SetDisableOnlineSdkConfig(data, 0);
  InitializationData_SetLogLevel(data, 1);
  CorvaneSDKManager_Initialize(data);
  InitializationData_Destroy(data);
  CorvaneSDKManagerRef m = CorvaneSDKManager_GetInstance();
  for (int i = 0; i < 5003; ++i) CorvaneSDKManager_Log(m, ("early_" + std::to_string(i)).c_str());
  release = true;
  // The hold kept the newest 5000; they go out with the open event in batches of 50 (which
  // also empties the process-wide hold for later tests).
  ASSERT_TRUE(server_.WaitForCount("/v4/event", 100, 60000));
  ASSERT_TRUE(WaitForCount("early_5002", 1));
  EXPECT_TRUE(Named("early_0").empty());
  EXPECT_TRUE(Named("early_2").empty());
  EXPECT_EQ(log.CountContaining("Events waiting for the start exceed 5000"), 1);
  EXPECT_TRUE(log.Contains("dropped the oldest 1"));
}

TEST_F(ManagerFaults, EventsDroppedBeforeAManualStartAreCountedAtMostOncePer10s) {
  ScopedFakeClock clock(false);
  LogCapture log(1);
  ::InitializationData* data = Data();
  InitializationData_SetAutoStart(data, 0);
  InitializationData_SetLogLevel(data, 1);
  CorvaneSDKManagerRef m = Init(data);
  for (int i = 0; i < 3; ++i) CorvaneSDKManager_Log(m, "not_started");
  clock->Advance(10000);
  CorvaneSDKManager_Log(m, "not_started");
  EXPECT_EQ(log.CountContaining("tracking has not started"), 2);
  EXPECT_TRUE(log.Contains("Dropped 1 event(s)"));
  EXPECT_TRUE(log.Contains("Dropped 3 event(s)"));
  // The drop itself stays: an app may use Start as its consent gate.
  CorvaneSDKManager_Start(m);
  clock->Advance(5000);
  ASSERT_TRUE(WaitForCountAdvancing(clock, "qvsdk_first_open", 1));
  EXPECT_TRUE(Named("not_started").empty());
}

// ---- the open event across runs --------------------------------------------------------

TEST_F(ManagerFaults, PendingOpenEventIsStoredDuringItsHoldAndSentOnceAfterACleanEnd) {
  {
    ScopedFakeClock clock(false);  // the hold never ends by itself
    Init();
    ASSERT_TRUE(CorvaneSDK::FileExists(PendingPath()));
    CorvaneSDKManager_OpenURL("game://held");
    std::string stored;
    ASSERT_TRUE(CorvaneSDK::ReadWholeFile(PendingPath(), stored, 1 << 20));
    EXPECT_NE(stored.find("qvsdk_first_open"), std::string::npos);
    EXPECT_NE(stored.find("game://held"), std::string::npos);
    CorvaneSDKManager_Destroy();  // the open event goes into the queue
    EXPECT_FALSE(CorvaneSDK::FileExists(PendingPath()));
  }
  ScopedFakeClock clock;
  Init();
  ASSERT_TRUE(WaitForCount("qvsdk_open", 1));
  ASSERT_TRUE(WaitForCount("qvsdk_first_open", 1));
  // One event: an upload cut short by Destroy may be repeated, but under the same eId.
  std::set<std::string> eIds;
  for (const auto& e : Named("qvsdk_first_open")) eIds.insert(e["eId"].get<std::string>());
  EXPECT_EQ(eIds.size(), 1u);
  EXPECT_EQ(Named("qvsdk_first_open")[0]["subEvents"].size(), 1u);
}

// ---- threads -----------------------------------------------------------------------------

TEST_F(ManagerFaults, ExceptionOnTheSendingThreadIsLoggedAndSendingCarriesOn) {
  ScopedFakeClock clock;
  LogCapture log(0);
  CorvaneSDKManagerRef m = Init();
  ASSERT_TRUE(WaitForCount("qvsdk_first_open", 1));
  const std::thread::id host = std::this_thread::get_id();
  std::atomic<bool> thrown{false};
  // The first queue file write away from the host thread (the removal of an accepted
  // batch, on the sending thread) runs out of memory.
  ::CorvaneSDK::Test::ProcessEnv().SetFileFaultInjector([&](CorvaneSDK::FileOp op, const std::string& path) -> bool {
    if (op == CorvaneSDK::FileOp::Write && path.find(".event_queue") != std::string::npos &&
        std::this_thread::get_id() != host && !thrown.exchange(true)) {
      throw std::bad_alloc();
    }
    return false;
  });
  CorvaneSDKManager_Log(m, "before_fault");
  ASSERT_TRUE(server_.WaitForCount("/v4/event", 2));
  for (int i = 0; i < 5000 && !thrown; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_TRUE(thrown);
  CorvaneSDKManager_Log(m, "after_fault");
  EXPECT_TRUE(WaitForCount("after_fault", 1));
  ::CorvaneSDK::Test::ProcessEnv().SetFileFaultInjector(nullptr);
  EXPECT_TRUE(log.Contains("Caught an exception on the sending thread: std::bad_alloc"));
}

TEST_F(ManagerFaults, ForkedChildHasAnInertManagerAndDestroysItAtOnce) {
  ScopedFakeClock clock;
  CorvaneSDKManagerRef m = Init();
  ASSERT_TRUE(WaitForCount("qvsdk_first_open", 1));
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::alarm(10);  // a hang in the child ends it with SIGALRM
    CorvaneSDKManager_Log(m, "from_child");
    const int ignored = CorvaneSDKManager_IsInitialized(m) == 0 ? 0 : 4;
    CorvaneSDKManager_Destroy();
    ::_exit(ignored + (CorvaneSDKManager_GetInstance() == nullptr ? 0 : 8));
  }
  int status = 0;
  pid_t done = 0;
  for (int i = 0; i < 20000 && done == 0; ++i) {
    done = ::waitpid(child, &status, WNOHANG);
    if (done == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (done == 0) {
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
  }
  ASSERT_TRUE(WIFEXITED(status)) << "the child did not end by itself (signal "
                                 << (WIFSIGNALED(status) ? WTERMSIG(status) : 0) << ")";
  EXPECT_EQ(WEXITSTATUS(status), 0);
  // The parent's manager is untouched and the child sent nothing.
  CorvaneSDKManager_Log(m, "from_parent");
  ASSERT_TRUE(WaitForCount("from_parent", 1));
  EXPECT_TRUE(Named("from_child").empty());
}

// ---- a server that never answers --------------------------------------------------------

TEST_F(ManagerFaults, DestroyAbortsAnUploadToAServerThatNeverAnswers) {
  ScopedFakeClock clock;
  SilentServer silent;
  ::InitializationData* data = Data();
  InitializationData_SetHost(data, silent.Url().c_str());
  CorvaneSDKManagerRef m = Init(data);
  CorvaneSDKManager_Log(m, "stuck");
  for (int i = 0; i < 10000 && silent.Requests() == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_GT(silent.Requests(), 0);
  const auto start = std::chrono::steady_clock::now();
  CorvaneSDKManager_Destroy();
  const auto tookMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - start)
                          .count();
  // The transfer timeout is 5 s; a cancelled upload ends far sooner even on a loaded machine.
  EXPECT_LT(tookMs, 2500);
  // The batch stayed queued for the next run.
  std::string file;
  ASSERT_TRUE(CorvaneSDK::ReadWholeFile(dir_.path() + "/.event_queue", file, 1 << 20));
  ASSERT_GE(file.size(), 8u);
  EXPECT_NE(file.substr(4, 4), std::string(4, '\0'));  // element count in the header

}
