// Pure request builders of the three senders (URL, headers, body) and the text helpers their
// log lines need. No network, no clock, no randomness: tests check them byte for byte.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "PercentEncoding.h"
#include "Transport.h"

namespace CorvaneSDK {

// True when `url` parses as an absolute http or https URL.
bool IsHttpUrl(const std::string& url);
// `url` with any user name and password removed, fit for a log line.
std::string UrlWithoutCredentials(const std::string& url);
// Replaces the values of the "Authorization", "Proxy-Authorization" and "Quorvel-Token"
// header lines in `text` (any case, any line) with "***"; an authorization scheme word
// ("Basic") stays visible.
std::string MaskSecrets(const std::string& text);
// `text` without carriage returns and line feeds: a line break in a header value would let
// it forge further headers.
std::string WithoutLineBreaks(const std::string& text);

// The event upload: a PUT of `body` (the batch) with Basic authorization.
// `authorizationBase64` is base64("appId:secret"), already free of line breaks.
HttpRequest BuildEventRequest(const std::string& url, const std::string& authorizationBase64,
                              std::string body);

// `base` with each "key=value" appended to its query in order, values percent-encoded,
// before any fragment; false when `base` or the result is not an http(s) URL.
bool BuildUrlWithQuery(const std::string& base,
                       const std::vector<std::pair<std::string, std::string>>& query,
                       std::string& out);
// The SDK configuration GET. "version" and "sdk_config_hash" go into the query only when
// non-empty. False when `base` is not an http(s) URL (`request.url` then empty).
bool BuildConfigRequest(const std::string& base, const std::string& appId,
                        const std::string& platform, const std::string& appVersion,
                        const std::string& hash, HttpRequest& request);

// header.claims.signature, each part base64url without padding, signed with HMAC-SHA256
// under `key`. Claims: "iat" `issuedAtSeconds`, "iss" "Quorvel", "jti" `id`, "sub" the
// bundle id.
std::string BuildRemoteConfigToken(const std::string& key, const std::string& bundleId,
                                   int64_t issuedAtSeconds, const std::string& id);
// The remote-config request body, compact, keys in byte order.
std::string BuildRemoteConfigBody(const std::string& bundleId, int buildNumber,
                                  const std::string& platform, const std::string& userId);
// The signed POST that names the document location.
HttpRequest BuildRemoteConfigInfoRequest(const std::string& url, const std::string& token,
                                         std::string body);
// The GET of the document at `location`.
HttpRequest BuildRemoteConfigDocumentRequest(const std::string& location);

}  // namespace CorvaneSDK
