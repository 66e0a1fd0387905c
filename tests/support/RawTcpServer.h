// A loopback TCP server that speaks just enough HTTP/1.1 for fault tests to misbehave on
// purpose (resets, silence, early answers, redirects). Each connection runs Serve on its own
// thread. A subclass must call Stop() in its destructor, before its own state goes.
// POSIX only.
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class RawTcpServer {
 public:
  RawTcpServer() = default;
  RawTcpServer(const RawTcpServer&) = delete;
  RawTcpServer& operator=(const RawTcpServer&) = delete;
  virtual ~RawTcpServer() = default;

  // Listens on 127.0.0.1 at a free port.
  bool Start();
  // Ends the accept loop and every connection, and joins their threads. Idempotent.
  void Stop();
  int Port() const { return port_; }

 protected:
  virtual void Serve(int fd) = 0;
  bool Running() const { return running_; }

  // Reads the head of the next request (up to and with the blank line) into `head` and
  // leaves what follows in `buffer`; false on close, error or Stop.
  bool ReadHead(int fd, std::string& buffer, std::string& head);
  // Reads until `buffer` holds at least `n` bytes; false on close, error or Stop.
  bool Fill(int fd, std::string& buffer, size_t n);
  // Head and body of the next request (the body by its Content-Length).
  bool ReadRequest(int fd, std::string& buffer, std::string& body);
  static size_t ContentLength(const std::string& head);
  static bool SendAll(int fd, const std::string& text);
  // Makes the coming close an RST instead of a FIN.
  static void ResetOnClose(int fd);

 private:
  void AcceptLoop();
  bool Receive(int fd, std::string& buffer);

  int listen_ = -1;
  int port_ = 0;
  std::atomic<bool> running_{false};
  std::thread acceptor_;
  std::mutex mutex_;
  std::vector<std::thread> threads_;
};
