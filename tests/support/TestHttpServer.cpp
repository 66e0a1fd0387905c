// cpp-httplib server wrapper that records requests and plays scripted answers.
#include "TestHttpServer.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <chrono>

namespace CorvaneSDK {
namespace Test {

namespace {
bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}
}  // namespace

std::string RecordedRequest::Header(const std::string& name) const {
  for (const auto& h : headers) {
    if (SameName(h.first, name)) return h.second;
  }
  return std::string();
}

TestHttpServer::TestHttpServer() : server_(new httplib::Server()) {}

TestHttpServer::~TestHttpServer() { Stop(); }

bool TestHttpServer::Start() {
  auto handler = [this](const httplib::Request& req, httplib::Response& res) {
    RecordedRequest rec;
    rec.method = req.method;
    rec.path = req.path;
    size_t q = req.target.find('?');
    if (q != std::string::npos) rec.query = req.target.substr(q + 1);
    for (const auto& p : req.params) rec.params.emplace(p.first, p.second);
    for (const auto& h : req.headers) rec.headers.emplace_back(h.first, h.second);
    rec.body = req.body;
    ScriptedResponse answer = Answer(rec);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(rec);
    }
    cv_.notify_all();
    if (answer.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(answer.delayMs));
    res.status = answer.status;
    if (!answer.body.empty()) res.set_content(answer.body, answer.contentType.c_str());
  };
  const char* pattern = R"(.*)";
  server_->Get(pattern, handler);
  server_->Put(pattern, handler);
  server_->Post(pattern, handler);
  server_->Delete(pattern, handler);
  server_->set_keep_alive_max_count(1000);
  port_ = server_->bind_to_any_port("127.0.0.1");
  if (port_ <= 0) return false;
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  for (int i = 0; i < 2000 && !server_->is_running(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return server_->is_running();
}

void TestHttpServer::Stop() {
  if (server_) server_->stop();
  if (thread_.joinable()) thread_.join();
}

std::string TestHttpServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void TestHttpServer::Script(const std::string& path, std::vector<ScriptedResponse> responses) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto& queue = scripts_[path];
  for (auto& r : responses) queue.push_back(std::move(r));
}

void TestHttpServer::SetDefault(const std::string& path, ScriptedResponse response) {
  std::lock_guard<std::mutex> lock(mutex_);
  defaults_[path] = std::move(response);
}

void TestHttpServer::SetHandler(const std::string& path, Handler handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  handlers_[path] = std::move(handler);
}

ScriptedResponse TestHttpServer::Answer(const RecordedRequest& request) {
  Handler handler;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto h = handlers_.find(request.path);
    if (h != handlers_.end()) {
      handler = h->second;
    } else {
      auto s = scripts_.find(request.path);
      if (s != scripts_.end() && !s->second.empty()) {
        ScriptedResponse r = s->second.front();
        s->second.pop_front();
        return r;
      }
      auto d = defaults_.find(request.path);
      if (d != defaults_.end()) return d->second;
      return ScriptedResponse{};
    }
  }
  return handler(request);
}

std::vector<RecordedRequest> TestHttpServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

std::vector<RecordedRequest> TestHttpServer::Requests(const std::string& path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<RecordedRequest> out;
  for (const auto& r : requests_) {
    if (r.path == path) out.push_back(r);
  }
  return out;
}

size_t TestHttpServer::Count(const std::string& path) const { return Requests(path).size(); }

void TestHttpServer::ClearRequests() {
  std::lock_guard<std::mutex> lock(mutex_);
  requests_.clear();
}

bool TestHttpServer::WaitForCount(const std::string& path, size_t count, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    size_t n = 0;
    for (const auto& r : requests_) n += (r.path == path) ? 1 : 0;
    return n >= count;
  });
}

}  // namespace Test
}  // namespace CorvaneSDK
