// The libcurl transport. Nothing here throws into libcurl: callbacks catch everything and
// report through their return value.
#include "CurlTransport.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <new>

#include "Clock.h"
#include "HttpRequests.h"
#include "Logger.h"

namespace CorvaneSDK {

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

int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Write callback that accepts and drops every byte (CURLOPT_WRITEDATA may be null).
size_t DiscardBody(char*, size_t size, size_t count, void*) { return size * count; }

// Progress callback that aborts the transfer once the Interrupt given as its data is set.
int AbortWhenInterrupted(void* interrupt, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const auto* stop = static_cast<const Interrupt*>(interrupt);
  return (stop != nullptr && stop->IsSet()) ? 1 : 0;
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


CurlTransport::CurlTransport(const TransportSettings& settings) {
  CURL* h = handle_.get();
  if (h == nullptr) return;
  multi_ = curl_multi_init();
  if (multi_ == nullptr) {
    CORVANE_LOG_WARNING("Cannot create a libcurl multi handle; a stop waits for the transfer");
  }
  ApplyTransport(h, settings);
}

CurlTransport::~CurlTransport() {
  if (multi_ != nullptr) curl_multi_cleanup(multi_);
}

void CurlTransport::Apply(const TransportSettings& settings) {
  ApplyTransport(handle_.get(), settings);
}

void CurlTransport::SetTimeoutMs(long timeoutMs) {
  if (timeoutMs > 0 && handle_) curl_easy_setopt(handle_.get(), CURLOPT_TIMEOUT_MS, timeoutMs);
}

void CurlTransport::Abort(int64_t graceMs) {
  abortDeadlineMs_.store(SteadyMs() + std::max<int64_t>(graceMs, 0));
  aborted_.store(true);
  // Wakes a running transfer's poll (or the next one), which then sees the flag.
  if (multi_ != nullptr) curl_multi_wakeup(multi_);
}

bool CurlTransport::SetHeaders(const std::vector<std::string>& lines) {
  if (headers_.get() != nullptr && lines == headerLines_) return true;
  headers_.Reset();
  headerLines_.clear();
  for (const std::string& line : lines) {
    if (!headers_.Append(line)) return false;
  }
  headerLines_ = lines;
  return lines.empty() || headers_.get() != nullptr;
}

HttpResponse CurlTransport::Perform(const HttpRequest& request, Interrupt* cancel) {
  HttpResponse out;
  CURL* h = handle_.get();
  if (h == nullptr || !SetHeaders(request.headers)) {
    out.failure = "no transfer handle";
    out.effectiveUrl = UrlWithoutCredentials(request.url);
    return out;
  }
  ApplyVerbose(h);  // follows a log level changed since the last request
  curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers_.get());
  if (request.method == "GET") {
    curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, nullptr);
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);  // also drops the body of an earlier request
  } else {
    curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST,
                     request.method == "POST" ? nullptr : request.method.c_str());
    // The size is given, not taken from a terminating zero: the body is never cut short.
    // libcurl reads the body in place, and the request outlives the transfer.
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.c_str());
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
  }
  if (request.keepResponse) {
    response_.Clear();
    response_.Attach(h);
  } else {
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &DiscardBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, nullptr);
  }
  if (cancel != nullptr) {
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &AbortWhenInterrupted);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, cancel);
  }
  char errors[CURL_ERROR_SIZE];
  errors[0] = '\0';
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errors);

  const CURLcode rc = Run(h);
  long code = 0;
  if (rc == CURLE_OK) {
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &code);
    out.completed = true;
    out.httpCode = static_cast<int>(code);
  } else {
    out.aborted = rc == CURLE_ABORTED_BY_CALLBACK;
  }
  out.overflowed = request.keepResponse && response_.Overflowed();
  if (out.completed && code >= 200 && code <= 299) {
    if (request.keepResponse) out.body.swap(response_.Text());
  } else {
    out.failure =
        out.overflowed ? std::string("response too long") : DescribeFailure(h, rc, code, errors);
    char* effective = nullptr;
    if (curl_easy_getinfo(h, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK &&
        effective != nullptr) {
      out.effectiveUrl = UrlWithoutCredentials(effective);
    } else {
      out.effectiveUrl = UrlWithoutCredentials(request.url);
    }
  }
  if (request.keepResponse) response_.Clear();  // a failed request hands nothing on
  // The buffer is this frame's and the Interrupt the caller's: the handle keeps neither.
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, nullptr);
  if (cancel != nullptr) {
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 1L);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, nullptr);
  }
  return out;
}

CURLcode CurlTransport::Run(CURL* h) {
  if (multi_ == nullptr || curl_multi_add_handle(multi_, h) != CURLM_OK) {
    return curl_easy_perform(h);
  }
  CURLcode result = CURLE_ABORTED_BY_CALLBACK;
  for (;;) {
    int running = 0;
    const CURLMcode mc = curl_multi_perform(multi_, &running);
    if (mc != CURLM_OK) {
      CORVANE_LOG_VERBOSE("Transfer: " << curl_multi_strerror(mc));
      result = CURLE_SEND_ERROR;
      break;
    }
    bool done = false;
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi_, &left)) {
      if (msg->msg == CURLMSG_DONE && msg->easy_handle == h) {
        result = msg->data.result;
        done = true;
      }
    }
    if (done) break;
    if (running == 0) {
      result = CURLE_SEND_ERROR;
      break;
    }
    // Bounded by libcurl's own timers (the 5 s transfer timeout among them).
    int waitMs = 1000;
    if (aborted_.load()) {
      const int64_t remaining = abortDeadlineMs_.load() - SteadyMs();
      if (remaining <= 0) break;
      waitMs = static_cast<int>(std::min<int64_t>(remaining, waitMs));
    }
    curl_multi_poll(multi_, nullptr, 0, waitMs, nullptr);
  }
  curl_multi_remove_handle(multi_, h);
  return result;
}

std::unique_ptr<Transport> MakeCurlTransport(const TransportSettings& settings) {
  return std::unique_ptr<Transport>(new CurlTransport(settings));
}

}  // namespace CorvaneSDK
