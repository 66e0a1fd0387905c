#include "CorvaneSDKConfigRequests.h"

#include <cctype>
#include <cstdint>

#include "CorvaneSDKHTTPClient.h"

namespace CorvaneSDK {
namespace Mobile {

std::shared_ptr<CorvaneSDKConfigRequests> CorvaneSDKConfigRequests::create(CorvaneSDKRequestFunction request,
                                                                           std::shared_ptr<MainQueue> main) {
  return std::shared_ptr<CorvaneSDKConfigRequests>(new CorvaneSDKConfigRequests(std::move(request), std::move(main)));
}

CorvaneSDKConfigRequests::CorvaneSDKConfigRequests(CorvaneSDKRequestFunction request, std::shared_ptr<MainQueue> main)
    : request_(std::move(request)), main_(std::move(main)) {}

void CorvaneSDKConfigRequests::send(const CorvaneSDKConfigRequest& request, int retries, Done done,
                                    std::function<void()> onTry) {
  if (onTry) onTry();
  std::weak_ptr<CorvaneSDKConfigRequests> weak = shared_from_this();
  request_(request, [weak, request, retries, done, onTry](std::optional<std::string> text, bool retry) {
    if (text) {
      done(std::move(text));
      return;
    }
    auto self = weak.lock();
    if (!self || !retry || retries < 1) {
      done(std::nullopt);
      return;
    }
    self->main_->after(kRetryDelayMs, [weak, request, retries, done, onTry] {
      if (auto again = weak.lock()) {
        again->send(request, retries - 1, done, onTry);
      } else {
        done(std::nullopt);
      }
    });
  });
}

std::string CorvaneSDKConfigEncoding::base64(const std::string& bytes) {
  static const char* table = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const uint32_t n = (static_cast<uint8_t>(bytes[i]) << 16) | (static_cast<uint8_t>(bytes[i + 1]) << 8) |
                       static_cast<uint8_t>(bytes[i + 2]);
    out += table[(n >> 18) & 63];
    out += table[(n >> 12) & 63];
    out += table[(n >> 6) & 63];
    out += table[n & 63];
  }
  if (i + 1 == bytes.size()) {
    const uint32_t n = static_cast<uint8_t>(bytes[i]) << 16;
    out += table[(n >> 18) & 63];
    out += table[(n >> 12) & 63];
    out += "==";
  } else if (i + 2 == bytes.size()) {
    const uint32_t n = (static_cast<uint8_t>(bytes[i]) << 16) | (static_cast<uint8_t>(bytes[i + 1]) << 8);
    out += table[(n >> 18) & 63];
    out += table[(n >> 12) & 63];
    out += table[(n >> 6) & 63];
    out += '=';
  }
  return out;
}

std::string CorvaneSDKConfigEncoding::base64Url(const std::string& bytes) {
  std::string out = base64(bytes);
  while (!out.empty() && out.back() == '=') out.pop_back();
  for (auto& c : out) {
    if (c == '+') c = '-';
    if (c == '/') c = '_';
  }
  return out;
}

std::string CorvaneSDKConfigEncoding::credentialFor(const std::string& appId, const std::string& appSecret) {
  return base64(appId + ":" + appSecret);
}

std::string CorvaneSDKConfigEncoding::appendQuery(const std::string& url,
                                                const std::vector<std::pair<std::string, std::string>>& items) {
  std::string base = url;
  std::string fragment;
  const size_t hash = base.find('#');
  if (hash != std::string::npos) {
    fragment = base.substr(hash);
    base.resize(hash);
  }
  std::string out = base;
  bool hasQuery = base.find('?') != std::string::npos;
  for (const auto& item : items) {
    if (!hasQuery) {
      out += '?';
      hasQuery = true;
    } else if (out.back() != '?' && out.back() != '&') {
      out += '&';
    }
    out += CorvaneSDKHTTPClient::percentEncode(item.first) + "=" + CorvaneSDKHTTPClient::percentEncode(item.second);
  }
  return out + fragment;
}

}  // namespace Mobile
}  // namespace CorvaneSDK
