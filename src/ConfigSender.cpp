// SDK configuration GET. Query values are percent-encoded here, so that an app id or
// version holding a space, "&" or "#" can neither break the request nor add members to it.
#include "ConfigSender.h"

#include "Logger.h"
#include "PercentEncoding.h"
#include "Version.h"

namespace CorvaneSDK {

ConfigSender::ConfigSender(const std::string& url, const TransportSettings& transport) : url_(url) {
  if (headers_.Append(std::string("User-Agent: ") + kUserAgent)) headers_.Append("Accept: */*");
  CURL* h = handle_.get();
  if (h == nullptr) return;
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers_.get());
  curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
  ApplyTransport(h, transport);
}

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

void ConfigSender::SetTimeoutMs(long timeoutMs) {
  if (timeoutMs > 0 && handle_) curl_easy_setopt(handle_.get(), CURLOPT_TIMEOUT_MS, timeoutMs);
}

std::string ConfigSender::LastUrl() const {
  std::lock_guard<std::mutex> lock(lastUrlMutex_);
  return lastUrl_;
}

std::string ConfigSender::PercentEncode(const std::string& value) {
  return CorvaneSDK::PercentEncode(value);
}

bool ConfigSender::BuildUrl(const std::string& base,
                            const std::vector<std::pair<std::string, std::string>>& query,
                            std::string& out) {
  out.clear();
  if (!IsHttpUrl(base)) return false;
  // Members go after any query the base already has and before its fragment.
  const size_t hash = base.find('#');
  std::string url = base.substr(0, hash);
  const std::string fragment = hash == std::string::npos ? "" : base.substr(hash);
  char separator = url.find('?') == std::string::npos ? '?' : '&';
  if (url.back() == '?' || url.back() == '&') separator = '\0';
  for (const auto& member : query) {
    if (separator != '\0') url += separator;
    url += PercentEncode(member.first) + "=" + PercentEncode(member.second);
    separator = '&';
  }
  url += fragment;
  if (!IsHttpUrl(url)) return false;
  out = url;
  return true;
}

bool ConfigSender::Fetch(const std::string& appId, const std::string& platform,
                         const std::string& appVersion, const std::string& hash,
                         std::string& body) {
  status_.store(1);
  attempts_.store(0);
  lastHttpCode_.store(0);
  body.clear();
  std::vector<std::pair<std::string, std::string>> query = {{"app_id", appId},
                                                            {"platform", platform}};
  if (!appVersion.empty()) query.emplace_back("version", appVersion);
  if (!hash.empty()) query.emplace_back("sdk_config_hash", hash);
  std::string url;
  const bool built = BuildUrl(url_, query, url);
  {
    std::lock_guard<std::mutex> lock(lastUrlMutex_);
    lastUrl_ = url;
  }
  if (!built) {
    CORVANE_LOG_ERROR("SDK config URL \"" << url_ << "\" is not a valid http(s) URL");
    status_.store(3);
    return false;
  }
  CURL* h = handle_.get();
  if (h == nullptr || headers_.get() == nullptr) {
    CORVANE_LOG_ERROR("SDK config request: no transfer handle");
    status_.store(3);
    return false;
  }
  ApplyVerbose(h);
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  const FetchOutcome outcome = PerformWithRetries(h, response_, cancel_, "SDK config request");
  attempts_.store(outcome.attempts);
  lastHttpCode_.store(outcome.httpCode);
  if (!outcome.ok) {
    status_.store(3);
    return false;
  }
  body = response_.Text();
  response_.Clear();
  status_.store(2);
  return true;
}

}  // namespace CorvaneSDK
