// libcurl plumbing shared by the event, SDK-config and remote-config senders.
// Nothing here throws into libcurl: callbacks catch everything and report through their
// return value.
#include "Sender.h"

#include <cctype>
#include <mutex>
#include <new>

#include "Clock.h"
#include "Logger.h"

namespace CorvaneSDK {

Sender::~Sender() = default;

bool EnsureCurlGlobalInit() {
  static std::once_flag once;
  static CURLcode result = CURLE_FAILED_INIT;
  std::call_once(once, [] {
    result = curl_global_init(CURL_GLOBAL_DEFAULT);
    if (result != CURLE_OK) {
      CORVANE_LOG_ERROR("curl_global_init failed: " << curl_easy_strerror(result));
    }
  });
  return result == CURLE_OK;
}

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

void SetLong(CURL* handle, CURLoption option, long value, const char* name) {
  const CURLcode rc = curl_easy_setopt(handle, option, value);
  if (rc != CURLE_OK) {
    CORVANE_LOG_WARNING("Cannot set " << name << ": " << curl_easy_strerror(rc));
  }
}

void SetText(CURL* handle, CURLoption option, const std::string& value, const char* name) {
  // libcurl copies string options, so the caller's text may go away afterwards.
  const CURLcode rc = curl_easy_setopt(handle, option, value.c_str());
  if (rc != CURLE_OK) {
    CORVANE_LOG_WARNING("Cannot set " << name << ": " << curl_easy_strerror(rc));
  }
}

int TraceToLog(CURL*, curl_infotype type, char* data, size_t size, void*) {
  try {
    if (!Logger::Enabled(kLogVerbose) || data == nullptr) return 0;
    const char* prefix = nullptr;
    switch (type) {
      case CURLINFO_TEXT:
        prefix = "* ";
        break;
      case CURLINFO_HEADER_OUT:
        prefix = "> ";
        break;
      case CURLINFO_HEADER_IN:
        prefix = "< ";
        break;
      case CURLINFO_DATA_OUT:
        CORVANE_LOG_VERBOSE("curl > [" << size << " bytes of data]");
        return 0;
      case CURLINFO_DATA_IN:
        CORVANE_LOG_VERBOSE("curl < [" << size << " bytes of data]");
        return 0;
      default:
        return 0;  // TLS records: binary
    }
    const std::string masked = MaskSecrets(std::string(data, size));
    size_t begin = 0;
    while (begin < masked.size()) {
      size_t end = masked.find('\n', begin);
      if (end == std::string::npos) end = masked.size();
      size_t last = end;
      if (last > begin && masked[last - 1] == '\r') --last;
      if (last > begin)
        CORVANE_LOG_VERBOSE("curl " << prefix << masked.substr(begin, last - begin));
      begin = end + 1;
    }
  } catch (...) {
    // A trace line is not worth failing a transfer for.
  }
  return 0;
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

void ApplyVerbose(CURL* handle) {
  if (handle == nullptr) return;
  const bool verbose = Logger::GetLevel() > kLogDebug;
  curl_easy_setopt(handle, CURLOPT_DEBUGFUNCTION, &TraceToLog);
  curl_easy_setopt(handle, CURLOPT_DEBUGDATA, nullptr);
  curl_easy_setopt(handle, CURLOPT_VERBOSE, verbose ? 1L : 0L);
}

void ApplyTransport(CURL* handle, const TransportSettings& settings) {
  if (handle == nullptr) return;
  ApplyVerbose(handle);
  if (!settings.proxy.empty()) SetText(handle, CURLOPT_PROXY, settings.proxy, "CURLOPT_PROXY");
  if (!settings.proxyCa.empty()) {
    SetText(handle, CURLOPT_PROXY_CAINFO, settings.proxyCa, "CURLOPT_PROXY_CAINFO");
    SetLong(handle, CURLOPT_PROXY_SSL_VERIFYPEER, 1L, "CURLOPT_PROXY_SSL_VERIFYPEER");
  }
  if (!settings.ca.empty()) {
    SetText(handle, CURLOPT_CAINFO, settings.ca, "CURLOPT_CAINFO");
    SetLong(handle, CURLOPT_SSL_VERIFYPEER, 1L, "CURLOPT_SSL_VERIFYPEER");
  }
  // Last, so that switching verification off wins over a configured CA file.
  if (!settings.sslVerify) SetLong(handle, CURLOPT_SSL_VERIFYPEER, 0L, "CURLOPT_SSL_VERIFYPEER");
}

CurlHandle::CurlHandle() {
  if (!EnsureCurlGlobalInit()) return;
  handle_ = curl_easy_init();
  if (handle_ == nullptr) {
    CORVANE_LOG_ERROR("Cannot create a libcurl handle; requests on it will fail");
    return;
  }
  SetText(handle_, CURLOPT_ACCEPT_ENCODING, "", "CURLOPT_ACCEPT_ENCODING");
  SetLong(handle_, CURLOPT_TIMEOUT_MS, kTransferTimeoutMs, "CURLOPT_TIMEOUT_MS");
  SetLong(handle_, CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_REVOKE_BEST_EFFORT),
          "CURLOPT_SSL_OPTIONS");
  SetLong(handle_, CURLOPT_NOSIGNAL, 1L, "CURLOPT_NOSIGNAL");
#if LIBCURL_VERSION_NUM >= 0x075500
  SetText(handle_, CURLOPT_PROTOCOLS_STR, "http,https", "CURLOPT_PROTOCOLS_STR");
  SetText(handle_, CURLOPT_REDIR_PROTOCOLS_STR, "http,https", "CURLOPT_REDIR_PROTOCOLS_STR");
#else
  SetLong(handle_, CURLOPT_PROTOCOLS, static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS),
          "CURLOPT_PROTOCOLS");
  SetLong(handle_, CURLOPT_REDIR_PROTOCOLS, static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS),
          "CURLOPT_REDIR_PROTOCOLS");
