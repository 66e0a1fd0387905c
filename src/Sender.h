// What the HTTP senders share: their base class and the attempt loop of the configuration
// requests over the transport and the retry policy. Free of libcurl's headers: those stay
// in CurlTransport.h.
#pragma once

#include <string>

#include "HttpRequests.h"
#include "RetryPolicy.h"
#include "Transport.h"

namespace CorvaneSDK {

class Clock;
class Interrupt;

// Base of the HTTP senders. SetStop does nothing here; the senders that wait between
// attempts override it. Thread contract: that of the derived class.
class Sender {
 public:
  virtual ~Sender();
  virtual void SetStop(int /*value*/) {}
};

struct FetchOutcome {
  bool ok = false;
  int httpCode = 0;  // of the last completed transfer; 0 after a transport error
  int attempts = 0;
  std::string body;  // the answer on success; a failed request hands nothing on
};

// A configuration request under RetryPolicy::ForConfig, with its log lines named `what`:
// one Warning per request with the cause, Debug for the retries that follow. `cancel` ends
// the wait and aborts a running transfer; set beforehand, nothing is sent.
FetchOutcome PerformWithRetries(Transport& transport, const HttpRequest& request,
                                Interrupt& cancel, const char* what, Clock& clock);

}  // namespace CorvaneSDK
