#include "CorvaneSDKRemoteConfig.h"

#include <cctype>
#include <climits>

#include "CorvaneSDKLog.h"
#include "CorvaneSDKServerConfig.h"
#include "CorvaneSDKUtils.h"
#include "Platform.h"

namespace CorvaneSDK {
namespace Mobile {

namespace {

constexpr size_t kTokenKeySize = 9;
// Back-dated so that a device clock a little ahead of the server's is not refused.
constexpr int64_t kTokenBackdateMs = 5000;

// The leading digits of the build number; 1 when there are none or they overflow.
int64_t buildNumberOf(const std::string& text) {
  if (text.empty()) return 1;
  size_t i = 0;
  bool negative = false;
  if (text[0] == '+' || text[0] == '-') {
    negative = text[0] == '-';
    i = 1;
  }
  if (i >= text.size() || !std::isdigit(static_cast<unsigned char>(text[i]))) {
    CorvaneSDKLog::debug("Invalid build number: " + text);
    return 1;
  }
  int64_t n = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    n = n * 10 + (text[i] - '0');
    if (n > INT_MAX) {
      CorvaneSDKLog::debug("Invalid build number: " + text);
      return 1;
    }
  }
  return negative ? -n : n;
}

}  // namespace

std::shared_ptr<CorvaneSDKRemoteConfig> CorvaneSDKRemoteConfig::create(
    App app, std::shared_ptr<CorvaneSDKServerConfigStore> store, std::shared_ptr<CorvaneSDKConfigRequests> requests) {
  return std::shared_ptr<CorvaneSDKRemoteConfig>(
      new CorvaneSDKRemoteConfig(std::move(app), std::move(store), std::move(requests)));
}

CorvaneSDKRemoteConfig::CorvaneSDKRemoteConfig(App app, std::shared_ptr<CorvaneSDKServerConfigStore> store,
                                               std::shared_ptr<CorvaneSDKConfigRequests> requests)
    : app_(std::move(app)), store_(std::move(store)), requests_(std::move(requests)) {}

void CorvaneSDKRemoteConfig::restore() {
  auto remote = store_->load(kRemoteConfigKey);
  auto remotePath = store_->load(kRemoteConfigPathKey);
  std::lock_guard<std::mutex> lock(mutex_);
  if (remote && remote->is_object()) document_ = *remote;
  if (remotePath && remotePath->is_string()) path_ = remotePath->get<std::string>();
}

std::string CorvaneSDKRemoteConfig::tokenKey() {
  static const unsigned char share[kTokenKeySize] = {0x5b, 0x21, 0xc4, 0x7e, 0x90, 0x0d, 0xe3, 0x48, 0xb6};
  static const unsigned char mask[kTokenKeySize] = {0x0a, 0x57, 0x8f, 0x39, 0xd2, 0x4a, 0xa1, 0x1c, 0xf5};
  std::string key(kTokenKeySize, '\0');
  for (size_t i = 0; i < kTokenKeySize; ++i) key[i] = static_cast<char>(share[i] ^ mask[i]);
  return key;
}

std::string CorvaneSDKRemoteConfig::token() const {
  auto ports = Platform::current();
  const Value header = {{"alg", "HS256"}, {"typ", "JWT"}};
  const Value claims = {{"iat", (ports->clock->wallMs() - kTokenBackdateMs) / 1000},
                        {"jti", CorvaneSDKUtils::createUUIDString()},
                        {"iss", "Quorvel"},
                        {"sub", app_.bundleId}};
  const std::string signingInput = CorvaneSDKConfigEncoding::base64Url(dumpJson(header)) + "." +
                                   CorvaneSDKConfigEncoding::base64Url(dumpJson(claims));
  std::string mac;
  if (!ports->crypto || ports->crypto->hmacSha256(tokenKey(), signingInput, mac) != 0) {
    CorvaneSDKLog::debug("Unable to sign the remote config token");
  }
  return signingInput + "." + CorvaneSDKConfigEncoding::base64Url(mac);
}

std::string CorvaneSDKRemoteConfig::storedText() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return document_ ? dumpJson(*document_) : std::string();
}

void CorvaneSDKRemoteConfig::fetch(const std::string& userId, std::function<void(const std::string&)> done) {
  const Value body = {{"bundleId", app_.bundleId},
                      {"platform", app_.platform},
                      {"buildNumber", buildNumberOf(app_.buildNumber)},
                      {"qvUid", userId}};
  CorvaneSDKConfigRequest request{
      "POST", app_.url, {{"Quorvel-Token", token()}, {"Content-Type", "application/json"}}, dumpJson(body)};
  std::weak_ptr<CorvaneSDKRemoteConfig> weak = shared_from_this();
  requests_->send(request, CORVANE_REMOTE_CONFIG_RETRY_COUNT, [weak, done](std::optional<std::string> text) {
    auto self = weak.lock();
    if (!self) return;
    std::string location;
    Value parsed;
    if (text && parseJson(*text, parsed) && parsed.is_object()) {
      auto message = parsed.find("message");
      if (message != parsed.end() && message->is_string()) location = message->get<std::string>();
    }
    if (location.empty() || location == self->path()) {
      if (done) done(self->storedText());
      return;
    }
    self->get(location, done);
  });
}

void CorvaneSDKRemoteConfig::get(const std::string& location, std::function<void(const std::string&)> done) {
  CorvaneSDKConfigRequest request{"GET", location, {}, std::string()};
  std::weak_ptr<CorvaneSDKRemoteConfig> weak = shared_from_this();
  requests_->send(request, CORVANE_REMOTE_CONFIG_RETRY_COUNT, [weak, location, done](std::optional<std::string> text) {
    auto self = weak.lock();
    if (!self) return;
    Value parsed;
    if (text && !text->empty() && parseJson(*text, parsed) && parsed.is_object()) {
      {
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->document_ = parsed;
        self->path_ = location;
      }
      self->store_->save(kRemoteConfigKey, parsed);
      self->store_->save(kRemoteConfigPathKey, location);
      if (done) done(*text);
      return;
    }
    if (done) done(self->storedText());
  });
}

std::optional<Value> CorvaneSDKRemoteConfig::document() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return document_;
}

std::string CorvaneSDKRemoteConfig::path() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return path_;
}

}  // namespace Mobile
}  // namespace CorvaneSDK
