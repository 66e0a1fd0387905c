// The two remote-config requests: a POST to the remote config endpoint authenticated by an
// HS256 token in the "Quorvel-Token" header, and the GET of the document location it names.
// Both retry up to four attempts 5000 ms apart and bound the response body.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "Clock.h"
#include "Env.h"
#include "Sender.h"

namespace CorvaneSDK {

class IdentitySource;

// The 9-byte key that signs request tokens (shared with the mobile framework). Assembled at
// run time so that it never appears as one literal in the binary.
std::string TokenKey();

// Thread contract: FetchRemoteConfigInfo, FetchDocument and SetTimeoutMs run on one thread
// at a time (the fetch thread); Cancel, SetStop, Status, Attempts and LastHttpCode are safe
// from any thread. The owner must not destroy the sender while a fetch runs: Cancel it, then
// join the fetch thread (Cancel makes that bounded). `properties` must outlive the sender.
class RemoteConfigSender : public Sender {
 public:
  // Waits, token times and token ids come from `env`, which must outlive the sender.
  RemoteConfigSender(const IdentitySource& properties, const TransportSettings& transport,
                     Env& env = Env::Default());
  // The same over `transport` (tests hand in a double); null falls back to libcurl.
  RemoteConfigSender(const IdentitySource& properties, std::unique_ptr<Transport> transport,
                     Env& env = Env::Default());
  ~RemoteConfigSender() override;
  RemoteConfigSender(const RemoteConfigSender&) = delete;
  RemoteConfigSender& operator=(const RemoteConfigSender&) = delete;

  // POSTs {"buildNumber","bundleId","platform","qvUid"} to `url`; true with the answer in
  // `response` on a 2xx. On failure `response` is empty.
  bool FetchRemoteConfigInfo(const std::string& url, std::string& response);
  // GETs the document at `location` (an http(s) URL named by the server); as above.
  bool FetchDocument(const std::string& location, std::string& response);

  // Ends a retry wait and a running transfer at once; every later request fails at once.
  void Cancel();
  // Non-zero cancels; zero allows requests again.
  void SetStop(int value) override;

  int Status() const { return status_.load(); }  // 1 running, 2 succeeded, 3 failed
  int Attempts() const { return attempts_.load(); }
  int LastHttpCode() const { return lastHttpCode_.load(); }

  // Whole-request timeout; 5000 ms unless a test shortens it. Non-positive values are ignored.
  void SetTimeoutMs(long timeoutMs);

  // header.claims.signature, each part base64url without padding. Claims: "iat" = whole
  // seconds of the wall clock 5000 ms ago, "iss" "Quorvel", "jti" a new UUID, "sub" the
  // bundle id.
  static std::string BuildToken(const std::string& bundleId, Env& env = Env::Default());
  // The request body, compact, keys in byte order (BuildRemoteConfigBody).
  static std::string BuildRequestBody(const std::string& bundleId, int buildNumber,
                                      const std::string& platform, const std::string& userId);
  // Empty text gives 1. Otherwise an optional sign and the leading digits, like a decimal
  // integer parse (leading white space skipped, the rest ignored). No leading digits, or more
  // than a 32-bit int holds, gives 1 and sets `*valid` to false.
  static int ParseBuildNumber(const std::string& text, bool* valid = nullptr);

 private:
  bool Perform(const char* what, const HttpRequest& request, std::string& response);

  Env& env_;
  const IdentitySource& properties_;
  std::unique_ptr<Transport> transport_;
  Interrupt cancel_;
  std::atomic<int> status_{0};
  std::atomic<int> attempts_{0};
  std::atomic<int> lastHttpCode_{0};
};

}  // namespace CorvaneSDK
