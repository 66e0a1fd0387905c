// Remote config requests: the signed POST that names the document location, and the GET
// of that document. The orchestration (locks, stored values, callback) is the manager's.
#include "RemoteConfigSender.h"

#include <cctype>
#include <climits>
#include <cstdint>

#include "Crypto.h"
#include "Json.h"
#include "Logger.h"
#include "IdentitySnapshot.h"
#include "Random.h"
#include "Version.h"

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
                                       const TransportSettings& transport)
    : properties_(properties) {
  if (getHeaders_.Append(std::string("User-Agent: ") + kUserAgent)) {
    getHeaders_.Append("Accept: */*");
  }
  ApplyTransport(handle_.get(), transport);
}

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

void RemoteConfigSender::SetTimeoutMs(long timeoutMs) {
  if (timeoutMs > 0 && handle_) curl_easy_setopt(handle_.get(), CURLOPT_TIMEOUT_MS, timeoutMs);
}

std::string RemoteConfigSender::BuildToken(const std::string& bundleId) {
  const Json header = {{"alg", "HS256"}, {"typ", "JWT"}};
  const Json claims = {{"iat", (GetClock().WallMs() - kTokenBackdateMs) / 1000},
                       {"jti", NewUuid()},
                       {"iss", "Quorvel"},
                       {"sub", bundleId}};
  const std::string signingInput =
      Base64UrlEncode(DumpJson(header)) + "." + Base64UrlEncode(DumpJson(claims));
  return signingInput + "." + Base64UrlEncode(HmacSha256(TokenKey(), signingInput));
}

std::string RemoteConfigSender::BuildRequestBody(const std::string& bundleId, int buildNumber,
                                                 const std::string& platform,
                                                 const std::string& userId) {
  const Json body = {{"bundleId", bundleId},
                     {"buildNumber", buildNumber},
                     {"platform", platform},
                     {"qvUid", userId}};
  return DumpJson(body);
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
  body_ = BuildRequestBody(identity.bundleId, buildNumber, identity.platform, identity.userId);

  CURL* h = handle_.get();
  if (!IsHttpUrl(url)) {
    CORVANE_LOG_ERROR("Remote config URL \"" << url << "\" is not a valid http(s) URL");
    status_.store(3);
    return false;
  }
  postHeaders_.Reset();
  const bool headersBuilt = postHeaders_.Append("Quorvel-Token: " + BuildToken(identity.bundleId)) &&
                            postHeaders_.Append("Content-Type: application/json") &&
                            postHeaders_.Append(std::string("User-Agent: ") + kUserAgent) &&
                            postHeaders_.Append("Accept: */*");
  if (h == nullptr || !headersBuilt) {
    CORVANE_LOG_ERROR("FetchRemoteConfigInfo: no transfer handle");
    status_.store(3);
    return false;
  }
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, postHeaders_.get());
  curl_easy_setopt(h, CURLOPT_POSTFIELDS, body_.c_str());
  curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body_.size()));
  return Perform("Remote config request", response);
}

bool RemoteConfigSender::FetchDocument(const std::string& location, std::string& response) {
  status_.store(1);
  response.clear();
  CURL* h = handle_.get();
  if (!IsHttpUrl(location)) {
    CORVANE_LOG_WARNING("Remote config location \"" << location
                                                    << "\" is not an http(s) URL; not fetched");
    status_.store(3);
    return false;
  }
  if (h == nullptr || getHeaders_.get() == nullptr) {
    CORVANE_LOG_ERROR("FetchDocument: no transfer handle");
    status_.store(3);
    return false;
  }
  curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);  // also drops the POST body of an earlier request
  curl_easy_setopt(h, CURLOPT_URL, location.c_str());
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, getHeaders_.get());
  return Perform("Remote config document request", response);
}

bool RemoteConfigSender::Perform(const char* what, std::string& response) {
  ApplyVerbose(handle_.get());
  const FetchOutcome outcome = PerformWithRetries(handle_.get(), response_, cancel_, what);
  attempts_.store(outcome.attempts);
  lastHttpCode_.store(outcome.httpCode);
  if (!outcome.ok) {
    status_.store(3);
    return false;
  }
  response = response_.Text();
  response_.Clear();
  status_.store(2);
  return true;
}

}  // namespace CorvaneSDK
