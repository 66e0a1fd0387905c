// The install's SKAdNetwork state: counters and revenue totals that the conversion schema is
// evaluated against, the current fine and coarse values, the postback window and its lock
// flag; persisted as a dictionary through its external (the manager), re-evaluated on every
// change and every 30 s, reporting changed values to the platform.
//
// Threads: every operation runs on the context's serial queue (work from inside it runs
// inline); calls from other threads wait for it. The timer ticks on the main queue and hands
// the tick to the context's queue. The process-wide schema and dirty flag are guarded.
// A schema evaluates this context only from the context's own queue (as the context does):
// from elsewhere it would hold the revenue cache's lock while waiting for the queue.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "CorvaneSDKSkanConversionSchema.h"
#include "Dispatch.h"
#include "Value.h"

namespace CorvaneSDK {
namespace Mobile {

constexpr const char* kSkanConversionContextKey = "corvane.sdk.skanConversionContext";
constexpr const char* kSkanConversionSchemaKey = "corvane.sdk.skanConversionSchema";

// What the context calls back (the manager implements it).
class CorvaneSDKSkanConversionExternal {
 public:
  virtual ~CorvaneSDKSkanConversionExternal() = default;
  virtual bool canUpdatePostbackConversionValue() = 0;
  virtual void saveSkanConversionContextToDisk(const Value& dictionary) = 0;
};

// The manager's side: reports are allowed only when the manager is initialized, the platform
// has SKAdNetwork and the configuration sets `useSkanConversionSchema`; a save goes to the
// main queue and from there to `store`, and is dropped while the manager is not initialized.
// Thread-safe when the three functions are.
class CorvaneSDKSkanConversionManagerExternal : public CorvaneSDKSkanConversionExternal {
 public:
  CorvaneSDKSkanConversionManagerExternal(std::function<bool()> isInitialized,
                                          std::function<bool()> useSkanConversionSchema,
                                          std::function<void(const Value&)> store);
  bool canUpdatePostbackConversionValue() override;
  void saveSkanConversionContextToDisk(const Value& dictionary) override;

 private:
  std::function<bool()> isInitialized_;
  std::function<bool()> useSkan_;
  std::function<void(const Value&)> store_;
};

// Plain values a schema can be evaluated against (tests, tools). Not thread-safe.
class CorvaneSDKSkanConversionValues : public CorvaneSDKSkanConversionContext {
 public:
  int32_t sessionCount() const override { return sessions; }
  int32_t fineCv() const override { return fine; }
  void setFineCv(int32_t value) override { fine = value; }
  int32_t coarseCv() const override { return coarse; }
  void setCoarseCv(int32_t value) override { coarse = value; }
  bool windowLocked() const override { return locked; }
  void setWindowLocked(bool value) override { locked = value; }
  int32_t postbackWindowIndex() const override { return window; }
  uint64_t getPostInstallTime() const override { return postInstallTime; }
  double revenueIAP() const override { return iap; }
  double revenueAd() const override { return ad; }
  double revenueCrypto() const override { return crypto; }
  double revenueEvent() const override { return event; }
  int32_t getEventCount(const std::string& name) const override;
  double getEventRevenue(const std::string& name) const override;

