// The conversion context: stored form, counters, evaluation, window clock and reports.
#include "CorvaneSDKSkanConversionContext.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <mutex>
#include <type_traits>

#include "CorvaneSDKSkanNumbers.h"
#include "CorvaneSDKSkanPlatform.h"
#include "Platform.h"

namespace CorvaneSDK {
namespace Mobile {

using SkanNumbers::member;
using SkanNumbers::readDouble;
using SkanNumbers::readInt32;
using SkanNumbers::readUInt64;

namespace {
std::mutex& schemaMutex() {
  static auto* m = new std::mutex();
  return *m;
}
std::shared_ptr<CorvaneSDKSkanConversionSchema>& currentSchema() {
  static auto* s = new std::shared_ptr<CorvaneSDKSkanConversionSchema>();
  return *s;
}
std::atomic<bool> gDirty{false};

void setSchema(std::shared_ptr<CorvaneSDKSkanConversionSchema> schema) {
  std::shared_ptr<CorvaneSDKSkanConversionSchema> previous;
  std::lock_guard<std::mutex> lock(schemaMutex());
  previous = std::move(currentSchema());
  currentSchema() = std::move(schema);
}

// Whole Unix seconds of the installed clock (floor, so a clock before 1970 stays ordered).
int64_t nowSeconds() {
  auto ports = Platform::current();
  const int64_t ms = ports && ports->clock ? ports->clock->wallMs() : SystemClock().wallMs();
  int64_t seconds = ms / 1000;
  if (ms % 1000 < 0) --seconds;  // toward minus infinity, with no overflow at the extremes
  return seconds;
}

uint64_t asStoredTime(int64_t seconds) { return seconds > 0 ? static_cast<uint64_t>(seconds) : 0; }

int32_t readRanged(const Value& dict, const char* key, int32_t lo, int32_t hi) {
  const Value* v = member(dict, key);
  auto read = v ? readInt32(*v) : std::nullopt;
  return read && *read >= lo && *read <= hi ? *read : 0;
}

// Entries of the wrong type count as 0 (and are replaced by the next increment).
int32_t countOf(const Value& map, const std::string& name) {
  if (!map.is_object()) return 0;
  auto it = map.find(name);
  return it == map.end() ? 0 : readInt32(*it).value_or(0);
}

double revenueOf(const Value& map, const std::string& name) {
  if (!map.is_object()) return 0.0;
  auto it = map.find(name);
  return it == map.end() ? 0.0 : readDouble(*it).value_or(0.0);
}

int32_t plusOne(int32_t count) { return count < std::numeric_limits<int32_t>::max() ? count + 1 : count; }
}  // namespace

// ---- manager side ----

CorvaneSDKSkanConversionManagerExternal::CorvaneSDKSkanConversionManagerExternal(
    std::function<bool()> isInitialized, std::function<bool()> useSkanConversionSchema,
    std::function<void(const Value&)> store)
    : isInitialized_(std::move(isInitialized)), useSkan_(std::move(useSkanConversionSchema)), store_(std::move(store)) {}

bool CorvaneSDKSkanConversionManagerExternal::canUpdatePostbackConversionValue() {
  return isInitialized_ && isInitialized_() && CorvaneSDKSkanPlatform::isSKAdNetworkAvailable() && useSkan_ &&
         useSkan_();
}

void CorvaneSDKSkanConversionManagerExternal::saveSkanConversionContextToDisk(const Value& dictionary) {
  if (!isInitialized_ || !isInitialized_() || !store_) return;
  auto ports = Platform::current();
  auto main = ports && ports->dispatch ? ports->dispatch->mainQueue() : nullptr;
  if (!main) return;
  // Storage is touched on the main queue only, never on the caller's.
  main->async([store = store_, dictionary] { store(dictionary); });
}

// ---- plain values ----

int32_t CorvaneSDKSkanConversionValues::getEventCount(const std::string& name) const {
  return countOf(eventCounts, name);
}

double CorvaneSDKSkanConversionValues::getEventRevenue(const std::string& name) const {
  return revenueOf(eventRevenues, name);
}

// ---- context ----

CorvaneSDKSkanConversionContextImpl::CorvaneSDKSkanConversionContextImpl(std::shared_ptr<DispatchQueue> queue)
    : queue_(std::move(queue)) {
  if (!queue_) {
    auto ports = Platform::current();
    if (ports && ports->dispatch) queue_ = ports->dispatch->makeSerialQueue("com.corvane.sdk.skan");
    if (!queue_) queue_ = std::make_shared<SerialQueue>("com.corvane.sdk.skan");
  }
}

CorvaneSDKSkanConversionContextImpl::~CorvaneSDKSkanConversionContextImpl() {
  if (updateTimer_) updateTimer_->invalidate();
}

template <typename F>
auto CorvaneSDKSkanConversionContextImpl::onQueue(F&& f) const -> decltype(f()) {
  using R = decltype(f());
  if constexpr (std::is_void_v<R>) {
    dispatchOn(*queue_, [&] { f(); }, true);
  } else {
    R result{};
    dispatchOn(*queue_, [&] { result = f(); }, true);
    return result;
  }
}

void CorvaneSDKSkanConversionContextImpl::resetFields() {
  const uint64_t now = asStoredTime(nowSeconds());
  installTime_ = now;
  lastTime_ = now;
  postbackWindowIndex_ = 0;
  windowLocked_ = false;
  fineCv_ = 0;
  coarseCv_ = CorvaneSDKSkanConversionCoarseValueLow;
  sessionCount_ = 0;
  revenueIAP_ = revenueAd_ = revenueCrypto_ = revenueEvent_ = 0.0;
  eventCountMap_ = Value::object();
  eventRevenueMap_ = Value::object();
}

std::shared_ptr<CorvaneSDKSkanConversionContextImpl> CorvaneSDKSkanConversionContextImpl::init(
    std::shared_ptr<DispatchQueue> queue) {
  std::shared_ptr<CorvaneSDKSkanConversionContextImpl> context(new CorvaneSDKSkanConversionContextImpl(std::move(queue)));
  setSchema(nullptr);
  gDirty = false;
  context->onQueue([&] { context->resetFields(); });
  return context;
}

std::shared_ptr<CorvaneSDKSkanConversionContextImpl> CorvaneSDKSkanConversionContextImpl::initWithData(
    const Value& dictionary, std::shared_ptr<DispatchQueue> queue) {
  auto context = init(std::move(queue));
  context->deserialize(dictionary);
  return context;
}

void CorvaneSDKSkanConversionContextImpl::deserialize(const Value& dictionary) {
  onQueue([&] {
    const Value* locked = member(dictionary, "window_locked");
    windowLocked_ = locked && locked->is_boolean() && locked->get<bool>();
    // Values outside their range would stop every coarse update or report a value the
    // platform refuses: they read as the first window, fine 0 and "low".
    postbackWindowIndex_ = readRanged(dictionary, "postback_window_index", 0, 2);
    fineCv_ = readRanged(dictionary, "fine_cv", 0, 63);
    coarseCv_ = readRanged(dictionary, "coarse_cv", 0, 2);
    const Value* sessions = member(dictionary, "session_count");
    sessionCount_ = sessions ? readInt32(*sessions).value_or(0) : 0;
    auto revenue = [&](const char* key) {
      const Value* v = member(dictionary, key);
      return v ? readDouble(*v).value_or(0.0) : 0.0;
    };
    revenueIAP_ = revenue("revenue_iap");
    revenueAd_ = revenue("revenue_ad");
    revenueCrypto_ = revenue("revenue_crypto");
    revenueEvent_ = revenue("revenue_event");
    // A missing or zero time would date the install to 1970 and lock every window at once.
    const uint64_t now = asStoredTime(nowSeconds());
    auto time = [&](const char* key) {
      const Value* v = member(dictionary, key);
      const uint64_t read = v ? readUInt64(*v).value_or(0) : 0;
      return read != 0 ? read : now;
    };
    installTime_ = time("install_time");
    lastTime_ = time("last_time");
    const Value* counts = member(dictionary, "event_count_map");
    eventCountMap_ = counts && counts->is_object() ? *counts : Value::object();
    const Value* revenues = member(dictionary, "event_revenue_map");
    eventRevenueMap_ = revenues && revenues->is_object() ? *revenues : Value::object();
  });
}

Value CorvaneSDKSkanConversionContextImpl::serialize() const {
  return onQueue([&] {
    Value out = Value::object();
    out["window_locked"] = windowLocked_;
    out["postback_window_index"] = postbackWindowIndex_;
    out["fine_cv"] = fineCv_;
    out["coarse_cv"] = coarseCv_;
    out["session_count"] = sessionCount_;
    out["revenue_iap"] = revenueIAP_;
    out["revenue_ad"] = revenueAd_;
    out["revenue_crypto"] = revenueCrypto_;
    out["revenue_event"] = revenueEvent_;
    out["install_time"] = installTime_;
    out["last_time"] = lastTime_;
    out["event_count_map"] = eventCountMap_;
    out["event_revenue_map"] = eventRevenueMap_;
    return out;
  });
}

void CorvaneSDKSkanConversionContextImpl::setExternal(std::shared_ptr<CorvaneSDKSkanConversionExternal> external) {
  onQueue([&] { external_ = std::move(external); });
}

std::shared_ptr<CorvaneSDKSkanConversionExternal> CorvaneSDKSkanConversionContextImpl::external() const {
  return onQueue([&] { return external_; });
}

std::shared_ptr<CorvaneSDKSkanConversionSchema> CorvaneSDKSkanConversionContextImpl::schema() {
  std::lock_guard<std::mutex> lock(schemaMutex());
  return currentSchema();
}

bool CorvaneSDKSkanConversionContextImpl::isDirty() { return gDirty.load(); }

bool CorvaneSDKSkanConversionContextImpl::hasTimer() const {
  return onQueue([&] { return updateTimer_ != nullptr && updateTimer_->isValid(); });
}

void CorvaneSDKSkanConversionContextImpl::start(std::shared_ptr<CorvaneSDKSkanConversionSchema> schema) {
  onQueue([&] {
    setSchema(schema);
    if (!schema) return;
    const int64_t now = nowSeconds();
    lastTime_ = asStoredTime(now);
    // The window only moves forward: a clock set back never reopens an earlier one.
    postbackWindowIndex_ = std::max(postbackWindowIndex_, getPostbackWindow(now));
    windowLocked_ = false;
    // The lock check sees the stored values, before they are evaluated again.
    schema->updateLockWindow(*this);
    schema->updateConversionValue(*this);
    updatePostbackConversionValue();
    gDirty = true;
    saveToDisk();
    if (updateTimer_) updateTimer_->invalidate();
    updateTimer_.reset();
    auto ports = Platform::current();
    auto main = ports && ports->dispatch ? ports->dispatch->mainQueue() : nullptr;
    if (!main) return;
    std::weak_ptr<CorvaneSDKSkanConversionContextImpl> weak = weak_from_this();
    updateTimer_ = main->scheduleRepeating(kUpdateIntervalMs, [weak] {
      if (auto self = weak.lock()) self->updateTime();
    });
  });
}

void CorvaneSDKSkanConversionContextImpl::recordSession() {
  onQueue([&] {
    sessionCount_ = plusOne(sessionCount_);
    gDirty = true;
    evaluate();
  });
}

void CorvaneSDKSkanConversionContextImpl::recordRevenue(double CorvaneSDKSkanConversionContextImpl::*total,
                                                        double amount) {
  onQueue([&] {
    // NaN fails the comparison too: an exchange rate of 0 never reaches a total.
    if (!(amount > 0) || !std::isfinite(amount)) return;
    const double sum = this->*total + amount;
    if (!std::isfinite(sum)) return;
    this->*total = sum;
    gDirty = true;
    evaluate();
  });
}

void CorvaneSDKSkanConversionContextImpl::recordRevenueIAP(double amount) {
  recordRevenue(&CorvaneSDKSkanConversionContextImpl::revenueIAP_, amount);
}
void CorvaneSDKSkanConversionContextImpl::recordRevenueAd(double amount) {
  recordRevenue(&CorvaneSDKSkanConversionContextImpl::revenueAd_, amount);
}
void CorvaneSDKSkanConversionContextImpl::recordRevenueCrypto(double amount) {
  recordRevenue(&CorvaneSDKSkanConversionContextImpl::revenueCrypto_, amount);
}

void CorvaneSDKSkanConversionContextImpl::recordEvent(const std::string& name) {
  onQueue([&] {
    eventCountMap_[name] = plusOne(countOf(eventCountMap_, name));
    gDirty = true;
    evaluate();
  });
}

void CorvaneSDKSkanConversionContextImpl::recordEvent(const std::string& name, double revenue) {
  onQueue([&] {
    eventCountMap_[name] = plusOne(countOf(eventCountMap_, name));
    if (std::isfinite(revenue)) {
      const double eventTotal = revenueOf(eventRevenueMap_, name) + revenue;
      const double total = revenueEvent_ + revenue;
      if (std::isfinite(eventTotal) && std::isfinite(total)) {
        eventRevenueMap_[name] = eventTotal;
        revenueEvent_ = total;
      }
    }
    gDirty = true;
    evaluate();
  });
}

int32_t CorvaneSDKSkanConversionContextImpl::sessionCount() const { return onQueue([&] { return sessionCount_; }); }
int32_t CorvaneSDKSkanConversionContextImpl::fineCv() const { return onQueue([&] { return fineCv_; }); }
void CorvaneSDKSkanConversionContextImpl::setFineCv(int32_t value) { onQueue([&] { fineCv_ = value; }); }
int32_t CorvaneSDKSkanConversionContextImpl::coarseCv() const { return onQueue([&] { return coarseCv_; }); }
void CorvaneSDKSkanConversionContextImpl::setCoarseCv(int32_t value) { onQueue([&] { coarseCv_ = value; }); }
bool CorvaneSDKSkanConversionContextImpl::windowLocked() const { return onQueue([&] { return windowLocked_; }); }
void CorvaneSDKSkanConversionContextImpl::setWindowLocked(bool locked) { onQueue([&] { windowLocked_ = locked; }); }
int32_t CorvaneSDKSkanConversionContextImpl::postbackWindowIndex() const {
  return onQueue([&] { return postbackWindowIndex_; });
}
double CorvaneSDKSkanConversionContextImpl::revenueIAP() const { return onQueue([&] { return revenueIAP_; }); }
double CorvaneSDKSkanConversionContextImpl::revenueAd() const { return onQueue([&] { return revenueAd_; }); }
double CorvaneSDKSkanConversionContextImpl::revenueCrypto() const { return onQueue([&] { return revenueCrypto_; }); }
double CorvaneSDKSkanConversionContextImpl::revenueEvent() const { return onQueue([&] { return revenueEvent_; }); }
uint64_t CorvaneSDKSkanConversionContextImpl::installTime() const { return onQueue([&] { return installTime_; }); }
uint64_t CorvaneSDKSkanConversionContextImpl::lastTime() const { return onQueue([&] { return lastTime_; }); }

int32_t CorvaneSDKSkanConversionContextImpl::getEventCount(const std::string& name) const {
  return onQueue([&] { return countOf(eventCountMap_, name); });
}

double CorvaneSDKSkanConversionContextImpl::getEventRevenue(const std::string& name) const {
  return onQueue([&] { return revenueOf(eventRevenueMap_, name); });
}

uint64_t CorvaneSDKSkanConversionContextImpl::getPostInstallTime() const {
  return onQueue([&] { return lastTime_ > installTime_ ? lastTime_ - installTime_ : uint64_t{0}; });
}

int32_t CorvaneSDKSkanConversionContextImpl::getPostbackWindow(int64_t now) const {
  return onQueue([&] {
    auto schema = CorvaneSDKSkanConversionContextImpl::schema();
    if (!schema) return 0;
    // Signed and clamped at 0: the first 900 s, and a clock behind the install, are window 0.
    uint64_t seconds = 0;
    if (now > 0 && static_cast<uint64_t>(now) > installTime_) {
      const uint64_t since = static_cast<uint64_t>(now) - installTime_;
      seconds = since > kWindowDelaySeconds ? since - kWindowDelaySeconds : 0;
    }
    return schema->getPostbackWindow(seconds);
  });
}

void CorvaneSDKSkanConversionContextImpl::updateTime() {
  onQueue([&] {
    const int64_t now = nowSeconds();
    lastTime_ = asStoredTime(now);
    const int32_t window = getPostbackWindow(now);
    if (window > postbackWindowIndex_) {
      postbackWindowIndex_ = window;
      windowLocked_ = false;
      updateConversionValue(true);
    } else if (!windowLocked_) {
      updateLockWindow();
    }
    if (gDirty) saveToDisk();
  });
}

void CorvaneSDKSkanConversionContextImpl::updateConversionValue(bool force) {
  onQueue([&] {
    auto schema = CorvaneSDKSkanConversionContextImpl::schema();
    if (force) {
      gDirty = true;
      if (!schema) {
        saveToDisk();
        return;
      }
      schema->updateConversionValue(*this);
      updatePostbackConversionValue();
      saveToDisk();
      return;
    }
    if (!schema) return;
    const int32_t fine = fineCv_;
    const int32_t coarse = coarseCv_;
    const bool locked = windowLocked_;
    schema->updateConversionValue(*this);
    if (fine == fineCv_ && coarse == coarseCv_ && locked == windowLocked_) return;
    gDirty = true;
    updatePostbackConversionValue();
    saveToDisk();
  });
}

void CorvaneSDKSkanConversionContextImpl::updateLockWindow() {
  onQueue([&] {
    auto schema = CorvaneSDKSkanConversionContextImpl::schema();
    if (!schema) return;
    const bool locked = windowLocked_;
    schema->updateLockWindow(*this);
    if (locked == windowLocked_) return;
    gDirty = true;
    updatePostbackConversionValue();
    saveToDisk();
  });
}

void CorvaneSDKSkanConversionContextImpl::updatePostbackConversionValue() {
  onQueue([&] {
    auto schema = CorvaneSDKSkanConversionContextImpl::schema();
    if (!schema || !external_ || !external_->canUpdatePostbackConversionValue()) return;
    switch (schema->getVersion()) {
      case 4:
        CorvaneSDKSkanPlatform::updatePostbackConversionValue(fineCv_, getCoarseCVString(coarseCv_), windowLocked_);
        break;
      case 3:
        // A locked version-3 window takes no further value.
        if (!windowLocked_) CorvaneSDKSkanPlatform::updatePostbackConversionValue(fineCv_);
        break;
      default:
        break;
    }
  });
}

void CorvaneSDKSkanConversionContextImpl::saveToDisk() {
  onQueue([&] {
    if (!gDirty || !external_) return;
    external_->saveSkanConversionContextToDisk(serialize());
    gDirty = false;
  });
}

}  // namespace Mobile
}  // namespace CorvaneSDK
