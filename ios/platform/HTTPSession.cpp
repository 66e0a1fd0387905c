// The request helpers and the hand-run session double.
#include "HTTPSession.h"

#include <algorithm>
#include <cctype>

namespace CorvaneSDK {
namespace Mobile {

namespace {
bool sameHeader(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}
}  // namespace

void CorvaneSDKMutableRequest::setValue(const std::string& value, const std::string& header) {
  for (auto& h : headers) {
    if (sameHeader(h.first, header)) {
      h.second = value;
      return;
    }
  }
  headers.emplace_back(header, value);
}

std::optional<std::string> CorvaneSDKMutableRequest::valueForHeader(const std::string& header) const {
  for (const auto& h : headers) {
    if (sameHeader(h.first, header)) return h.second;
  }
  return std::nullopt;
}

CorvaneSDKMutableRequest withSessionHeaders(const CorvaneSDKMutableRequest& request,
                                            const HTTPSessionConfiguration& configuration) {
  CorvaneSDKMutableRequest out = request;
  out.headers.clear();
  for (const auto& h : configuration.additionalHeaders) out.setValue(h.second, h.first);
  for (const auto& h : request.headers) out.setValue(h.second, h.first);
  if (out.timeoutMs <= 0) out.timeoutMs = configuration.requestTimeoutMs;
  return out;
}

class ManualHTTPTask : public HTTPTask {
 public:
  ManualHTTPTask(std::weak_ptr<ManualHTTPSession> session, uint64_t id) : session_(std::move(session)), id_(id) {}
  void cancel() override {
    if (auto s = session_.lock()) {
      HTTPResponse r;
      r.error = "cancelled";
      s->complete(id_, r);
    }
  }
  uint64_t taskIdentifier() const override { return id_; }

 private:
  std::weak_ptr<ManualHTTPSession> session_;
  uint64_t id_;
};

ManualHTTPSession::ManualHTTPSession(HTTPSessionConfiguration configuration)
    : configuration_(std::move(configuration)) {}

std::shared_ptr<HTTPTask> ManualHTTPSession::startTask(const CorvaneSDKMutableRequest& request,
                                                       HTTPCompletion completion) {
  auto out = withSessionHeaders(request, configuration_);
  uint64_t id;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    id = next_++;
    started_.push_back({out, id});
    if (!invalidated_) {
      pending_.push_back({id, {out, std::move(completion)}});
      return std::make_shared<ManualHTTPTask>(weak_from_this(), id);
    }
  }
  HTTPResponse r;
  r.error = "session invalidated";
  if (completion) completion(r);
  return std::make_shared<ManualHTTPTask>(weak_from_this(), id);
}

void ManualHTTPSession::finishTasksAndInvalidate() { invalidated_ = true; }

void ManualHTTPSession::setDelegate(std::weak_ptr<CorvaneSDKHTTPSessionDelegate> delegate) {
  std::lock_guard<std::mutex> lock(mutex_);
  delegate_ = std::move(delegate);
}

std::vector<ManualHTTPSession::Started> ManualHTTPSession::started() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return started_;
}

size_t ManualHTTPSession::pendingCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return pending_.size();
}

bool ManualHTTPSession::completeNext(const HTTPResponse& response) {
  uint64_t id;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (pending_.empty()) return false;
    id = pending_.front().first;
  }
  return complete(id, response);
}

bool ManualHTTPSession::complete(uint64_t identifier, const HTTPResponse& response) {
  CorvaneSDKMutableRequest request;
  HTTPCompletion completion;
  std::shared_ptr<CorvaneSDKHTTPSessionDelegate> delegate;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = std::find_if(pending_.begin(), pending_.end(), [&](const auto& p) { return p.first == identifier; });
    if (it == pending_.end()) return false;
    request = std::move(it->second.first);
    completion = std::move(it->second.second);
    pending_.erase(it);
    delegate = delegate_.lock();
  }
  if (delegate) delegate->didCompleteTask(request, response);
  if (completion) completion(response);
  return true;
}

std::shared_ptr<HTTPSession> ManualHTTPSessionFactory::makeSession(const HTTPSessionConfiguration& configuration) {
  auto session = std::make_shared<ManualHTTPSession>(configuration);
  std::lock_guard<std::mutex> lock(mutex_);
  sessions_.push_back(session);
  return session;
}

std::shared_ptr<ManualHTTPSession> ManualHTTPSessionFactory::last() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sessions_.empty() ? nullptr : sessions_.back();
}

}  // namespace Mobile
}  // namespace CorvaneSDK
