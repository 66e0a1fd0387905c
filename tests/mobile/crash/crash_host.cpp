// The host program that the mobile crash test kills: the delivery engine on the portable ports
// (real threads, real files, libcurl), logging labelled events and printing after each log
// call returned. Usage:
//   corvane_mobile_crash_host --dir D --host URL --prefix P --count N [--drain]
// Log mode: prints "R" once started, then "L <label> <eId> <steady ms>" after each log call,
// "D" when done, and waits for stdin to close. --drain: logs nothing, uploads what the queue
// file holds, prints "E <queue length>" once the queue is empty (or after 20 s) and exits.
// Engine log lines go to stderr.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "CorvaneSDKConfiguration.h"
#include "CorvaneSDKEvent.h"
#include "CorvaneSDKFileStorage.h"
#include "CorvaneSDKHTTPClient.h"
#include "CorvaneSDKIntegrationHost.h"
#include "CorvaneSDKManagerIntegration.h"
#include "CorvaneSDKUserDefaultsStorage.h"
#include "Platform.h"
#include "UserDefaults.h"

namespace {

using namespace CorvaneSDK::Mobile;

class Host : public CorvaneSDKIntegrationHost {
 public:
  explicit Host(std::string url) : url_(std::move(url)) {}
  bool checkReady() override { return true; }
  void onSendEvent(const Value&) override {}
  void onFinishFlush() override { ++finished; }
  std::string getUserId() override { return "5b0c4c5e-0f5b-4d55-9a3e-9f8f2d1e7a10"; }
  std::string getSessionId() override { return "crash-session"; }
  std::string getHost() override { return url_; }
  std::string getCredential() override { return "YXBwOnNlY3JldA=="; }  // app:secret
  std::atomic<int> finished{0};

 private:
  const std::string url_;
};

int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void Say(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir, url, prefix = "x";
  long count = 0;
  bool drain = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
    if (arg == "--drain") {
      drain = true;
    } else if (next != nullptr && arg == "--dir") {
      dir = argv[++i];
    } else if (next != nullptr && arg == "--host") {
      url = argv[++i];
    } else if (next != nullptr && arg == "--prefix") {
      prefix = argv[++i];
    } else if (next != nullptr && arg == "--count") {
      count = std::strtol(argv[++i], nullptr, 10);
    } else {
      std::fprintf(stderr, "unknown argument %s\n", arg.c_str());
      return 2;
    }
  }
  if (dir.empty() || url.empty()) {
    std::fprintf(stderr, "usage: %s --dir D --host URL [--prefix P --count N | --drain]\n", argv[0]);
    return 2;
  }
  auto ports = std::make_shared<Ports>(Platform::portable(dir));
  Platform::install(ports);
  auto configuration = std::make_shared<CorvaneSDKConfiguration>("app", "secret");
  configuration->flushAt = 5;
  configuration->flushInterval = 0.05;
  auto host = std::make_shared<Host>(url);
  auto storage = std::make_shared<CorvaneSDKFileStorage>(dir + "/store", nullptr);
  auto defaults = std::make_shared<CorvaneSDKUserDefaultsStorage>(ports->userDefaults->standard(), std::nullopt,
                                                                  nullptr);
  auto engine = CorvaneSDKManagerIntegration::create(host, configuration, std::make_shared<CorvaneSDKHTTPClient>(),
                                                     storage, defaults);
  engine->start();
  if (drain) {
    engine->flush();
    const int64_t end = SteadyMs() + 20000;
    size_t left = engine->getQueueSize();
    while (left != 0 && SteadyMs() < end) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      left = engine->getQueueSize();
    }
    Say("E " + std::to_string(left));
    // The emptied queue is on disk (written before the last length was read); the engine's
    // threads need no orderly end.
    std::_Exit(left == 0 ? 0 : 1);
  }
  Say("R");
  for (long i = 0; i < count; ++i) {
    const std::string label = prefix + "-" + std::to_string(i);
    auto event = std::make_shared<CorvaneSDKLogOperation>("crash", Value{{"label", label}}, "", "default",
                                                          std::nullopt);
    engine->log(event);
    Say("L " + label + " " + event->eId + " " + std::to_string(SteadyMs()));
    // Bursts with short rests: the queue grows and is rewritten while uploads come and go.
    if (i % 16 == 15) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  Say("D");
  char c;
  while (::read(0, &c, 1) > 0) {
  }
  std::_Exit(0);
}
