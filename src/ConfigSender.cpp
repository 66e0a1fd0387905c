// SDK configuration GET. Its builder percent-encodes the query values, so that an app id or
// version holding a space, "&" or "#" can neither break the request nor add members to it.
#include "ConfigSender.h"

#include "Logger.h"

namespace CorvaneSDK {

ConfigSender::ConfigSender(const std::string& url, const TransportSettings& transport, Env& env)
    : ConfigSender(url, MakeCurlTransport(transport), env) {}

ConfigSender::ConfigSender(const std::string& url, std::unique_ptr<Transport> transport, Env& env)
    : env_(env),
      url_(url), transport_(transport ? std::move(transport) : MakeCurlTransport({})) {}

ConfigSender::~ConfigSender() = default;

void ConfigSender::Cancel() {
  cancel_.Set();
}

void ConfigSender::SetStop(int value) {
  if (value != 0) {
    cancel_.Set();
  } else {
    cancel_.Clear();
  }
}

void ConfigSender::SetTimeoutMs(long timeoutMs) { transport_->SetTimeoutMs(timeoutMs); }

std::string ConfigSender::LastUrl() const {
  std::lock_guard<std::mutex> lock(lastUrlMutex_);
  return lastUrl_;
}

bool ConfigSender::Fetch(const std::string& appId, const std::string& platform,
                         const std::string& appVersion, const std::string& hash,
                         std::string& body) {
  status_.store(1);
  attempts_.store(0);
  lastHttpCode_.store(0);
  body.clear();
  HttpRequest request;
  const bool built = BuildConfigRequest(url_, appId, platform, appVersion, hash, request);
  {
    std::lock_guard<std::mutex> lock(lastUrlMutex_);
    lastUrl_ = request.url;
  }
  if (!built) {
    CORVANE_LOG_ERROR("SDK config URL \"" << url_ << "\" is not a valid http(s) URL");
    status_.store(3);
    return false;
  }
  if (!transport_->Ready()) {
    CORVANE_LOG_ERROR("SDK config request: no transfer handle");
    status_.store(3);
    return false;
  }
  FetchOutcome outcome =
      PerformWithRetries(*transport_, request, cancel_, "SDK config request", env_.GetClock());
  attempts_.store(outcome.attempts);
  lastHttpCode_.store(outcome.httpCode);
  if (!outcome.ok) {
    status_.store(3);
    return false;
  }
  body = std::move(outcome.body);
  status_.store(2);
  return true;
}

}  // namespace CorvaneSDK
