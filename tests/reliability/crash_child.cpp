// The host program that crash_test kills: the SDK through its C interface, labelled events
// logged as fast as it can, and "L <label>" printed on stdout after each log call returned.
// It then waits for stdin to close, destroys the manager and exits 0.

// Usage: corvane_crash_child --dir D --host URL --prefix P --count N
//                            [--scale F] [--burst B --pause MS] [--slow-io-us US]
//                            [--deeplinks K]
// Other stdout lines: "R" when the manager has started, "D" when logging is done.
// SDK log lines go to stderr. Time runs F times faster inside the SDK (default 20), so the
// 5 s open-event hold and the back-off waits of a real run take a twentieth of the time;
// libcurl's own 5 s transfer timeout is unaffected. --slow-io-us makes every file read and
// write wait first (a slow disk), which widens the windows between the writes of one
// queue change, such as an expansion's copy and its header write. --deeplinks opens K deep
// links "game://held/<i>" right after the start, printing "U <i>" after each; they are held
// under the open event.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "Clock.h"
#include "CorvaneSDK.h"
#include "SystemEnv.h"
#include "FileIO.h"
#include "Logger.h"
#include "Utils.h"
#include "Logger.h"

namespace {

using namespace CorvaneSDK;

// Real time sped up by a constant factor. Thread-safe (immutable after construction).
class ScaledClock : public Clock {
 public:
  explicit ScaledClock(int factor)
      : factor_(factor < 1 ? 1 : factor), start_(std::chrono::steady_clock::now()) {}
  int64_t WallMs() override { return system_.WallMs(); }
  int64_t MonotonicMs() override {
    const auto real = std::chrono::steady_clock::now() - start_;
    return 1000000 +
           std::chrono::duration_cast<std::chrono::milliseconds>(real).count() * factor_;
  }
  bool Sleep(int64_t ms, Interrupt* interrupt) override {
    if (interrupt != nullptr && interrupt->IsSet()) return false;
    if (ms <= 0) return true;
    const int64_t real = (ms + factor_ - 1) / factor_;
    if (interrupt != nullptr) return !interrupt->WaitFor(real);
    std::this_thread::sleep_for(std::chrono::milliseconds(real));
    return true;
  }

 private:
  const int64_t factor_;
  const std::chrono::steady_clock::time_point start_;
  SystemClock system_;
};

// SDK log lines go to stderr, keeping stdout for the protocol. Thread-safe (one write each).
class StderrChannel : public LogChannel {
 public:
  void WriteLine(const std::string& line) override { WriteAll(2, line + "\n"); }
  static void WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
      if (n <= 0) return;
      done += static_cast<size_t>(n);
    }
  }
};

// The child's environment: the scaled clock, stderr for log lines and, with a delay, a slow
// disk in front of every file read and write; the rest is the system's.
class ChildEnv : public Env {
 public:
  ChildEnv(int scale, int slowIoUs) : clock_(scale), slowIoUs_(slowIoUs) {}
  Clock& GetClock() override { return clock_; }
  uint64_t RandomBits() override { return SystemEnv::Instance().RandomBits(); }
  bool ShouldFailFileOp(FileOp op, const std::string&) override {
    if (slowIoUs_ > 0 && (op == FileOp::Read || op == FileOp::Write)) {
      std::this_thread::sleep_for(std::chrono::microseconds(slowIoUs_));
    }
    return false;
  }
  Utils::NetworkAddress QueryNetworkAddress() override {
    return SystemEnv::Instance().QueryNetworkAddress();
  }
  LogChannel& LogSink() override { return channel_; }

 private:
  ScaledClock clock_;
  StderrChannel channel_;
  int slowIoUs_;
};

std::atomic<bool> g_started{false};
void OnStart(int) { g_started = true; }

// One write per line: below PIPE_BUF it reaches the pipe whole, and it survives the
// SIGKILL that may follow at once.
void Say(const std::string& line) { StderrChannel::WriteAll(1, line + "\n"); }

const char* Arg(int argc, char** argv, const char* name, const char* fallback) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], name) == 0) return argv[i + 1];
  }
  return fallback;
}

}  // namespace

int main(int argc, char** argv) {
  ::signal(SIGPIPE, SIG_IGN);
  const std::string dir = Arg(argc, argv, "--dir", "");
  const std::string host = Arg(argc, argv, "--host", "");
  const std::string prefix = Arg(argc, argv, "--prefix", "x-");
  const int count = std::atoi(Arg(argc, argv, "--count", "0"));
  const int scale = std::atoi(Arg(argc, argv, "--scale", "20"));
  const int burst = std::atoi(Arg(argc, argv, "--burst", "0"));
  const int pauseMs = std::atoi(Arg(argc, argv, "--pause", "0"));
  const int slowIoUs = std::atoi(Arg(argc, argv, "--slow-io-us", "0"));
  const int deepLinks = std::atoi(Arg(argc, argv, "--deeplinks", "0"));
  if (dir.empty() || host.empty()) {
    std::fprintf(stderr, "usage: %s --dir D --host URL --prefix P --count N\n", argv[0]);
    return 2;
  }

  // Installed until exit: SDK threads may still use it during Destroy.
  static ChildEnv env(scale, slowIoUs);
  Env::SetDefault(&env);

  CorvaneSDKManager_AddStartCallback(OnStart, 1);
  InitializationData* data = InitializationData_Create("crash-app", "crash-secret");
  InitializationData_SetSavePath(data, dir.c_str());
  InitializationData_SetHost(data, host.c_str());
  InitializationData_SetConfigUrl(data, host.c_str());
  InitializationData_SetDisableOnlineSdkConfig(data, 1);
  InitializationData_SetRegisterURIScheme(data, 0);
  InitializationData_SetLogLevel(data, 1);
  InitializationData_SetQueueCheckInterval(data, 100);
  CorvaneSDKManager_Initialize(data);
  InitializationData_Destroy(data);
  for (int i = 0; i < 10000 && !g_started; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (!g_started) {
    Say("E not started");
    return 3;
  }
  Say("R");

  CorvaneSDKManagerRef manager = CorvaneSDKManager_GetInstance();
  for (int i = 0; i < deepLinks; ++i) {
    CorvaneSDKManager_OpenURL(("game://held/" + std::to_string(i)).c_str());
    Say("U " + std::to_string(i));
  }
  for (int i = 0; i < count; ++i) {
    const std::string label = prefix + std::to_string(i);
    CorvaneSDKEvent event = CorvaneSDKEvent_Get("crash_label");
    CorvaneSDKEvent_SetStringValue(event, label.c_str());
    CorvaneSDKManager_LogEvent(manager, event);
    Say("L " + label);
    if (burst > 0 && pauseMs > 0 && (i + 1) % burst == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    }
  }
  Say("D");

  char buffer[256];
  while (::read(0, buffer, sizeof(buffer)) > 0) {
  }
  CorvaneSDKManager_Destroy();
  return 0;
}
