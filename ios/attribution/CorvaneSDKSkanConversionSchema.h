// The SKAdNetwork conversion schema: the object tree built from the server's JSON by static
// create factories (null for unusable input), the conditions it tests against a conversion
// context, the evaluation of fine and coarse values and lock flags, and the stored form.
// Built schemas are immutable apart from the schema hash (guarded) and are shared between
// threads. The process-wide revenue cache is guarded by one recursive lock that an evaluation
// holds from start to end, so concurrent evaluations never see each other's sums.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Value.h"

namespace CorvaneSDK {
namespace Mobile {

// Tolerance of every revenue comparison.
constexpr double EPS = 1e-5;

enum CorvaneSDKSkanConversionValueMappingType : int32_t {
  CorvaneSDKSkanConversionValueMappingTypeUnknown = -1,
  CorvaneSDKSkanConversionValueMappingTypeSession = 0,
  CorvaneSDKSkanConversionValueMappingTypeRevenue = 1,
  CorvaneSDKSkanConversionValueMappingTypeEvent = 2,
  CorvaneSDKSkanConversionValueMappingTypeFineCv = 3,
};

enum CorvaneSDKSkanConversionLockConditionType : int32_t {
  CorvaneSDKSkanConversionLockConditionTypeUnknown = -1,
  CorvaneSDKSkanConversionLockConditionTypeTime = 0,
  CorvaneSDKSkanConversionLockConditionTypeFineCv = 1,
  CorvaneSDKSkanConversionLockConditionTypeCoarseCv = 2,
};

enum CorvaneSDKSkanConversionCoarseValue : int32_t {
  CorvaneSDKSkanConversionCoarseValueUnknown = -1,
  CorvaneSDKSkanConversionCoarseValueLow = 0,
  CorvaneSDKSkanConversionCoarseValueMedium = 1,
  CorvaneSDKSkanConversionCoarseValueHigh = 2,
};

// Revenue type bits.
constexpr uint32_t kSkanRevenueIAP = 1;
constexpr uint32_t kSkanRevenueAd = 2;
constexpr uint32_t kSkanRevenueEvent = 4;
constexpr uint32_t kSkanRevenueCrypto = 8;
constexpr uint32_t kSkanRevenueAll = 15;

// Exact, case-sensitive; unknown texts give -1, values outside the table "unknown" or "".
int32_t getCorvaneSDKSkanConversionValueMappingType(const std::string& text);
std::string getSkanConversionValueMappingTypeString(int32_t type);
int32_t getCorvaneSDKSkanConversionLockConditionType(const std::string& text);
std::string getSkanConversionLockConditionString(int32_t type);
int32_t getCorvaneSDKSkanConversionCoarseValue(const std::string& text);
std::string getCoarseCVString(int32_t value);
// The number's integer value (a fraction cut toward zero) when it lies in 0..63, else -1; -1 for
// anything that is not a number, booleans included.
int32_t getCorvaneSDKSkanConversionFineValue(const Value& number);
int32_t getCorvaneSDKSkanConversionFineValue(double number);

// What the schema reads from and writes to an install's counters.
class CorvaneSDKSkanConversionContext {
 public:
  virtual ~CorvaneSDKSkanConversionContext() = default;
  virtual int32_t sessionCount() const = 0;
  virtual int32_t fineCv() const = 0;
  virtual void setFineCv(int32_t value) = 0;
  virtual int32_t coarseCv() const = 0;
  virtual void setCoarseCv(int32_t value) = 0;
  virtual bool windowLocked() const = 0;
  virtual void setWindowLocked(bool locked) = 0;
  virtual int32_t postbackWindowIndex() const = 0;
  virtual uint64_t getPostInstallTime() const = 0;
  virtual double revenueIAP() const = 0;
  virtual double revenueAd() const = 0;
  virtual double revenueCrypto() const = 0;
  virtual double revenueEvent() const = 0;
  virtual int32_t getEventCount(const std::string& name) const = 0;
  virtual double getEventRevenue(const std::string& name) const = 0;
};

// ---- conditions ----

class CorvaneSDKSkanConversionValueMapping {
 public:
  virtual ~CorvaneSDKSkanConversionValueMapping() = default;
  // `fine` set: the rule yields a fine value, so "fine_cv" conditions are refused.
  static std::shared_ptr<const CorvaneSDKSkanConversionValueMapping> create(const Value& dict, bool fine);
  virtual int32_t getMappingType() const { return CorvaneSDKSkanConversionValueMappingTypeUnknown; }
  virtual Value serialize() const;
  virtual bool isValidContext(const CorvaneSDKSkanConversionContext& context) const { return false; }
};

class CorvaneSDKSkanConversionSessionValueMapping : public CorvaneSDKSkanConversionValueMapping {
 public:
  static std::shared_ptr<const CorvaneSDKSkanConversionSessionValueMapping> create(const Value& dict);
  int32_t getMappingType() const override { return CorvaneSDKSkanConversionValueMappingTypeSession; }
  Value serialize() const override;
  bool isValidContext(const CorvaneSDKSkanConversionContext& context) const override;
  int32_t minSessionCount = 1;
  int32_t maxSessionCount = -1;
};

class CorvaneSDKSkanConversionRevenueValueMapping : public CorvaneSDKSkanConversionValueMapping {
 public:
  static std::shared_ptr<const CorvaneSDKSkanConversionRevenueValueMapping> create(const Value& dict);
  int32_t getMappingType() const override { return CorvaneSDKSkanConversionValueMappingTypeRevenue; }
  Value serialize() const override;
  bool isValidContext(const CorvaneSDKSkanConversionContext& context) const override;
  uint32_t revenueType = kSkanRevenueAll;
  double minRevenue = 0;
  double maxRevenue = -1;
};

class CorvaneSDKSkanConversionEventValueMapping : public CorvaneSDKSkanConversionValueMapping {
 public:
  static std::shared_ptr<const CorvaneSDKSkanConversionEventValueMapping> create(const Value& dict);
  int32_t getMappingType() const override { return CorvaneSDKSkanConversionValueMappingTypeEvent; }
  Value serialize() const override;
  bool isValidContext(const CorvaneSDKSkanConversionContext& context) const override;
  std::string eventName;
  int32_t minEventCount = 1;
  int32_t maxEventCount = -1;
  double minRevenue = 0;
  double maxRevenue = -1;
};

class CorvaneSDKSkanConversionFineCvValueMapping : public CorvaneSDKSkanConversionValueMapping {
 public:
  static std::shared_ptr<const CorvaneSDKSkanConversionFineCvValueMapping> create(const Value& dict);
  int32_t getMappingType() const override { return CorvaneSDKSkanConversionValueMappingTypeFineCv; }
  Value serialize() const override;
  bool isValidContext(const CorvaneSDKSkanConversionContext& context) const override;
  int32_t minFineCv = 0;
  int32_t maxFineCv = 63;
};

class CorvaneSDKSkanConversionLockCondition {
 public:
  virtual ~CorvaneSDKSkanConversionLockCondition() = default;
  static std::shared_ptr<const CorvaneSDKSkanConversionLockCondition> create(const Value& dict);
  virtual int32_t getLockConditionType() const { return CorvaneSDKSkanConversionLockConditionTypeUnknown; }
  virtual Value serialize() const;
  virtual bool isValidContext(const CorvaneSDKSkanConversionContext& context) const { return false; }
};

class CorvaneSDKSkanConversionTimeLockCondition : public CorvaneSDKSkanConversionLockCondition {
 public:
  static std::shared_ptr<const CorvaneSDKSkanConversionTimeLockCondition> create(const Value& dict);
  int32_t getLockConditionType() const override { return CorvaneSDKSkanConversionLockConditionTypeTime; }
  Value serialize() const override;
  bool isValidContext(const CorvaneSDKSkanConversionContext& context) const override;
  uint64_t postInstallTime = 0;
};

class CorvaneSDKSkanConversionFineCvLockCondition : public CorvaneSDKSkanConversionLockCondition {
 public:
  static std::shared_ptr<const CorvaneSDKSkanConversionFineCvLockCondition> create(const Value& dict);
  int32_t getLockConditionType() const override { return CorvaneSDKSkanConversionLockConditionTypeFineCv; }
  Value serialize() const override;
  bool isValidContext(const CorvaneSDKSkanConversionContext& context) const override;
  std::vector<int32_t> fineCvs;
};

class CorvaneSDKSkanConversionCoarseCvLockCondition : public CorvaneSDKSkanConversionLockCondition {
 public:
  static std::shared_ptr<const CorvaneSDKSkanConversionCoarseCvLockCondition> create(const Value& dict);
  int32_t getLockConditionType() const override { return CorvaneSDKSkanConversionLockConditionTypeCoarseCv; }
  Value serialize() const override;
  bool isValidContext(const CorvaneSDKSkanConversionContext& context) const override;
  std::vector<int32_t> coarseCvs;
};

using CorvaneSDKSkanValueMappings = std::vector<std::shared_ptr<const CorvaneSDKSkanConversionValueMapping>>;

// ---- rules and windows ----

class CorvaneSDKSkanConversionFineCvMapping {
 public:
  static std::shared_ptr<const CorvaneSDKSkanConversionFineCvMapping> create(const Value& dict);
  Value serialize() const;
  bool isValidContext(const CorvaneSDKSkanConversionContext& context) const;
  int32_t fineCv = 0;
  CorvaneSDKSkanValueMappings valueMappings;
};

class CorvaneSDKSkanConversionCoarseCvMapping {
 public:
  static std::shared_ptr<const CorvaneSDKSkanConversionCoarseCvMapping> create(const Value& dict);
  Value serialize() const;
  bool isValidContext(const CorvaneSDKSkanConversionContext& context) const;
  int32_t coarseCv = CorvaneSDKSkanConversionCoarseValueLow;
  CorvaneSDKSkanValueMappings valueMappings;
};

// A version-3 rule.
class CorvaneSDKSkanConversionMapping {
 public:
  static std::shared_ptr<const CorvaneSDKSkanConversionMapping> create(const Value& dict);
  Value serialize() const;
  bool isValidContext(const CorvaneSDKSkanConversionContext& context) const;
  int32_t value = 0;
  CorvaneSDKSkanValueMappings valueMappings;
};

class CorvaneSDKSkanConversionPostbackWindow {
 public:
  static std::shared_ptr<const CorvaneSDKSkanConversionPostbackWindow> create(const Value& dict, bool firstWindow);
  Value serialize() const;
  // Sets the fine value from the last rule that holds (0 when none); a null list leaves it.
  void updateFineValue(CorvaneSDKSkanConversionContext& context) const;
  void updateCoarseValue(CorvaneSDKSkanConversionContext& context) const;
  // Sets the lock flag when a condition holds; never clears it.
  void updateLockWindow(CorvaneSDKSkanConversionContext& context) const;
  std::optional<std::vector<std::shared_ptr<const CorvaneSDKSkanConversionFineCvMapping>>> fineCvMappings;
  std::optional<std::vector<std::shared_ptr<const CorvaneSDKSkanConversionCoarseCvMapping>>> coarseCvMappings;
  std::optional<std::vector<std::shared_ptr<const CorvaneSDKSkanConversionLockCondition>>> lockConditions;
};

// ---- schemas ----

class CorvaneSDKSkanConversionSchema {
 public:
  virtual ~CorvaneSDKSkanConversionSchema() = default;
  // Chooses the version by "skan_version"; replaces the revenue cache.
  static std::shared_ptr<CorvaneSDKSkanConversionSchema> create(const Value& dict);
  // What the SDK config answer makes of `current`: a "schema" object that builds replaces it
  // (carrying the answer's "schema_hash" when that is a string); anything else keeps it.
  static std::shared_ptr<CorvaneSDKSkanConversionSchema> fromConfigAnswer(
      const Value& answer, std::shared_ptr<CorvaneSDKSkanConversionSchema> current);

