// The base of the HTTP senders and the libcurl plumbing they share: one-time global init,
// the common handle options, transport settings (proxy, CA files, peer verification),
// verbose output through the logger with secrets masked, and bounded response buffers.
#pragma once

#include <curl/curl.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace CorvaneSDK {

class Interrupt;

// Largest response body any sender keeps; more fails the attempt instead of exhausting memory.
constexpr size_t kMaxResponseBytes = 10 * 1024 * 1024;
// Whole-request timeout of every transfer.
constexpr long kTransferTimeoutMs = 5000;

// Base of the HTTP senders. SetStop does nothing here; the senders that wait between
// attempts override it. Thread contract: that of the derived class.
class Sender {
 public:
  virtual ~Sender();
  virtual void SetStop(int /*value*/) {}
};

// Calls curl_global_init exactly once per process, from whichever thread gets here first.
// Every handle is created after it; curl_global_cleanup is never called, because threads of
// the host may still be using libcurl when the SDK goes away. Returns false when it failed.
bool EnsureCurlGlobalInit();

// Transport options from the configuration record. Copied by value: the record may be gone
// by the time a request runs.
struct TransportSettings {
  std::string proxy;      // CURLOPT_PROXY when non-empty
  std::string proxyCa;    // CURLOPT_PROXY_CAINFO, and proxy peer verification on
  std::string ca;         // CURLOPT_CAINFO, and peer verification on
  bool sslVerify = true;  // false turns peer verification off, winning over `ca`
};

// Applies `settings` and the verbose switch to `handle` (null is ignored).
void ApplyTransport(CURL* handle, const TransportSettings& settings);

// CURLOPT_VERBOSE follows the current log threshold (on above Debug); libcurl's trace then
// goes to the logger at Verbose level through MaskSecrets.
void ApplyVerbose(CURL* handle);

// Replaces the values of the "Authorization", "Proxy-Authorization" and "Quorvel-Token"
// header lines in `text` (any case, any line) with "***"; an authorization scheme word
// ("Basic") stays visible. Exposed for tests.
std::string MaskSecrets(const std::string& text);

// Owns one easy handle carrying the options every sender sets: accept every encoding,
// 5 s timeout, best-effort revocation checks, no signals, only http and https (a location
// named by a server can never make libcurl read a local file), verbose per the log level.
// One thread at a time.
class CurlHandle {
 public:
  CurlHandle();
  ~CurlHandle();
  CurlHandle(const CurlHandle&) = delete;
  CurlHandle& operator=(const CurlHandle&) = delete;

  CURL* get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  CURL* handle_ = nullptr;
};

// Owns a header list built once. One thread at a time.
class CurlHeaders {
 public:
  CurlHeaders() = default;
  ~CurlHeaders();
  CurlHeaders(const CurlHeaders&) = delete;
  CurlHeaders& operator=(const CurlHeaders&) = delete;

  // False when libcurl could not allocate the line; the list is then dropped whole, so a
  // request never goes out with some of its headers missing.
  bool Append(const std::string& line);
  void Reset();
  curl_slist* get() const { return list_; }

 private:
  curl_slist* list_ = nullptr;
};

// A response body that stops growing at `cap` bytes: the write callback then refuses the
// chunk, libcurl ends the transfer with CURLE_WRITE_ERROR and the attempt counts as failed.
// One thread at a time (the thread performing the transfer).
class ResponseBuffer {
 public:
  explicit ResponseBuffer(size_t cap = kMaxResponseBytes) : cap_(cap) {}

  // Points the handle's write callback at this buffer.
  void Attach(CURL* handle);
  void Clear() {
    text_.clear();
    overflowed_ = false;
  }
  const std::string& Text() const { return text_; }
  bool Overflowed() const { return overflowed_; }
  size_t Cap() const { return cap_; }

  static size_t Write(char* data, size_t size, size_t count, void* self);

 private:
  size_t cap_;
  std::string text_;
  bool overflowed_ = false;
};

// `url` with any user name and password removed, fit for a log line.
std::string UrlWithoutCredentials(const std::string& url);

// Why a transfer did not succeed, for a log line: libcurl's error text with its detail
// (`errorBuffer`, may be empty) after a transport error, else the HTTP code, with the
// Location of a redirect, which is never followed.
std::string DescribeFailure(CURL* handle, CURLcode rc, long httpCode, const char* errorBuffer);

// True when `url` parses as an absolute http or https URL.
bool IsHttpUrl(const std::string& url);

// Write callback that accepts and drops every byte (CURLOPT_WRITEDATA may be null).
size_t DiscardBody(char* data, size_t size, size_t count, void* unused);

// Progress callback that aborts the transfer once the Interrupt given as its data is set.
int AbortWhenInterrupted(void* interrupt, curl_off_t, curl_off_t, curl_off_t, curl_off_t);

// The attempt loop of the configuration requests: at most kFetchAttempts transfers,
// kFetchRetryIntervalMs apart. 2xx succeeds; 400-499 other than 429 fails at once; anything
// else (transport error, 429, 5xx, an over-long body) is retried. `cancel` ends the wait and
// aborts a running transfer. The response buffer is emptied before every attempt.
constexpr int kFetchAttempts = 4;
constexpr int64_t kFetchRetryIntervalMs = 5000;

struct FetchOutcome {
  bool ok = false;
  int httpCode = 0;  // of the last completed transfer; 0 after a transport error
  int attempts = 0;
};

FetchOutcome PerformWithRetries(CURL* handle, ResponseBuffer& response, Interrupt& cancel,
                                const char* what);

}  // namespace CorvaneSDK
