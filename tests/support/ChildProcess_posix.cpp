#include "ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

extern char** environ;

int64_t ChildProcess::SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool ChildProcess::Spawn(const std::string& program, const std::vector<std::string>& args,
                         const std::string& stderrPath, bool appendStderr, LineHandler onLine,
                         EndHandler onEnd) {
  Kill();
  int in[2], out[2];
  if (::pipe2(in, O_CLOEXEC) != 0) return false;
  if (::pipe2(out, O_CLOEXEC) != 0) {
    ::close(in[0]);
    ::close(in[1]);
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, stderrPath.c_str(),
                                   O_WRONLY | O_CREAT | (appendStderr ? O_APPEND : O_TRUNC), 0644);
  // Sockets of the parent's test server must not live on in the child.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const int rc = ::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  ::close(out[1]);
  if (rc != 0) {
    pid_ = -1;
    ::close(in[1]);
    ::close(out[0]);
    return false;
  }
  stdin_ = in[1];
  stdout_ = out[0];
  onLine_ = std::move(onLine);
  onEnd_ = std::move(onEnd);
  reader_ = std::thread([this] { ReadLoop(); });
  return true;
}

int64_t ChildProcess::Kill() {
  const int64_t at = SteadyMs();
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
  }
  Close();
  return at;
}

bool ChildProcess::Finish(int timeoutMs) {
  if (stdin_ >= 0) ::close(stdin_);
  stdin_ = -1;
  bool ok = false;
  const int64_t deadline = SteadyMs() + timeoutMs;
  while (pid_ > 0) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
      pid_ = -1;
      break;
    }
    if (SteadyMs() > deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  Kill();
  return ok;
}

void ChildProcess::Close() {
  if (stdin_ >= 0) ::close(stdin_);
  stdin_ = -1;
  if (reader_.joinable()) reader_.join();
  if (stdout_ >= 0) ::close(stdout_);
  stdout_ = -1;
}

void ChildProcess::ReadLoop() {
  std::string pending;
  char buffer[8192];
  for (;;) {
    const ssize_t n = ::read(stdout_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    pending.append(buffer, static_cast<size_t>(n));
    size_t start = 0;
    for (size_t nl; (nl = pending.find('\n', start)) != std::string::npos; start = nl + 1) {
      if (onLine_) onLine_(pending.substr(start, nl - start));
    }
    pending.erase(0, start);
  }
  if (onEnd_) onEnd_();
}