#endif
  // libcurl's default writes the body to standard output; never let that happen.
  curl_easy_setopt(handle_, CURLOPT_WRITEFUNCTION, &DiscardBody);
  curl_easy_setopt(handle_, CURLOPT_WRITEDATA, nullptr);
  ApplyVerbose(handle_);
}

CurlHandle::~CurlHandle() {
  if (handle_ != nullptr) curl_easy_cleanup(handle_);
}

CurlHeaders::~CurlHeaders() {
  if (list_ != nullptr) curl_slist_free_all(list_);
}

void CurlHeaders::Reset() {
  if (list_ != nullptr) curl_slist_free_all(list_);
  list_ = nullptr;
}

bool CurlHeaders::Append(const std::string& line) {
  curl_slist* next = curl_slist_append(list_, line.c_str());
  if (next == nullptr) {
    CORVANE_LOG_ERROR("Cannot build the request headers");
    curl_slist_free_all(list_);
    list_ = nullptr;
    return false;
  }
  list_ = next;
  return true;
}

void ResponseBuffer::Attach(CURL* handle) {
  if (handle == nullptr) return;
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &ResponseBuffer::Write);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, this);
}

size_t ResponseBuffer::Write(char* data, size_t size, size_t count, void* self) {
  auto* buffer = static_cast<ResponseBuffer*>(self);
  const size_t n = size * count;  // libcurl always passes size 1
  if (buffer == nullptr) return n;
  if (n > buffer->cap_ - buffer->text_.size()) {
    buffer->overflowed_ = true;
    return 0;
  }
  try {
    buffer->text_.append(data, n);
  } catch (const std::bad_alloc&) {
    buffer->overflowed_ = true;
    return 0;
  }
  return n;
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

std::string DescribeFailure(CURL* handle, CURLcode rc, long httpCode, const char* errorBuffer) {
  std::string out;
  if (rc != CURLE_OK) {
    // libcurl's detailed text ("Failed to connect to host port 443 after 3 ms: ...") when it
    // wrote one, else the text of the code.
    if (errorBuffer != nullptr && errorBuffer[0] != '\0') return errorBuffer;
    return curl_easy_strerror(rc);
  }
  out = "HTTP " + std::to_string(httpCode);
  if (httpCode >= 300 && httpCode <= 399) {
    char* location = nullptr;
    if (handle != nullptr) curl_easy_getinfo(handle, CURLINFO_REDIRECT_URL, &location);
    out += location != nullptr ? std::string(" redirect to ") + UrlWithoutCredentials(location)
                               : std::string(" redirect without a Location");
    out += " (redirects are not followed: configure the new address)";
  }
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

size_t DiscardBody(char*, size_t size, size_t count, void*) {
  return size * count;
}

int AbortWhenInterrupted(void* interrupt, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const auto* stop = static_cast<const Interrupt*>(interrupt);
  return (stop != nullptr && stop->IsSet()) ? 1 : 0;
}

FetchOutcome PerformWithRetries(CURL* handle, ResponseBuffer& response, Interrupt& cancel,
                                const char* what) {
  FetchOutcome outcome;
  response.Clear();
  if (handle == nullptr) {
    CORVANE_LOG_ERROR(what << ": no transfer handle");
    return outcome;
  }
  response.Attach(handle);
  curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &AbortWhenInterrupted);
  curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &cancel);
  char errors[CURL_ERROR_SIZE];
  curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errors);
  char* effective = nullptr;
  std::string url;
  for (int attempt = 1;; ++attempt) {
    if (cancel.IsSet()) {
      CORVANE_LOG_DEBUG(what << ": cancelled");
      break;
    }
    response.Clear();
    errors[0] = '\0';
    const CURLcode rc = curl_easy_perform(handle);
    outcome.attempts = attempt;
    outcome.httpCode = 0;
    if (url.empty() && curl_easy_getinfo(handle, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK &&
        effective != nullptr) {
      url = UrlWithoutCredentials(effective);
    }
    long code = 0;
    if (rc == CURLE_OK) {
      curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &code);
      outcome.httpCode = static_cast<int>(code);
      if (code >= 200 && code <= 299) {
        outcome.ok = true;
        break;
      }
      if (code >= 400 && code <= 499 && code != 429) {
        CORVANE_LOG_INFO(what << " to " << url << " failed with http code: " << code);
        break;
      }
    } else if (response.Overflowed()) {
      CORVANE_LOG_WARNING(what << ": response longer than " << kMaxResponseBytes
                               << " bytes refused");
    }
    if (rc != CURLE_OK && cancel.IsSet()) {
      CORVANE_LOG_DEBUG(what << ": cancelled");
      break;
    }
    const std::string cause =
        response.Overflowed() ? std::string("response too long") : DescribeFailure(handle, rc, code, errors);
    const bool last = attempt >= kFetchAttempts;
    if (attempt == 1) {
      // Once per request: the retries that follow fail the same way, as a rule.
      if (last) {
        CORVANE_LOG_WARNING(what << " to " << url << " failed: " << cause);
      } else {
        CORVANE_LOG_WARNING(what << " to " << url << " failed: " << cause << "; next attempt in "
                                 << kFetchRetryIntervalMs << " ms (" << kFetchAttempts
                                 << " attempts at most)");
      }
    } else {
      CORVANE_LOG_DEBUG(what << ": attempt " << attempt << " failed: " << cause);
    }
    if (last) {
      if (attempt > 1) {
        CORVANE_LOG_WARNING(what << " to " << url << " gave up after " << attempt
                                 << " attempts; last cause: " << cause);
      }
      break;
    }
    if (!GetClock().Sleep(kFetchRetryIntervalMs, &cancel)) {
      CORVANE_LOG_DEBUG(what << ": cancelled");
      break;
    }
  }
  // The buffer is this frame's: the handle must not keep pointing at it.
  curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, nullptr);
  if (outcome.ok) return outcome;
  response.Clear();  // a failed request hands nothing on, not even an error page
  return outcome;
}

}  // namespace CorvaneSDK
