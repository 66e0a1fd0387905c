// The libcurl side of the transport: one-time global init, the handle options every request
// shares, transport settings, the verbose trace through the logger with secrets masked, and
// the bounded response buffer. The only header of the library that includes libcurl's.
#pragma once

#include <curl/curl.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Transport.h"

namespace CorvaneSDK {

// Calls curl_global_init exactly once per process, from whichever thread gets here first.
// Every handle is created after it; curl_global_cleanup is never called, because threads of
// the host may still be using libcurl when the SDK goes away. Returns false when it failed.
bool EnsureCurlGlobalInit();

// Applies `settings` and the verbose switch to `handle` (null is ignored).
void ApplyTransport(CURL* handle, const TransportSettings& settings);

// CURLOPT_VERBOSE follows the current log threshold (on above Debug); libcurl's trace then
// goes to the logger at Verbose level through MaskSecrets.
void ApplyVerbose(CURL* handle);

// Owns one easy handle carrying the options every request sets (see MakeCurlTransport).
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

// Owns a header list. One thread at a time.
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
  std::string& Text() { return text_; }
  bool Overflowed() const { return overflowed_; }

  static size_t Write(char* data, size_t size, size_t count, void* self);

 private:
  size_t cap_;
  std::string text_;
  bool overflowed_ = false;
};

// Why a transfer did not succeed, for a log line: libcurl's error text with its detail
// (`errorBuffer`, may be empty) after a transport error, else the HTTP code, with the
// Location of a redirect, which is never followed.
std::string DescribeFailure(CURL* handle, CURLcode rc, long httpCode, const char* errorBuffer);

// One reused easy handle, driven through a multi handle so that Abort can end a transfer at
// once whatever the server does (an easy transfer notices an abort only about once a
// second). Thread contract: that of Transport.
class CurlTransport : public Transport {
 public:
  explicit CurlTransport(const TransportSettings& settings);
  ~CurlTransport() override;
  CurlTransport(const CurlTransport&) = delete;
  CurlTransport& operator=(const CurlTransport&) = delete;

  HttpResponse Perform(const HttpRequest& request, Interrupt* cancel) override;
  bool Ready() const override { return handle_.get() != nullptr; }
  void Apply(const TransportSettings& settings) override;
  void SetTimeoutMs(long timeoutMs) override;
  void Abort(int64_t graceMs) override;

 private:
  CURLcode Run(CURL* h);
  bool SetHeaders(const std::vector<std::string>& lines);

  CurlHandle handle_;
  CURLM* multi_ = nullptr;  // created once; curl_multi_wakeup is safe from any thread
  CurlHeaders headers_;
  std::vector<std::string> headerLines_;  // what headers_ holds, to rebuild only on change
  ResponseBuffer response_;
  std::atomic<bool> aborted_{false};
  std::atomic<int64_t> abortDeadlineMs_{0};  // real steady-clock ms: the transfer is real too
};

}  // namespace CorvaneSDK
