// Remote config requests: the signed POST that names the document location, and the GET
// of that document. The orchestration (locks, stored values, callback) is the manager's.
#include "RemoteConfigSender.h"

#include <cctype>
#include <climits>
#include <cstdint>

#include "Logger.h"
#include "IdentitySnapshot.h"
#include "Random.h"

namespace CorvaneSDK {

namespace {

constexpr size_t kTokenKeySize = 9;

// The key is the byte-wise XOR of these two halves.
const unsigned char* KeyShare() {
  static const unsigned char share[kTokenKeySize] = {0x5b, 0x21, 0xc4, 0x7e, 0x90,
                                                     0x0d, 0xe3, 0x48, 0xb6};
  return share;
}

const unsigned char* KeyMask() {
  static const unsigned char mask[kTokenKeySize] = {0x0a, 0x57, 0x8f, 0x39, 0xd2,
                                                    0x4a, 0xa1, 0x1c, 0xf5};
  return mask;
}

// Back-dated so that a client clock a little ahead of the server's is not refused.
constexpr int64_t kTokenBackdateMs = 5000;

}  // namespace

std::string TokenKey() {
  std::string key(kTokenKeySize, '\0');
  const unsigned char* share = KeyShare();
  const unsigned char* mask = KeyMask();
  for (size_t i = 0; i < kTokenKeySize; ++i) key[i] = static_cast<char>(share[i] ^ mask[i]);
  return key;
}

RemoteConfigSender::RemoteConfigSender(const IdentitySource& properties,
                                       const TransportSettings& transport, Env& env)
    : RemoteConfigSender(properties, MakeCurlTransport(transport), env) {}

RemoteConfigSender::RemoteConfigSender(const IdentitySource& properties,
                                       std::unique_ptr<Transport> transport, Env& env)
    : env_(env),
      properties_(properties),
      transport_(transport ? std::move(transport) : MakeCurlTransport({})) {}

RemoteConfigSender::~RemoteConfigSender() = default;

void RemoteConfigSender::Cancel() {
  cancel_.Set();
}

void RemoteConfigSender::SetStop(int value) {
  if (value != 0) {
    cancel_.Set();
  } else {
    cancel_.Clear();
  }
}

void RemoteConfigSender::SetTimeoutMs(long timeoutMs) { transport_->SetTimeoutMs(timeoutMs); }

std::string RemoteConfigSender::BuildToken(const std::string& bundleId, Env& env) {
  return BuildRemoteConfigToken(TokenKey(), bundleId,
                                (env.GetClock().WallMs() - kTokenBackdateMs) / 1000, NewUuid(env));
}

std::string RemoteConfigSender::BuildRequestBody(const std::string& bundleId, int buildNumber,
                                                 const std::string& platform,
                                                 const std::string& userId) {
  return BuildRemoteConfigBody(bundleId, buildNumber, platform, userId);
}

int RemoteConfigSender::ParseBuildNumber(const std::string& text, bool* valid) {
  if (valid != nullptr) *valid = true;
  if (text.empty()) return 1;
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const size_t firstDigit = i;
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > int64_t{INT_MAX} + 1) break;  // out of range; no need to read further
  }
  if (negative) value = -value;
  if (i == firstDigit || value > INT_MAX || value < INT_MIN) {
    if (valid != nullptr) *valid = false;
    return 1;
  }
  return static_cast<int>(value);
}

bool RemoteConfigSender::FetchRemoteConfigInfo(const std::string& url, std::string& response) {
  status_.store(1);
  response.clear();
  const IdentitySnapshot identity = properties_.Snapshot();
  const std::string& buildText = identity.appBuildNumber;
  bool valid = true;
  const int buildNumber = ParseBuildNumber(buildText, &valid);
  if (!valid) CORVANE_LOG_ERROR("Invalid build number: " << buildText);
  const std::string& bundleId = identity.bundleId;
  std::string body =
      BuildRequestBody(bundleId, buildNumber, identity.platform, identity.userId);
  if (!IsHttpUrl(url)) {
    CORVANE_LOG_ERROR("Remote config URL \"" << url << "\" is not a valid http(s) URL");
    status_.store(3);
    return false;
  }
  if (!transport_->Ready()) {
    CORVANE_LOG_ERROR("FetchRemoteConfigInfo: no transfer handle");
    status_.store(3);
    return false;
  }
  const HttpRequest request =
      BuildRemoteConfigInfoRequest(url, BuildToken(bundleId, env_), std::move(body));
  return Perform("Remote config request", request, response);
}

bool RemoteConfigSender::FetchDocument(const std::string& location, std::string& response) {
  status_.store(1);
  response.clear();
  if (!IsHttpUrl(location)) {
    CORVANE_LOG_WARNING("Remote config location \"" << location
                                                    << "\" is not an http(s) URL; not fetched");
    status_.store(3);
    return false;
  }
  if (!transport_->Ready()) {
    CORVANE_LOG_ERROR("FetchDocument: no transfer handle");
    status_.store(3);
    return false;
  }
  return Perform("Remote config document request", BuildRemoteConfigDocumentRequest(location),
                 response);
}

bool RemoteConfigSender::Perform(const char* what, const HttpRequest& request,
                                 std::string& response) {
  FetchOutcome outcome = PerformWithRetries(*transport_, request, cancel_, what, env_.GetClock());
  attempts_.store(outcome.attempts);
  lastHttpCode_.store(outcome.httpCode);
  if (!outcome.ok) {
    status_.store(3);
    return false;
  }
  response = std::move(outcome.body);
  status_.store(2);
  return true;
}

}  // namespace CorvaneSDK
