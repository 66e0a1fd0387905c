// The one HTTP transport of the senders: a request as plain data in, a response as plain
// data out. The libcurl implementation lives in CurlTransport.*, the only files that include
// libcurl's headers; tests drive the senders and the retry policy through doubles of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace CorvaneSDK {

class Interrupt;

// Largest response body any sender keeps; more fails the attempt instead of exhausting memory.
constexpr size_t kMaxResponseBytes = 10 * 1024 * 1024;
// Whole-request timeout of every transfer.
constexpr long kTransferTimeoutMs = 5000;

// Transport options from the configuration record. Copied by value: the record may be gone
// by the time a request runs.
struct TransportSettings {
  std::string proxy;      // the proxy URL when non-empty
  std::string proxyCa;    // CA file of the proxy, and proxy peer verification on
  std::string ca;         // CA file of the server, and peer verification on
  bool sslVerify = true;  // false turns peer verification off, winning over `ca`
};

// One request, built by the pure builders of HttpRequests.h. Immutable while performed.
struct HttpRequest {
  std::string method = "GET";        // "GET", "POST" or "PUT"
  std::string url;                   // absolute http(s) URL
  std::vector<std::string> headers;  // "Name: value" lines, without line ends
  std::string body;                  // sent for POST and PUT, exactly this many bytes
  bool keepResponse = false;         // false: the response body is read and dropped
};

struct HttpResponse {
  bool completed = false;   // an HTTP answer arrived (whatever its code)
  bool aborted = false;     // ended by a cancel, not by the server or the network
  int httpCode = 0;         // 0 unless completed
  bool overflowed = false;  // the body passed kMaxResponseBytes; the attempt failed
  std::string body;         // only with keepResponse, only on completion
  // Why the attempt did not succeed, for a log line: the transport's error text, or the
  // HTTP code with the Location of a redirect (never followed). Empty on a 2xx.
  std::string failure;
  // The URL as sent, without credentials; filled when the attempt did not succeed.
  std::string effectiveUrl;
};

// Thread contract: Perform, Apply and SetTimeoutMs run on one thread at a time (the
// sender's); Abort is safe from any thread, also while Perform runs.
class Transport {
 public:
  virtual ~Transport() = default;

  // Runs one transfer synchronously, bounded by the whole-request timeout. When `cancel`
  // (may be null) is set, a running transfer ends within about a second as aborted.
  virtual HttpResponse Perform(const HttpRequest& request, Interrupt* cancel) = 0;
  // False when the transport could not be set up; every Perform then fails.
  virtual bool Ready() const = 0;

  // Proxy, CA files and peer verification; the verbose trace follows the log level.
  virtual void Apply(const TransportSettings& settings) = 0;
  // Whole-request timeout; kTransferTimeoutMs unless a test shortens it. Non-positive
  // values are ignored.
  virtual void SetTimeoutMs(long timeoutMs) = 0;

  // For good (the owner is going away): ends a running transfer, whatever the server does,
  // after `graceMs` in which an answer on its way may still arrive; later transfers end at
  // once after their first step. Aborted transfers come back with `aborted` set.
  virtual void Abort(int64_t graceMs) = 0;
};

// The libcurl transport with the options every sender sets: any encoding accepted, the
// 5 s timeout, best-effort revocation checks, no signals, only http and https (a location a
// server names can never make it read a local file), redirects never followed.
std::unique_ptr<Transport> MakeCurlTransport(const TransportSettings& settings);

}  // namespace CorvaneSDK
