// Several instances of one game on one save folder, as real processes: the test process owns
// the folder, crash_child instances start while it runs (one is killed, one exits cleanly),
// and the next owner must deliver every event of all of them exactly once.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "sdk_harness.h"

extern char** environ;

namespace CorvaneSDK {
namespace Test {
namespace {

namespace fs = std::filesystem;

// Every labelled event (any name) of every accepted upload, by eId. Thread-safe.
class AnyLabelServer {
 public:
  bool Start() {
    server_.SetHandler("/v4/event", [this](const RecordedRequest& r) {
      const int status = status_.load();
      if (status >= 200 && status <= 299) Record(r.body);
      return ScriptedResponse{status, "", "text/plain", 0};
    });
    return server_.Start();
  }
  std::string Url() const { return server_.Url("/v4/event"); }
  void SetStatus(int status) { status_ = status; }
  int Missing(const std::vector<std::string>& labels) const {
    std::lock_guard<std::mutex> lock(mutex_);
    int n = 0;
    for (const auto& l : labels) n += labels_.count(l) == 0 ? 1 : 0;
    return n;
  }
  int Duplicates() const {
    std::lock_guard<std::mutex> lock(mutex_);
    int n = 0;
    for (const auto& e : eIds_) n += e.second - 1;
    for (const auto& l : labels_) n += static_cast<int>(l.second.size()) - 1;
    return n;
  }

 private:
  void Record(const std::string& body) {
    const Json batch = Json::parse(body, nullptr, false);
    if (batch.is_discarded() || !batch.contains("subMessages")) return;
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Json& e : batch["subMessages"]) {
      if (!e.is_object() || !e.contains("value") || !e["value"].is_object()) continue;
      const Json& value = e["value"];
      if (!value.contains("value") || !value["value"].is_string()) continue;
      const std::string eId = e.value("eId", "");
      ++eIds_[eId];
      labels_[value["value"].get<std::string>()].insert(eId);
    }
  }

  TestHttpServer server_;
  std::atomic<int> status_{204};
  mutable std::mutex mutex_;
  std::map<std::string, int> eIds_;
  std::map<std::string, std::set<std::string>> labels_;
};

// One crash_child run: stdin a pipe (closing it makes the child destroy the SDK and exit),
// stdout and stderr in files.
class Instance {
 public:
  ~Instance() { Kill(); }
  bool Spawn(const std::vector<std::string>& args, const std::string& outPath,
             const std::string& errPath) {
    outPath_ = outPath;
    int in[2];
    if (::pipe2(in, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    std::vector<char*> argv{const_cast<char*>(CORVANE_CRASH_CHILD)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const int rc = ::posix_spawn(&pid_, CORVANE_CRASH_CHILD, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    if (rc != 0) {
      pid_ = -1;
      ::close(in[1]);
      return false;
    }
    stdin_ = in[1];
    return true;
  }
  // Waits for the line "D": every label was logged and its log call returned.
  bool WaitDone(int timeoutMs) {
    return WaitUntil([&] { return ReadFileBytes(outPath_).find("\nD\n") != std::string::npos; },
                     timeoutMs);
  }
  void Kill() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
    CloseStdin();
  }
  // Closes stdin and waits for a clean exit.
  bool Finish(int timeoutMs) {
    CloseStdin();
    int status = 0;
    const bool exited = WaitUntil([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, timeoutMs);
    if (!exited) return false;
    pid_ = -1;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  pid_t pid() const { return pid_; }

 private:
  void CloseStdin() {
    if (stdin_ >= 0) ::close(stdin_);
    stdin_ = -1;
  }
  pid_t pid_ = -1;
  int stdin_ = -1;
  std::string outPath_;
};

class SharedFolderTest : public SdkHarness {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.Start()); }
  std::vector<std::string> Args(const std::string& prefix, int count) {
    return {"--dir", SaveDir(), "--host", server_.Url(), "--prefix", prefix, "--count",
            std::to_string(count)};
  }
  // The record of Data() for the app the other instances run as: one game, several instances.
  ::InitializationData* GameData() {
    ::InitializationData* data = InitializationData_Create("crash-app", "crash-secret");
    InitializationData_SetHost(data, server_.Url().c_str());
    InitializationData_SetConfigUrl(data, "http://127.0.0.1:9/v1/public/config");
    InitializationData_SetSavePath(data, SaveDir().c_str());
    InitializationData_SetDisableOnlineSdkConfig(data, 1);
    InitializationData_SetRegisterURIScheme(data, 0);
    InitializationData_SetQueueCheckInterval(data, kCheckIntervalMs);
    InitializationData_SetSendDelay(data, 0);
    return data;
  }
  static std::vector<std::string> Labels(const std::string& prefix, int count) {
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) out.push_back(prefix + std::to_string(i));
    return out;
  }
  AnyLabelServer server_;
};

TEST_F(SharedFolderTest, OtherInstancesQueueApartAndTheNextOwnerDeliversTheirEventsOnce) {
  server_.SetStatus(503);  // nothing can be delivered while they all run
  Init(GameData());
  std::vector<std::string> all = Log("owner-", 20);

  Instance crashed, clean;
  ASSERT_TRUE(crashed.Spawn(Args("crashed-", 20), dir_.File("crashed.out"), dir_.File("crashed.err")));
  ASSERT_TRUE(clean.Spawn(Args("clean-", 20), dir_.File("clean.out"), dir_.File("clean.err")));
  ASSERT_TRUE(crashed.WaitDone(30000)) << ReadFileBytes(dir_.File("crashed.err"));
  ASSERT_TRUE(clean.WaitDone(30000)) << ReadFileBytes(dir_.File("clean.err"));
  const auto more = Log("owner-late-", 20);  // while the others write too
  all.insert(all.end(), more.begin(), more.end());
  for (const auto& prefix : {"crashed-", "clean-"}) {
    const auto labels = Labels(prefix, 20);
    all.insert(all.end(), labels.begin(), labels.end());
  }
  const std::string crashedQueue = SaveDir() + "/.event_queue." + std::to_string(crashed.pid());
  const std::string cleanQueue = SaveDir() + "/.event_queue." + std::to_string(clean.pid());
  EXPECT_TRUE(fs::exists(crashedQueue));
  EXPECT_TRUE(fs::exists(cleanQueue));
  crashed.Kill();
  EXPECT_TRUE(clean.Finish(30000)) << ReadFileBytes(dir_.File("clean.err"));
  CorvaneSDKManager_Destroy();

  // The next start owns the folder and takes over what the others left.
  server_.SetStatus(204);
  Init(GameData());
  EXPECT_TRUE(WaitUntil([&] { return server_.Missing(all) == 0; }, 30000))
      << server_.Missing(all) << " of " << all.size() << " events never arrived";
  EXPECT_EQ(server_.Duplicates(), 0);
  EXPECT_FALSE(fs::exists(crashedQueue));
  EXPECT_FALSE(fs::exists(cleanQueue));
  CorvaneSDKManager_Destroy();

  // A later owner finds nothing left to send again.
  Init(GameData());
  Log("last-", 1);
  EXPECT_TRUE(WaitUntil([&] { return server_.Missing({"last-0"}) == 0; }));
  EXPECT_EQ(server_.Duplicates(), 0);
}

}  // namespace
}  // namespace Test
}  // namespace CorvaneSDK
