// Request builders and URL helpers. libcurl's URL parser (no network) decides what counts
// as an http(s) URL, so that the builders and the transport agree.
#include "HttpRequests.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>

#include "Crypto.h"
#include "Json.h"
#include "Version.h"

namespace CorvaneSDK {

namespace {

bool SameNameIgnoringCase(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return i == a.size() && b[i] == '\0';
}

// One header line without its line end.
std::string MaskLine(const std::string& line) {
  const size_t colon = line.find(':');
  if (colon == std::string::npos) return line;
  const std::string name = line.substr(0, colon);
  const bool authorization = SameNameIgnoringCase(name, "Authorization") ||
                             SameNameIgnoringCase(name, "Proxy-Authorization");
  if (!authorization && !SameNameIgnoringCase(name, "Quorvel-Token")) return line;
  size_t start = colon + 1;
  while (start < line.size() && line[start] == ' ') ++start;
  std::string kept = line.substr(0, start);
  if (authorization) {
    // Keep the scheme ("Basic", "Bearer"): it helps diagnosis and is not secret.
    const size_t space = line.find(' ', start);
    if (space != std::string::npos) kept = line.substr(0, space + 1);
  }
  return kept + "***";
}

}  // namespace

std::string MaskSecrets(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  size_t begin = 0;
  while (begin < text.size()) {
    size_t end = text.find('\n', begin);
    const bool hasNewline = end != std::string::npos;
    if (!hasNewline) end = text.size();
    size_t last = end;
    const bool hasReturn = last > begin && text[last - 1] == '\r';
    if (hasReturn) --last;
    out += MaskLine(text.substr(begin, last - begin));
    if (hasReturn) out += '\r';
    if (hasNewline) out += '\n';
    begin = end + 1;
  }
  return out;
}

std::string UrlWithoutCredentials(const std::string& url) {
  std::string out = url;
  CURLU* parsed = curl_url();
  if (parsed != nullptr &&
      curl_url_set(parsed, CURLUPART_URL, url.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK) {
    curl_url_set(parsed, CURLUPART_USER, nullptr, 0);
    curl_url_set(parsed, CURLUPART_PASSWORD, nullptr, 0);
    char* text = nullptr;
    if (curl_url_get(parsed, CURLUPART_URL, &text, 0) == CURLUE_OK && text != nullptr) out = text;
    curl_free(text);
  } else {
    // Unparsable: cut anything that looks like "user:password@" after the scheme.
    const size_t start = url.find("://");
    const size_t begin = start == std::string::npos ? 0 : start + 3;
    const size_t at = url.find('@', begin);
    const size_t slash = url.find('/', begin);
    if (at != std::string::npos && (slash == std::string::npos || at < slash)) {
      out = url.substr(0, begin) + url.substr(at + 1);
    }
  }
  curl_url_cleanup(parsed);
  return out;
}

bool IsHttpUrl(const std::string& url) {
  CURLU* parsed = curl_url();
  if (parsed == nullptr) return false;
  bool ok = false;
  char* scheme = nullptr;
  if (curl_url_set(parsed, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK &&
      curl_url_get(parsed, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK && scheme != nullptr) {
    const std::string s(scheme);
    ok = SameNameIgnoringCase(s, "http") || SameNameIgnoringCase(s, "https");
  }
  curl_free(scheme);
  curl_url_cleanup(parsed);
  return ok;
}

std::string WithoutLineBreaks(const std::string& text) {
  std::string out = text;
  out.erase(std::remove_if(out.begin(), out.end(), [](char c) { return c == '\r' || c == '\n'; }),
            out.end());
  return out;
}

HttpRequest BuildEventRequest(const std::string& url, const std::string& authorizationBase64,
                              std::string body) {
  HttpRequest request;
  request.method = "PUT";
  request.url = url;
  request.headers = {"Accept: */*", std::string("User-Agent: ") + kUserAgent,
                     "Authorization: Basic " + authorizationBase64,
                     "Content-Type: application/json"};
  request.body = std::move(body);
  return request;
}

bool BuildUrlWithQuery(const std::string& base,
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

bool BuildConfigRequest(const std::string& base, const std::string& appId,
                        const std::string& platform, const std::string& appVersion,
                        const std::string& hash, HttpRequest& request) {
  std::vector<std::pair<std::string, std::string>> query = {{"app_id", appId},
                                                            {"platform", platform}};
  if (!appVersion.empty()) query.emplace_back("version", appVersion);
  if (!hash.empty()) query.emplace_back("sdk_config_hash", hash);
  request = HttpRequest();
  request.method = "GET";
  request.headers = {std::string("User-Agent: ") + kUserAgent, "Accept: */*"};
  request.keepResponse = true;
  return BuildUrlWithQuery(base, query, request.url);
}

std::string BuildRemoteConfigToken(const std::string& key, const std::string& bundleId,
                                   int64_t issuedAtSeconds, const std::string& id) {
  const Json header = {{"alg", "HS256"}, {"typ", "JWT"}};
  const Json claims = {
      {"iat", issuedAtSeconds}, {"jti", id}, {"iss", "Quorvel"}, {"sub", bundleId}};
  const std::string signingInput =
      Base64UrlEncode(DumpJson(header)) + "." + Base64UrlEncode(DumpJson(claims));
  return signingInput + "." + Base64UrlEncode(HmacSha256(key, signingInput));
}

std::string BuildRemoteConfigBody(const std::string& bundleId, int buildNumber,
                                  const std::string& platform, const std::string& userId) {
  const Json body = {{"bundleId", bundleId},
                     {"buildNumber", buildNumber},
                     {"platform", platform},
                     {"qvUid", userId}};
  return DumpJson(body);
}

HttpRequest BuildRemoteConfigInfoRequest(const std::string& url, const std::string& token,
                                         std::string body) {
  HttpRequest request;
  request.method = "POST";
  request.url = url;
  request.headers = {"Quorvel-Token: " + token, "Content-Type: application/json",
                     std::string("User-Agent: ") + kUserAgent, "Accept: */*"};
  request.body = std::move(body);
  request.keepResponse = true;
  return request;
}

HttpRequest BuildRemoteConfigDocumentRequest(const std::string& location) {
  HttpRequest request;
  request.method = "GET";
  request.url = location;
  request.headers = {std::string("User-Agent: ") + kUserAgent, "Accept: */*"};
  request.keepResponse = true;
  return request;
}

}  // namespace CorvaneSDK