  int32_t sessions = 0;
  int32_t fine = 0;
  int32_t coarse = 0;
  bool locked = false;
  int32_t window = 0;
  uint64_t postInstallTime = 0;
  double iap = 0, ad = 0, crypto = 0, event = 0;
  Value eventCounts = Value::object();
  Value eventRevenues = Value::object();
};

class CorvaneSDKSkanConversionContextImpl : public CorvaneSDKSkanConversionContext,
                                            public std::enable_shared_from_this<CorvaneSDKSkanConversionContextImpl> {
 public:
  static constexpr int64_t kUpdateIntervalMs = 30000;
  // Post-install seconds that do not count toward the postback windows.
  static constexpr uint64_t kWindowDelaySeconds = 900;

  // Clears the process-wide schema and dirty flag. Without `queue` the context makes its own.
  static std::shared_ptr<CorvaneSDKSkanConversionContextImpl> init(std::shared_ptr<DispatchQueue> queue = nullptr);
  static std::shared_ptr<CorvaneSDKSkanConversionContextImpl> initWithData(const Value& dictionary,
                                                                           std::shared_ptr<DispatchQueue> queue = nullptr);
  ~CorvaneSDKSkanConversionContextImpl() override;
  CorvaneSDKSkanConversionContextImpl(const CorvaneSDKSkanConversionContextImpl&) = delete;
  CorvaneSDKSkanConversionContextImpl& operator=(const CorvaneSDKSkanConversionContextImpl&) = delete;

  // Field by field: a value of the wrong type or outside its range takes `init`'s default.
  void deserialize(const Value& dictionary);
  Value serialize() const;

  void setExternal(std::shared_ptr<CorvaneSDKSkanConversionExternal> external);
  std::shared_ptr<CorvaneSDKSkanConversionExternal> external() const;

  void start(std::shared_ptr<CorvaneSDKSkanConversionSchema> schema);
  void recordSession();
  // Amounts that are not finite, or not above 0, are ignored.
  void recordRevenueIAP(double amount);
  void recordRevenueAd(double amount);
  void recordRevenueCrypto(double amount);
  void recordEvent(const std::string& name);
  // Any finite amount, negative ones included; a non-finite amount counts the event only.
  void recordEvent(const std::string& name, double revenue);

  int32_t sessionCount() const override;
  int32_t fineCv() const override;
  void setFineCv(int32_t value) override;
  int32_t coarseCv() const override;
  void setCoarseCv(int32_t value) override;
  bool windowLocked() const override;
  void setWindowLocked(bool locked) override;
  int32_t postbackWindowIndex() const override;
  uint64_t getPostInstallTime() const override;
  double revenueIAP() const override;
  double revenueAd() const override;
  double revenueCrypto() const override;
  double revenueEvent() const override;
  int32_t getEventCount(const std::string& name) const override;
  double getEventRevenue(const std::string& name) const override;
  uint64_t installTime() const;
  uint64_t lastTime() const;
  // `now` in Unix seconds.
  int32_t getPostbackWindow(int64_t now) const;

  void updateTime();
  void updateConversionValue(bool force);
  void updateLockWindow();
  void updatePostbackConversionValue();
  void saveToDisk();

  bool hasTimer() const;
  // The process-wide schema the context was started with, and the dirty flag.
  static std::shared_ptr<CorvaneSDKSkanConversionSchema> schema();
  static bool isDirty();

 private:
  explicit CorvaneSDKSkanConversionContextImpl(std::shared_ptr<DispatchQueue> queue);
  template <typename F>
  auto onQueue(F&& f) const -> decltype(f());
  void resetFields();
  void recordRevenue(double CorvaneSDKSkanConversionContextImpl::*total, double amount);
  void evaluate() { updateConversionValue(false); }

  std::shared_ptr<DispatchQueue> queue_;
  // Touched only on queue_.
  std::shared_ptr<CorvaneSDKSkanConversionExternal> external_;
  bool windowLocked_ = false;
  int32_t postbackWindowIndex_ = 0;
  int32_t fineCv_ = 0;
  int32_t coarseCv_ = 0;
  int32_t sessionCount_ = 0;
  double revenueIAP_ = 0;
  double revenueAd_ = 0;
  double revenueCrypto_ = 0;
  double revenueEvent_ = 0;
  uint64_t installTime_ = 0;
  uint64_t lastTime_ = 0;
  Value eventCountMap_ = Value::object();
  Value eventRevenueMap_ = Value::object();
  std::shared_ptr<Timer> updateTimer_;
};

}  // namespace Mobile
}  // namespace CorvaneSDK
