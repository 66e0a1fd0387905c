// A test's child program with pipes on stdin and stdout and stderr in a file. A reader
// thread hands each stdout line to the owner and says when stdout closed (exit or crash).
// POSIX only: the crash tests spawn and SIGKILL their children.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

class ChildProcess {
 public:
  using LineHandler = std::function<void(const std::string& line)>;
  using EndHandler = std::function<void()>;

  ChildProcess() = default;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() { Kill(); }

  // Starts `program args...`; `onLine` and `onEnd` run on the reader thread. `appendStderr`
  // keeps what earlier runs wrote to `stderrPath`.
  bool Spawn(const std::string& program, const std::vector<std::string>& args,
             const std::string& stderrPath, bool appendStderr, LineHandler onLine,
             EndHandler onEnd);
  // SIGKILL and reap; returns the steady-clock milliseconds of the kill.
  int64_t Kill();
  // Closes stdin (the child's cue to shut down) and waits for its exit. False when it exited
  // with a failure or had to be killed after `timeoutMs`.
  bool Finish(int timeoutMs);

  static int64_t SteadyMs();

 private:
  void Close();
  void ReadLoop();

  pid_t pid_ = -1;
  int stdin_ = -1;
  int stdout_ = -1;
  std::thread reader_;
  LineHandler onLine_;
  EndHandler onEnd_;
};
