// The ad-services port (AdServices' AAAttribution on Apple): the attribution token, or an error
// with its code (3: not supported). SettableAdServices is both the portable implementation and
// the double: it answers with scripted results in order, then with the standing one.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

namespace CorvaneSDK {
namespace Mobile {

constexpr const char* kAdServicesClassName = "AAAttribution";
constexpr const char* kSelAttributionToken = "attributionTokenWithError:";
constexpr int64_t kAdServicesErrorNotSupported = 3;

struct AttributionTokenResult {
  std::optional<std::string> token;  // set on success
  int64_t errorCode = 0;             // set on failure
  std::string errorDescription;

  static AttributionTokenResult success(std::string token);
  static AttributionTokenResult failure(int64_t code, std::string description = std::string());
};

// Thread-safe; the call is synchronous, as the platform's is.
class AdServicesPort {
 public:
  virtual ~AdServicesPort() = default;
  // The by-name lookup of the class, made once per port.
  bool classPresent();
  virtual bool respondsToSelector(const std::string& selector) = 0;
  virtual AttributionTokenResult attributionToken() = 0;

 protected:
  virtual bool lookUpClass() = 0;

 private:
  std::once_flag lookedUp_;
  bool present_ = false;
};

// Without a script or standing result it fails with code 3, as a platform without Apple Ads.
class SettableAdServices : public AdServicesPort {
 public:
  explicit SettableAdServices(bool present = true) : present_(present) {}
  bool respondsToSelector(const std::string& selector) override;
  AttributionTokenResult attributionToken() override;

  void setResult(AttributionTokenResult result);
  void enqueue(AttributionTokenResult result);
  int calls();

 protected:
  bool lookUpClass() override { return present_; }

 private:
  const bool present_;
  std::mutex mutex_;
  AttributionTokenResult standing_ = AttributionTokenResult::failure(kAdServicesErrorNotSupported, "not supported");
  std::deque<AttributionTokenResult> script_;
  int calls_ = 0;
};

}  // namespace Mobile
}  // namespace CorvaneSDK
