// corvane-collector: a local server that speaks the SDK's wire protocol and stores what it
// receives in SQLite, plus commands that read that store. See docs/collector.md.
#include <signal.h>

#include <ctime>
#include <iostream>
#include <string>
#include <vector>

#include "Commands.h"

int main(int argc, char** argv) {
  // SIGINT and SIGTERM are blocked in every thread and taken by sigwait below, so the
  // server is always stopped through the normal path.
  // A shell starts background jobs with SIGINT ignored; the default is restored first.
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  // A reader that goes away (tail | head) must end the program, not kill it mid-write.
  signal(SIGPIPE, SIG_IGN);

  auto wait = [&stopSignals](int timeoutMs) {
    if (timeoutMs < 0) {
      int signal = 0;
      return sigwait(&stopSignals, &signal) != 0;
    }
    timespec timeout{timeoutMs / 1000, static_cast<long>(timeoutMs % 1000) * 1000000L};
    return sigtimedwait(&stopSignals, nullptr, &timeout) < 0;
  };
  std::vector<std::string> args(argv + 1, argv + argc);
  return CorvaneSDK::Collector::RunCommand(args, std::cout, std::cerr, wait);
}
