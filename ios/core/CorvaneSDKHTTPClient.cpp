// Upload and data tasks over the session port, and the outcome table.
#include "CorvaneSDKHTTPClient.h"

#include <cctype>

#include "CorvaneJSONSerializer.h"
#include "CorvaneSDKLog.h"
#include "CorvaneSDKVersion.h"
#include "Platform.h"

namespace CorvaneSDK {
namespace Mobile {

namespace {
std::shared_ptr<HTTPTask> failedTask(const std::string& error, const std::function<void(const HTTPResponse&)>& done) {
  // No session to run on: answer as a transport error, at once.
  HTTPResponse r;
  r.error = error;
  done(r);
  return nullptr;
}
}  // namespace

CorvaneSDKHTTPClient::RequestFactory CorvaneSDKHTTPClient::defaultRequestFactory() {
  return [](const std::string& url) {
    auto request = std::make_shared<CorvaneSDKMutableRequest>();
    request->url = url;
    return request;
  };
}

CorvaneSDKHTTPClient::CorvaneSDKHTTPClient(RequestFactory factory)
    : factory_(factory ? std::move(factory) : defaultRequestFactory()) {
  HTTPSessionConfiguration configuration;
  configuration.additionalHeaders = {{"Accept", "*/*"}, {"User-Agent", std::string("corvane/") + kCorvaneSDKVersion}};
  auto ports = Platform::current();
  if (ports->httpSession) session_ = ports->httpSession->makeSession(configuration);
  if (!session_) CorvaneSDKLog::debug("No HTTP session available; every request fails");
}

std::shared_ptr<CorvaneSDKHTTPClient> CorvaneSDKHTTPClient::initWithRequestFactory(RequestFactory factory) {
  return std::make_shared<CorvaneSDKHTTPClient>(std::move(factory));
}

CorvaneSDKHTTPClient::~CorvaneSDKHTTPClient() {
  if (session_) session_->finishTasksAndInvalidate();
}

void CorvaneSDKHTTPClient::setHttpSessionDelegate(std::weak_ptr<CorvaneSDKHTTPSessionDelegate> delegate) {
  if (session_) session_->setDelegate(std::move(delegate));
}

std::shared_ptr<CorvaneSDKMutableRequest> CorvaneSDKHTTPClient::createRequest(const std::string& url,
                                                                              const std::string& method) {
  std::shared_ptr<CorvaneSDKMutableRequest> request;
  try {
    request = factory_(url);
  } catch (...) {
    CorvaneSDKLog::debug("The request factory failed for " + url + "; using a plain request");
  }
  if (!request) request = defaultRequestFactory()(url);
  request->method = method;
  return request;
}

std::string CorvaneSDKHTTPClient::percentEncode(const std::string& text) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

std::string CorvaneSDKHTTPClient::updateURL(const std::string& url, const Value& parameters) {
  if (!parameters.is_object() || parameters.empty()) return url;
  std::string base = url, fragment;
  const auto hash = base.find('#');
  if (hash != std::string::npos) {
    fragment = base.substr(hash);
    base.resize(hash);
  }
  std::string query;
  for (const auto& item : parameters.items()) {
    const std::string value = item.value().is_string() ? item.value().get<std::string>() : dumpJson(item.value());
    if (!query.empty()) query += '&';
    query += percentEncode(item.key()) + '=' + percentEncode(value);
  }
  const auto q = base.find('?');
  if (q == std::string::npos) {
    base += '?';
  } else if (q + 1 < base.size() && base.back() != '&') {
    base += '&';
  }
  return base + query + fragment;
}

CorvaneSDKUploadOutcome CorvaneSDKHTTPClient::classify(const HTTPResponse& response, bool dataTask) {
  CorvaneSDKUploadOutcome outcome;
  outcome.status = response.status;
  if (response.error) {
    CorvaneSDKLog::debug(std::string(dataTask ? "Error getting data " : "Error uploading request ") + *response.error +
                         ".");
    outcome.result = CorvaneSDKUploadResult::Retry;
    outcome.status = 0;
    return outcome;
  }
  const int code = response.status;
  if (code < 300) {
    outcome.result = CorvaneSDKUploadResult::Delivered;
  } else if (code < 400) {
    CorvaneSDKLog::debug("Server responded with unexpected HTTP code " + std::to_string(code) + ".");
    outcome.result = CorvaneSDKUploadResult::Retry;
  } else if (code == 429) {
    CorvaneSDKLog::debug("Server limited client with response code " + std::to_string(code) + ".");
    outcome.result = CorvaneSDKUploadResult::Retry;
  } else if (code < 500) {
    CorvaneSDKLog::debug("Server rejected payload with HTTP code " + std::to_string(code) + ".");
    outcome.result = CorvaneSDKUploadResult::Rejected;
  } else {
    CorvaneSDKLog::debug("Server error with HTTP code " + std::to_string(code) + ".");
    outcome.result = CorvaneSDKUploadResult::Retry;
  }
  return outcome;
}

std::shared_ptr<HTTPTask> CorvaneSDKHTTPClient::upload(const Value& batch, const std::string& host,
                                                       const std::string& credential,
                                                       std::function<void(bool retry)> completion) {
  return uploadBody(CorvaneJSONSerializer::dataWithRootObject(batch), host, credential,
                    [completion](const CorvaneSDKUploadOutcome& outcome) {
                      if (completion) completion(outcome.retry());
                    });
}

std::shared_ptr<HTTPTask> CorvaneSDKHTTPClient::uploadBody(
    std::string body, const std::string& host, const std::string& credential,
    std::function<void(const CorvaneSDKUploadOutcome&)> completion) {
  auto request = createRequest(host, "PUT");
  request->setValue("application/json", "Content-Type");
  request->setValue("Basic " + credential, "Authorization");
  request->body = std::move(body);
  auto done = [completion](const HTTPResponse& response) {
    auto outcome = classify(response, false);
    if (completion) completion(outcome);
  };
  if (!session_) return failedTask("no HTTP session", done);
  return session_->startTask(*request, done);
}

std::shared_ptr<HTTPTask> CorvaneSDKHTTPClient::send(
    const std::shared_ptr<CorvaneSDKMutableRequest>& request,
    std::function<void(std::optional<std::string> text, bool retry)> completion) {
  auto done = [completion](const HTTPResponse& response) {
    auto outcome = classify(response, true);
    std::optional<std::string> text;
    if (outcome.result == CorvaneSDKUploadResult::Delivered && !response.body.empty()) {
      if (validUtf8(response.body) == response.body) {
        text = response.body;
      } else {
        CorvaneSDKLog::debug("The response body is not UTF-8 text; answering none");
      }
    }
    if (completion) completion(std::move(text), outcome.retry());
  };
  if (!request) return failedTask("no request", done);
  if (!session_) return failedTask("no HTTP session", done);
  return session_->startTask(*request, done);
}

}  // namespace Mobile
}  // namespace CorvaneSDK