  virtual int32_t getVersion() const { return 1; }
  virtual int32_t getPostbackWindow(uint64_t seconds) const { return 0; }
  Value serialize() const;
  virtual void serializeInternal(Value& out) const;
  virtual void updateLockWindow(CorvaneSDKSkanConversionContext& context) const {}
  virtual void updateConversionValue(CorvaneSDKSkanConversionContext& context) const {}

  std::string schemaHash() const;
  void setSchemaHash(const std::string& hash);

  static void resetRevenueCache();
  static double getRevenueCache(const CorvaneSDKSkanConversionContext& context, uint32_t revenueType);
  // Held by every evaluation from its reset of the cache to its end.
  static std::recursive_mutex& revenueCacheLock();

 private:
  mutable std::mutex hashMutex_;
  std::string schemaHash_;
};

class CorvaneSDKSkanConversionv3Schema : public CorvaneSDKSkanConversionSchema {
 public:
  static std::shared_ptr<CorvaneSDKSkanConversionv3Schema> create(const Value& dict);
  int32_t getVersion() const override { return 3; }
  void serializeInternal(Value& out) const override;
  void updateLockWindow(CorvaneSDKSkanConversionContext& context) const override;
  void updateConversionValue(CorvaneSDKSkanConversionContext& context) const override;
  uint64_t lockTime = 0;
  std::optional<std::vector<std::shared_ptr<const CorvaneSDKSkanConversionMapping>>> mappings;
};

class CorvaneSDKSkanConversionv4Schema : public CorvaneSDKSkanConversionSchema {
 public:
  static constexpr uint64_t kWindowOneEnd = 172800;    // 2 days
  static constexpr uint64_t kWindowTwoEnd = 1209600;   // 14 days
  static std::shared_ptr<CorvaneSDKSkanConversionv4Schema> create(const Value& dict);
  int32_t getVersion() const override { return 4; }
  int32_t getPostbackWindow(uint64_t seconds) const override;
  void serializeInternal(Value& out) const override;
  void updateLockWindow(CorvaneSDKSkanConversionContext& context) const override;
  void updateConversionValue(CorvaneSDKSkanConversionContext& context) const override;
  std::shared_ptr<const CorvaneSDKSkanConversionPostbackWindow> windowOne;
  std::shared_ptr<const CorvaneSDKSkanConversionPostbackWindow> windowTwo;
  std::shared_ptr<const CorvaneSDKSkanConversionPostbackWindow> windowThree;
};

}  // namespace Mobile
}  // namespace CorvaneSDK
