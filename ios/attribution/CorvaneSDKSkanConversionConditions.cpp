// Value mappings and lock conditions of the conversion schema: factories, tests against a
// context, stored form; and the enumeration strings.
#include <algorithm>
#include <cmath>

#include "CorvaneSDKSkanConversionSchema.h"
#include "CorvaneSDKSkanNumbers.h"

namespace CorvaneSDK {
namespace Mobile {

using SkanNumbers::member;
using SkanNumbers::readDouble;
using SkanNumbers::readInt32;
using SkanNumbers::readUInt32;
using SkanNumbers::readUInt64;

namespace {
const char* const kMappingTypes[] = {"session", "revenue", "event", "fine_cv"};
const char* const kLockTypes[] = {"time", "fine_cv", "coarse_cv"};
const char* const kCoarseValues[] = {"low", "medium", "high"};

template <size_t N>
int32_t indexOf(const char* const (&table)[N], const std::string& text) {
  for (size_t i = 0; i < N; ++i) {
    if (text == table[i]) return static_cast<int32_t>(i);
  }
  return -1;
}

template <size_t N>
std::string nameOf(const char* const (&table)[N], int32_t value, const char* outside) {
  if (value < 0 || static_cast<size_t>(value) >= N) return outside;
  return table[value];
}

std::optional<int32_t> intKey(const Value& dict, const char* key) {
  const Value* v = member(dict, key);
  return v ? readInt32(*v) : std::nullopt;
}

std::optional<double> doubleKey(const Value& dict, const char* key) {
  const Value* v = member(dict, key);
  return v ? readDouble(*v) : std::nullopt;
}

// The revenue range of the revenue and event conditions; false when it is unusable.
bool readRevenueRange(const Value& dict, double& minRevenue, double& maxRevenue) {
  minRevenue = std::max(doubleKey(dict, "min_revenue").value_or(0.0), 0.0);
  maxRevenue = -1;
  if (auto max = doubleKey(dict, "max_revenue")) {
    // An explicit -1 is below 0 too: it drops the condition rather than meaning "unbounded".
    if (*max < 0 || *max < minRevenue) return false;
    maxRevenue = *max;
  }
  return true;
}

// The count range of the session and event conditions; false when it is unusable.
bool readCountRange(const Value& dict, const char* minKey, const char* maxKey, int32_t& minCount,
                    int32_t& maxCount) {
  minCount = std::max(intKey(dict, minKey).value_or(1), 1);
  maxCount = -1;
  if (auto max = intKey(dict, maxKey)) {
    if (*max < 0 || *max < minCount) return false;
    maxCount = *max;
  }
  return true;
}

bool revenueHolds(double revenue, double minRevenue, double maxRevenue) {
  if (!(revenue >= minRevenue - EPS)) return false;
  // The upper bound is exclusive: a total equal to the maximum does not hold.
  if (maxRevenue > -EPS && !(revenue <= maxRevenue - EPS)) return false;
  return true;
}

void writeRevenueRange(Value& out, double minRevenue, double maxRevenue) {
  out["min_revenue"] = minRevenue;
  if (maxRevenue >= 0) out["max_revenue"] = maxRevenue;
}
}  // namespace

int32_t getCorvaneSDKSkanConversionValueMappingType(const std::string& text) { return indexOf(kMappingTypes, text); }
std::string getSkanConversionValueMappingTypeString(int32_t type) { return nameOf(kMappingTypes, type, "unknown"); }
int32_t getCorvaneSDKSkanConversionLockConditionType(const std::string& text) { return indexOf(kLockTypes, text); }
std::string getSkanConversionLockConditionString(int32_t type) { return nameOf(kLockTypes, type, "unknown"); }
int32_t getCorvaneSDKSkanConversionCoarseValue(const std::string& text) { return indexOf(kCoarseValues, text); }
std::string getCoarseCVString(int32_t value) { return nameOf(kCoarseValues, value, ""); }

int32_t getCorvaneSDKSkanConversionFineValue(const Value& number) {
  auto v = readInt32(number);
  return v && *v >= 0 && *v <= 63 ? *v : -1;
}

int32_t getCorvaneSDKSkanConversionFineValue(double number) {
  if (!std::isfinite(number)) return -1;
  const double t = std::trunc(number);
  return t >= 0 && t <= 63 ? static_cast<int32_t>(t) : -1;
}

// ---- value mappings ----

std::shared_ptr<const CorvaneSDKSkanConversionValueMapping> CorvaneSDKSkanConversionValueMapping::create(
    const Value& dict, bool fine) {
  const Value* typeValue = member(dict, "mapping_type");
  if (typeValue == nullptr || !typeValue->is_string()) return nullptr;
  switch (getCorvaneSDKSkanConversionValueMappingType(typeValue->get_ref<const std::string&>())) {
    case CorvaneSDKSkanConversionValueMappingTypeSession:
      return CorvaneSDKSkanConversionSessionValueMapping::create(dict);
    case CorvaneSDKSkanConversionValueMappingTypeRevenue:
      return CorvaneSDKSkanConversionRevenueValueMapping::create(dict);
    case CorvaneSDKSkanConversionValueMappingTypeEvent:
      return CorvaneSDKSkanConversionEventValueMapping::create(dict);
    case CorvaneSDKSkanConversionValueMappingTypeFineCv:
      // A rule that yields a fine value cannot depend on the fine value.
      if (fine) return nullptr;
      return CorvaneSDKSkanConversionFineCvValueMapping::create(dict);
    default:
      return nullptr;
  }
}

Value CorvaneSDKSkanConversionValueMapping::serialize() const {
  Value out = Value::object();
  out["mapping_type"] = getSkanConversionValueMappingTypeString(getMappingType());
  return out;
}

std::shared_ptr<const CorvaneSDKSkanConversionSessionValueMapping> CorvaneSDKSkanConversionSessionValueMapping::create(
    const Value& dict) {
  auto m = std::make_shared<CorvaneSDKSkanConversionSessionValueMapping>();
  if (!readCountRange(dict, "min_session_count", "max_session_count", m->minSessionCount, m->maxSessionCount)) {
    return nullptr;
  }
  return m;
}

Value CorvaneSDKSkanConversionSessionValueMapping::serialize() const {
  Value out = CorvaneSDKSkanConversionValueMapping::serialize();
  out["min_session_count"] = minSessionCount;
  if (maxSessionCount >= 0) out["max_session_count"] = maxSessionCount;
  return out;
}

bool CorvaneSDKSkanConversionSessionValueMapping::isValidContext(const CorvaneSDKSkanConversionContext& context) const {
  const int32_t count = context.sessionCount();
  return minSessionCount <= count && (maxSessionCount < 0 || count <= maxSessionCount);
}

std::shared_ptr<const CorvaneSDKSkanConversionRevenueValueMapping> CorvaneSDKSkanConversionRevenueValueMapping::create(
    const Value& dict) {
  auto m = std::make_shared<CorvaneSDKSkanConversionRevenueValueMapping>();
  if (!readRevenueRange(dict, m->minRevenue, m->maxRevenue)) return nullptr;
  if (const Value* type = member(dict, "revenue_type")) {
    if (auto mask = readUInt32(*type)) {
      if (*mask == 0) return nullptr;
      m->revenueType = *mask;
    }
  }
  return m;
}

Value CorvaneSDKSkanConversionRevenueValueMapping::serialize() const {
  Value out = CorvaneSDKSkanConversionValueMapping::serialize();
  writeRevenueRange(out, minRevenue, maxRevenue);
  out["revenue_type"] = revenueType;
  return out;
}

bool CorvaneSDKSkanConversionRevenueValueMapping::isValidContext(const CorvaneSDKSkanConversionContext& context) const {
  return revenueHolds(CorvaneSDKSkanConversionSchema::getRevenueCache(context, revenueType), minRevenue, maxRevenue);
}

std::shared_ptr<const CorvaneSDKSkanConversionEventValueMapping> CorvaneSDKSkanConversionEventValueMapping::create(
    const Value& dict) {
  const Value* name = member(dict, "event_name");
  if (name == nullptr || !name->is_string()) return nullptr;
  auto m = std::make_shared<CorvaneSDKSkanConversionEventValueMapping>();
  m->eventName = name->get<std::string>();
  if (!readCountRange(dict, "min_event_count", "max_event_count", m->minEventCount, m->maxEventCount)) {
    return nullptr;
  }
  if (!readRevenueRange(dict, m->minRevenue, m->maxRevenue)) return nullptr;
  return m;
}

Value CorvaneSDKSkanConversionEventValueMapping::serialize() const {
  Value out = CorvaneSDKSkanConversionValueMapping::serialize();
  out["event_name"] = eventName;
  out["min_event_count"] = minEventCount;
  if (maxEventCount >= 0) out["max_event_count"] = maxEventCount;
  writeRevenueRange(out, minRevenue, maxRevenue);
  return out;
}

bool CorvaneSDKSkanConversionEventValueMapping::isValidContext(const CorvaneSDKSkanConversionContext& context) const {
  const int32_t count = context.getEventCount(eventName);
  if (!(minEventCount <= count && (maxEventCount < 0 || count <= maxEventCount))) return false;
  return revenueHolds(context.getEventRevenue(eventName), minRevenue, maxRevenue);
}

std::shared_ptr<const CorvaneSDKSkanConversionFineCvValueMapping> CorvaneSDKSkanConversionFineCvValueMapping::create(
    const Value& dict) {
  auto m = std::make_shared<CorvaneSDKSkanConversionFineCvValueMapping>();
  if (auto min = intKey(dict, "min_fine_cv")) {
    if (*min > 63) return nullptr;
    m->minFineCv = std::max(*min, 0);
  }
  if (auto max = intKey(dict, "max_fine_cv")) {
    if (*max < 0) return nullptr;
    m->maxFineCv = std::min(*max, 63);
  }
  if (m->maxFineCv < m->minFineCv) return nullptr;
  return m;
}

Value CorvaneSDKSkanConversionFineCvValueMapping::serialize() const {
  Value out = CorvaneSDKSkanConversionValueMapping::serialize();
  out["min_fine_cv"] = minFineCv;
  out["max_fine_cv"] = maxFineCv;
  return out;
}

bool CorvaneSDKSkanConversionFineCvValueMapping::isValidContext(const CorvaneSDKSkanConversionContext& context) const {
  const int32_t fine = context.fineCv();
  return minFineCv <= fine && fine <= maxFineCv;
}

// ---- lock conditions ----

std::shared_ptr<const CorvaneSDKSkanConversionLockCondition> CorvaneSDKSkanConversionLockCondition::create(
    const Value& dict) {
  const Value* typeValue = member(dict, "lock_condition_type");
  if (typeValue == nullptr || !typeValue->is_string()) return nullptr;
  switch (getCorvaneSDKSkanConversionLockConditionType(typeValue->get_ref<const std::string&>())) {
    case CorvaneSDKSkanConversionLockConditionTypeTime:
      return CorvaneSDKSkanConversionTimeLockCondition::create(dict);
    case CorvaneSDKSkanConversionLockConditionTypeFineCv:
      return CorvaneSDKSkanConversionFineCvLockCondition::create(dict);
    case CorvaneSDKSkanConversionLockConditionTypeCoarseCv:
      return CorvaneSDKSkanConversionCoarseCvLockCondition::create(dict);
    default:
      return nullptr;
  }
}

Value CorvaneSDKSkanConversionLockCondition::serialize() const {
  Value out = Value::object();
  out["lock_condition_type"] = getSkanConversionLockConditionString(getLockConditionType());
  return out;
}

std::shared_ptr<const CorvaneSDKSkanConversionTimeLockCondition> CorvaneSDKSkanConversionTimeLockCondition::create(
    const Value& dict) {
  const Value* time = member(dict, "post_install_time");
  auto seconds = time ? readUInt64(*time) : std::nullopt;
  if (!seconds) return nullptr;
  auto c = std::make_shared<CorvaneSDKSkanConversionTimeLockCondition>();
  c->postInstallTime = *seconds;
  return c;
}

Value CorvaneSDKSkanConversionTimeLockCondition::serialize() const {
  Value out = CorvaneSDKSkanConversionLockCondition::serialize();
  out["post_install_time"] = postInstallTime;
  return out;
}

bool CorvaneSDKSkanConversionTimeLockCondition::isValidContext(const CorvaneSDKSkanConversionContext& context) const {
  return context.getPostInstallTime() >= postInstallTime;
}

std::shared_ptr<const CorvaneSDKSkanConversionFineCvLockCondition> CorvaneSDKSkanConversionFineCvLockCondition::create(
    const Value& dict) {
  const Value* list = member(dict, "fine_cvs");
  if (list == nullptr || !list->is_array()) return nullptr;
  auto c = std::make_shared<CorvaneSDKSkanConversionFineCvLockCondition>();
  for (const auto& element : *list) {
    const int32_t fine = getCorvaneSDKSkanConversionFineValue(element);
    if (fine >= 0) c->fineCvs.push_back(fine);
  }
  return c;
}

Value CorvaneSDKSkanConversionFineCvLockCondition::serialize() const {
  Value out = CorvaneSDKSkanConversionLockCondition::serialize();
  Value list = Value::array();
  for (int32_t fine : fineCvs) list.push_back(fine);
  out["fine_cvs"] = std::move(list);
  return out;
}

bool CorvaneSDKSkanConversionFineCvLockCondition::isValidContext(const CorvaneSDKSkanConversionContext& context) const {
  return std::find(fineCvs.begin(), fineCvs.end(), context.fineCv()) != fineCvs.end();
}

std::shared_ptr<const CorvaneSDKSkanConversionCoarseCvLockCondition> CorvaneSDKSkanConversionCoarseCvLockCondition::create(
    const Value& dict) {
  const Value* list = member(dict, "coarse_cvs");
  if (list == nullptr || !list->is_array()) return nullptr;
  auto c = std::make_shared<CorvaneSDKSkanConversionCoarseCvLockCondition>();
  for (const auto& element : *list) {
    if (!element.is_string()) continue;
    const int32_t coarse = getCorvaneSDKSkanConversionCoarseValue(element.get_ref<const std::string&>());
    if (coarse >= 0) c->coarseCvs.push_back(coarse);
  }
  return c;
}

Value CorvaneSDKSkanConversionCoarseCvLockCondition::serialize() const {
  Value out = CorvaneSDKSkanConversionLockCondition::serialize();
  Value list = Value::array();
  for (int32_t coarse : coarseCvs) list.push_back(getCoarseCVString(coarse));
  out["coarse_cvs"] = std::move(list);
  return out;
}

bool CorvaneSDKSkanConversionCoarseCvLockCondition::isValidContext(const CorvaneSDKSkanConversionContext& context) const {
  return std::find(coarseCvs.begin(), coarseCvs.end(), context.coarseCv()) != coarseCvs.end();
}

}  // namespace Mobile
}  // namespace CorvaneSDK
