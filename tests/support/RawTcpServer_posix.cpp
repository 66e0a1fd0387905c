#include "RawTcpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

bool RawTcpServer::Start() {
  listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_ < 0) return false;
  int one = 1;
  ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof(addr);
  if (::bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
      ::listen(listen_, 16) != 0 ||
      ::getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    ::close(listen_);
    listen_ = -1;
    return false;
  }
  port_ = ntohs(addr.sin_port);
  running_ = true;
  acceptor_ = std::thread([this] { AcceptLoop(); });
  return true;
}

void RawTcpServer::Stop() {
  if (!running_.exchange(false)) return;
  if (acceptor_.joinable()) acceptor_.join();
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    threads.swap(threads_);
  }
  for (auto& t : threads) t.join();
  ::close(listen_);
  listen_ = -1;
}

void RawTcpServer::AcceptLoop() {
  while (running_) {
    pollfd p{listen_, POLLIN, 0};
    if (::poll(&p, 1, 20) <= 0) continue;
    const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    threads_.emplace_back([this, fd] {
      Serve(fd);
      ::close(fd);
    });
  }
}

// One poll slice of reading; false when the peer closed, on error or on Stop.
bool RawTcpServer::Receive(int fd, std::string& buffer) {
  char chunk[16384];
  pollfd p{fd, POLLIN, 0};
  const int r = ::poll(&p, 1, 20);
  if (!running_) return false;
  if (r <= 0) return true;
  const ssize_t got = ::recv(fd, chunk, sizeof(chunk), 0);
  if (got <= 0) return false;
  buffer.append(chunk, static_cast<size_t>(got));
  return true;
}

bool RawTcpServer::ReadHead(int fd, std::string& buffer, std::string& head) {
  for (;;) {
    const size_t end = buffer.find("\r\n\r\n");
    if (end != std::string::npos) {
      head = buffer.substr(0, end + 4);
      buffer.erase(0, end + 4);
      return true;
    }
    if (!Receive(fd, buffer)) return false;
  }
}

bool RawTcpServer::Fill(int fd, std::string& buffer, size_t n) {
  while (buffer.size() < n) {
    if (!Receive(fd, buffer)) return false;
  }
  return true;
}

bool RawTcpServer::ReadRequest(int fd, std::string& buffer, std::string& body) {
  std::string head;
  if (!ReadHead(fd, buffer, head)) return false;
  const size_t length = ContentLength(head);
  if (!Fill(fd, buffer, length)) return false;
  body = buffer.substr(0, length);
  buffer.erase(0, length);
  return true;
}

size_t RawTcpServer::ContentLength(const std::string& head) {
  std::string lower = head;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const size_t at = lower.find("\r\ncontent-length:");
  return at == std::string::npos ? 0 : std::strtoul(lower.c_str() + at + 17, nullptr, 10);
}

bool RawTcpServer::SendAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

void RawTcpServer::ResetOnClose(int fd) {
  linger hard{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof(hard));
}
