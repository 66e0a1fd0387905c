// The SKAdNetwork port: whether the platform has the class, which of its update operations it
// answers, and the four update calls. PortableSKAdNetwork answers as the platform's class does
// on the release the OS-version port reports and keeps the last values; RecordingSKAdNetwork
// is the double that records every call. SKAdNetworkPlatform holds the installed pair.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "OSVersion.h"
#include "Value.h"

namespace CorvaneSDK {
namespace Mobile {

// The operation names the class is asked about.
constexpr const char* kSKAdNetworkClassName = "SKAdNetwork";
constexpr const char* kSelUpdateConversionValue = "updateConversionValue:";
constexpr const char* kSelUpdatePostback = "updatePostbackConversionValue:completionHandler:";
constexpr const char* kSelUpdatePostbackCoarse = "updatePostbackConversionValue:coarseValue:completionHandler:";
constexpr const char* kSelUpdatePostbackCoarseLock =
    "updatePostbackConversionValue:coarseValue:lockWindow:completionHandler:";
constexpr const char* kSelRegisterApp = "registerAppForAdNetworkAttribution";

// Whether the platform's class has `selector` on release `version`: the app registration from
// 11.3, the legacy update from 14.0, the fine-only postback update from 15.4, the coarse forms
// from 16.1.
bool skAdNetworkAnswersOn(const OSVersion& version, const std::string& selector);

// An error's localized description, or none on success.
using SKAdNetworkCompletion = std::function<void(const std::optional<std::string>& error)>;

// Thread-safe; completions may run on any thread, before or after the call returns.
class SKAdNetworkPort {
 public:
  virtual ~SKAdNetworkPort() = default;
  // The by-name lookup of the class, made once per port (the platform's classes never change
  // while the process runs).
  bool classPresent();
  virtual bool respondsToSelector(const std::string& selector) = 0;
  virtual void updateConversionValue(int32_t fine) = 0;
  virtual void updatePostbackConversionValue(int32_t fine, SKAdNetworkCompletion completion) = 0;
  virtual void updatePostbackConversionValue(int32_t fine, const std::string& coarse,
                                             SKAdNetworkCompletion completion) = 0;
  virtual void updatePostbackConversionValue(int32_t fine, const std::string& coarse, bool lockWindow,
                                             SKAdNetworkCompletion completion) = 0;
  // The app's registration for attribution (older releases); nothing unless overridden.
  virtual void registerAppForAdNetworkAttribution() {}

 protected:
  virtual bool lookUpClass() = 0;

 private:
  std::once_flag lookedUp_;
  bool present_ = false;
};

// What a platform without SKAdNetwork uses: it accepts the four operations the platform's class
// answers on the reported release, keeps the last values and completes without error.
class PortableSKAdNetwork : public SKAdNetworkPort {
 public:
  struct Report {
    int32_t fine = -1;
    std::string coarse;  // "" when the call had none
    bool lockWindow = false;
    int count = 0;
  };
  explicit PortableSKAdNetwork(std::shared_ptr<const OSVersionPort> osVersion = nullptr);
  bool respondsToSelector(const std::string& selector) override;
  void updateConversionValue(int32_t fine) override;
  void updatePostbackConversionValue(int32_t fine, SKAdNetworkCompletion completion) override;
  void updatePostbackConversionValue(int32_t fine, const std::string& coarse,
                                     SKAdNetworkCompletion completion) override;
  void updatePostbackConversionValue(int32_t fine, const std::string& coarse, bool lockWindow,
                                     SKAdNetworkCompletion completion) override;
  void registerAppForAdNetworkAttribution() override;
  Report lastReport() const;
  int registrations() const;

 protected:
  bool lookUpClass() override { return true; }

 private:
  void keep(int32_t fine, const std::string& coarse, bool lockWindow);
  std::shared_ptr<const OSVersionPort> osVersion_;
  mutable std::mutex mutex_;
  Report last_;
  int registrations_ = 0;
};

// The double. The class is present or not as set at construction; it answers the operations of
// the release its OS-version port reports, or exactly the list set with setResponds. Every call
// is recorded with its operation name and arguments; completions run at once, with the error
// set by failWith (none by default).
class RecordingSKAdNetwork : public SKAdNetworkPort {
 public:
  struct Call {
    std::string selector;
    Value args;  // array: fine, then coarse and lock flag when the operation has them
  };
  explicit RecordingSKAdNetwork(bool present = true, std::shared_ptr<const OSVersionPort> osVersion = nullptr);
  bool respondsToSelector(const std::string& selector) override;
  void updateConversionValue(int32_t fine) override;
  void updatePostbackConversionValue(int32_t fine, SKAdNetworkCompletion completion) override;
  void updatePostbackConversionValue(int32_t fine, const std::string& coarse,
                                     SKAdNetworkCompletion completion) override;
  void updatePostbackConversionValue(int32_t fine, const std::string& coarse, bool lockWindow,
                                     SKAdNetworkCompletion completion) override;
  // Recorded with empty args.
  void registerAppForAdNetworkAttribution() override;

  void setResponds(std::optional<std::set<std::string>> selectors);
  void failWith(std::optional<std::string> error);
  // Runs at the start of every recorded call, on the caller's thread (the adapter reads the
  // log line written just before the call).
  void onCall(std::function<void(const Call&)> hook);
  std::vector<Call> calls() const;
  void clear();
  int lookups() const { return lookups_.load(); }

 protected:
  bool lookUpClass() override;

 private:
  void record(const std::string& selector, Value args, const SKAdNetworkCompletion* completion);
  const bool present_;
  std::shared_ptr<const OSVersionPort> osVersion_;
  mutable std::mutex mutex_;
  std::optional<std::set<std::string>> responds_;
  std::optional<std::string> error_;
  std::function<void(const Call&)> hook_;
  std::vector<Call> calls_;
  std::atomic<int> lookups_{0};
};

struct SKAdNetworkPorts {
  std::shared_ptr<SKAdNetworkPort> skAdNetwork;
  std::shared_ptr<const OSVersionPort> osVersion;
};

// The installed pair, apart from Platform's set so that it grows without touching it. Callers
// keep the shared pointers they use; installing a new pair never frees a port under a call.
class SKAdNetworkPlatform {
 public:
  static std::shared_ptr<const SKAdNetworkPorts> current();
  // Null goes back to the portable pair.
  static void install(std::shared_ptr<const SKAdNetworkPorts> ports);
  static SKAdNetworkPorts portable();
};

}  // namespace Mobile
}  // namespace CorvaneSDK
