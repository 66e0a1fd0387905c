// Schemas, postback windows and rules: factories, evaluation, stored form, revenue cache.
#include "CorvaneSDKSkanConversionSchema.h"

#include <map>

#include "CorvaneSDKSkanNumbers.h"

namespace CorvaneSDK {
namespace Mobile {

using SkanNumbers::member;
using SkanNumbers::readInt32;
using SkanNumbers::readUInt64;

namespace {
// Guarded by revenueCacheLock(); never destroyed, so late evaluations at exit stay safe.
std::map<uint32_t, double>& revenueCache() {
  static auto* cache = new std::map<uint32_t, double>();
  return *cache;
}

// Builds each element of the array `key` with `make`, dropping the ones that give null; none
// when the key does not hold an array.
template <typename T, typename Make>
std::optional<std::vector<std::shared_ptr<const T>>> buildList(const Value& dict, const char* key, Make make) {
  const Value* list = member(dict, key);
  if (list == nullptr || !list->is_array()) return std::nullopt;
  std::vector<std::shared_ptr<const T>> out;
  for (const auto& element : *list) {
    if (auto built = make(element)) out.push_back(std::move(built));
  }
  return out;
}

template <typename T>
Value serializeList(const std::vector<std::shared_ptr<const T>>& list) {
  Value out = Value::array();
  for (const auto& element : list) out.push_back(element->serialize());
  return out;
}

bool anyHolds(const CorvaneSDKSkanValueMappings& mappings, const CorvaneSDKSkanConversionContext& context) {
  for (const auto& m : mappings) {
    if (m->isValidContext(context)) return true;
  }
  return false;
}

std::optional<CorvaneSDKSkanValueMappings> buildValueMappings(const Value& dict, bool fine) {
  return buildList<CorvaneSDKSkanConversionValueMapping>(dict, "value_mappings", [fine](const Value& element) {
    return CorvaneSDKSkanConversionValueMapping::create(element, fine);
  });
}
}  // namespace

// ---- rules ----

std::shared_ptr<const CorvaneSDKSkanConversionFineCvMapping> CorvaneSDKSkanConversionFineCvMapping::create(
    const Value& dict) {
  const Value* fineValue = member(dict, "fine_cv");
  const int32_t fine = fineValue ? getCorvaneSDKSkanConversionFineValue(*fineValue) : -1;
  if (fine < 0) return nullptr;
  auto mappings = buildValueMappings(dict, true);
  if (!mappings) return nullptr;
  auto m = std::make_shared<CorvaneSDKSkanConversionFineCvMapping>();
  m->fineCv = fine;
  m->valueMappings = std::move(*mappings);
  return m;
}

Value CorvaneSDKSkanConversionFineCvMapping::serialize() const {
  Value out = Value::object();
  out["fine_cv"] = fineCv;
  out["value_mappings"] = serializeList(valueMappings);
  return out;
}

bool CorvaneSDKSkanConversionFineCvMapping::isValidContext(const CorvaneSDKSkanConversionContext& context) const {
  return anyHolds(valueMappings, context);
}

std::shared_ptr<const CorvaneSDKSkanConversionCoarseCvMapping> CorvaneSDKSkanConversionCoarseCvMapping::create(
    const Value& dict) {
  const Value* coarseValue = member(dict, "coarse_cv");
  if (coarseValue == nullptr || !coarseValue->is_string()) return nullptr;
  const int32_t coarse = getCorvaneSDKSkanConversionCoarseValue(coarseValue->get_ref<const std::string&>());
  if (coarse < 0) return nullptr;
  auto mappings = buildValueMappings(dict, false);
  if (!mappings) return nullptr;
  auto m = std::make_shared<CorvaneSDKSkanConversionCoarseCvMapping>();
  m->coarseCv = coarse;
  m->valueMappings = std::move(*mappings);
  return m;
}

Value CorvaneSDKSkanConversionCoarseCvMapping::serialize() const {
  Value out = Value::object();
  out["coarse_cv"] = getCoarseCVString(coarseCv);
  out["value_mappings"] = serializeList(valueMappings);
  return out;
}

bool CorvaneSDKSkanConversionCoarseCvMapping::isValidContext(const CorvaneSDKSkanConversionContext& context) const {
  return anyHolds(valueMappings, context);
}

std::shared_ptr<const CorvaneSDKSkanConversionMapping> CorvaneSDKSkanConversionMapping::create(const Value& dict) {
  const Value* number = member(dict, "conversion_value");
  const int32_t fine = number ? getCorvaneSDKSkanConversionFineValue(*number) : -1;
  if (fine < 0) return nullptr;
  auto mappings = buildValueMappings(dict, true);
  if (!mappings) return nullptr;
  auto m = std::make_shared<CorvaneSDKSkanConversionMapping>();
  m->value = fine;
  m->valueMappings = std::move(*mappings);
  return m;
}

Value CorvaneSDKSkanConversionMapping::serialize() const {
  Value out = Value::object();
  out["conversion_value"] = value;
  out["value_mappings"] = serializeList(valueMappings);
  return out;
}

bool CorvaneSDKSkanConversionMapping::isValidContext(const CorvaneSDKSkanConversionContext& context) const {
  return anyHolds(valueMappings, context);
}

// ---- windows ----

std::shared_ptr<const CorvaneSDKSkanConversionPostbackWindow> CorvaneSDKSkanConversionPostbackWindow::create(
    const Value& dict, bool firstWindow) {
  auto w = std::make_shared<CorvaneSDKSkanConversionPostbackWindow>();
  if (firstWindow) {
    w->fineCvMappings = buildList<CorvaneSDKSkanConversionFineCvMapping>(
        dict, "fine_cv_mappings", [](const Value& e) { return CorvaneSDKSkanConversionFineCvMapping::create(e); });
    if (!w->fineCvMappings) return nullptr;
  }
  w->coarseCvMappings = buildList<CorvaneSDKSkanConversionCoarseCvMapping>(
      dict, "coarse_cv_mappings", [](const Value& e) { return CorvaneSDKSkanConversionCoarseCvMapping::create(e); });
  if (!w->coarseCvMappings && !firstWindow) return nullptr;
  w->lockConditions = buildList<CorvaneSDKSkanConversionLockCondition>(
      dict, "lock_conditions", [](const Value& e) { return CorvaneSDKSkanConversionLockCondition::create(e); });
  return w;
}

Value CorvaneSDKSkanConversionPostbackWindow::serialize() const {
  Value out = Value::object();
  if (fineCvMappings) out["fine_cv_mappings"] = serializeList(*fineCvMappings);
  if (coarseCvMappings) out["coarse_cv_mappings"] = serializeList(*coarseCvMappings);
  if (lockConditions) out["lock_conditions"] = serializeList(*lockConditions);
  return out;
}

void CorvaneSDKSkanConversionPostbackWindow::updateFineValue(CorvaneSDKSkanConversionContext& context) const {
  if (!fineCvMappings) return;
  for (auto it = fineCvMappings->rbegin(); it != fineCvMappings->rend(); ++it) {
    if ((*it)->isValidContext(context)) {
      context.setFineCv((*it)->fineCv);
      return;
    }
  }
  context.setFineCv(0);
}

void CorvaneSDKSkanConversionPostbackWindow::updateCoarseValue(CorvaneSDKSkanConversionContext& context) const {
  if (!coarseCvMappings) return;
  for (auto it = coarseCvMappings->rbegin(); it != coarseCvMappings->rend(); ++it) {
    if ((*it)->isValidContext(context)) {
      context.setCoarseCv((*it)->coarseCv);
      return;
    }
  }
  context.setCoarseCv(CorvaneSDKSkanConversionCoarseValueLow);
}

void CorvaneSDKSkanConversionPostbackWindow::updateLockWindow(CorvaneSDKSkanConversionContext& context) const {
  if (!lockConditions || context.windowLocked()) return;
  for (const auto& condition : *lockConditions) {
    if (condition->isValidContext(context)) {
      context.setWindowLocked(true);
      return;
    }
  }
}

// ---- schema ----

std::recursive_mutex& CorvaneSDKSkanConversionSchema::revenueCacheLock() {
  static auto* lock = new std::recursive_mutex();
  return *lock;
}

void CorvaneSDKSkanConversionSchema::resetRevenueCache() {
  std::lock_guard<std::recursive_mutex> lock(revenueCacheLock());
  revenueCache().clear();
}

double CorvaneSDKSkanConversionSchema::getRevenueCache(const CorvaneSDKSkanConversionContext& context,
                                                       uint32_t revenueType) {
  std::lock_guard<std::recursive_mutex> lock(revenueCacheLock());
  auto& cache = revenueCache();
  auto it = cache.find(revenueType);
  if (it != cache.end()) return it->second;
  double sum = 0;
  if (revenueType & kSkanRevenueIAP) sum += context.revenueIAP();
  if (revenueType & kSkanRevenueAd) sum += context.revenueAd();
  if (revenueType & kSkanRevenueCrypto) sum += context.revenueCrypto();
  if (revenueType & kSkanRevenueEvent) sum += context.revenueEvent();
  cache[revenueType] = sum;
  return sum;
}

std::shared_ptr<CorvaneSDKSkanConversionSchema> CorvaneSDKSkanConversionSchema::create(const Value& dict) {
  resetRevenueCache();
  if (!dict.is_object()) return nullptr;
  int32_t version = 4;
  if (const Value* v = member(dict, "skan_version")) {
    if (v->is_number()) {
      auto read = readInt32(*v);
      if (!read || (*read != 3 && *read != 4)) return nullptr;
      version = *read;
    }
  }
  std::shared_ptr<CorvaneSDKSkanConversionSchema> schema;
  if (version == 3) {
    schema = CorvaneSDKSkanConversionv3Schema::create(dict);
  } else {
    schema = CorvaneSDKSkanConversionv4Schema::create(dict);
  }
  if (!schema) return nullptr;
  const Value* hash = member(dict, "hash");
  schema->setSchemaHash(hash && hash->is_string() ? hash->get<std::string>() : std::string());
  return schema;
}

std::shared_ptr<CorvaneSDKSkanConversionSchema> CorvaneSDKSkanConversionSchema::fromConfigAnswer(
    const Value& answer, std::shared_ptr<CorvaneSDKSkanConversionSchema> current) {
  const Value* dict = member(answer, "schema");
  if (dict == nullptr || !dict->is_object()) return current;
  auto built = create(*dict);
  // Unusable content is treated like a wrong type: the stored schema stays.
  if (!built) return current;
  const Value* hash = member(answer, "schema_hash");
  if (hash && hash->is_string()) built->setSchemaHash(hash->get<std::string>());
  return built;
}

Value CorvaneSDKSkanConversionSchema::serialize() const {
  Value out = Value::object();
  serializeInternal(out);
  return out;
}

void CorvaneSDKSkanConversionSchema::serializeInternal(Value& out) const {
  out["hash"] = schemaHash();
  // Stored with its version, so a stored version-3 schema rebuilds as version 3.
  out["skan_version"] = getVersion();
}

std::string CorvaneSDKSkanConversionSchema::schemaHash() const {
  std::lock_guard<std::mutex> lock(hashMutex_);
  return schemaHash_;
}

void CorvaneSDKSkanConversionSchema::setSchemaHash(const std::string& hash) {
  std::lock_guard<std::mutex> lock(hashMutex_);
  schemaHash_ = hash;
}

// ---- version 3 ----

std::shared_ptr<CorvaneSDKSkanConversionv3Schema> CorvaneSDKSkanConversionv3Schema::create(const Value& dict) {
  auto s = std::make_shared<CorvaneSDKSkanConversionv3Schema>();
  s->mappings = buildList<CorvaneSDKSkanConversionMapping>(
      dict, "mappings", [](const Value& e) { return CorvaneSDKSkanConversionMapping::create(e); });
  if (!s->mappings) return nullptr;
  if (const Value* lock = member(dict, "lock_time")) s->lockTime = readUInt64(*lock).value_or(0);
  return s;
}

void CorvaneSDKSkanConversionv3Schema::serializeInternal(Value& out) const {
  CorvaneSDKSkanConversionSchema::serializeInternal(out);
  if (lockTime != 0) out["lock_time"] = lockTime;
  if (mappings) out["mappings"] = serializeList(*mappings);
}

void CorvaneSDKSkanConversionv3Schema::updateLockWindow(CorvaneSDKSkanConversionContext& context) const {
  if (lockTime != 0 && context.getPostInstallTime() >= lockTime) context.setWindowLocked(true);
}

void CorvaneSDKSkanConversionv3Schema::updateConversionValue(CorvaneSDKSkanConversionContext& context) const {
  std::lock_guard<std::recursive_mutex> lock(revenueCacheLock());
  revenueCache().clear();
  if (!mappings) return;
  for (auto it = mappings->rbegin(); it != mappings->rend(); ++it) {
    if ((*it)->isValidContext(context)) {
      context.setFineCv((*it)->value);
      return;
    }
  }
  context.setFineCv(0);
}

// ---- version 4 ----

std::shared_ptr<CorvaneSDKSkanConversionv4Schema> CorvaneSDKSkanConversionv4Schema::create(const Value& dict) {
  const Value* one = member(dict, "window_one");
  if (one == nullptr || !one->is_object()) return nullptr;
  auto s = std::make_shared<CorvaneSDKSkanConversionv4Schema>();
  s->windowOne = CorvaneSDKSkanConversionPostbackWindow::create(*one, true);
  if (!s->windowOne) return nullptr;
  if (const Value* two = member(dict, "window_two"); two && two->is_object()) {
    s->windowTwo = CorvaneSDKSkanConversionPostbackWindow::create(*two, false);
  }
  if (const Value* three = member(dict, "window_three"); three && three->is_object()) {
    s->windowThree = CorvaneSDKSkanConversionPostbackWindow::create(*three, false);
  }
  return s;
}

int32_t CorvaneSDKSkanConversionv4Schema::getPostbackWindow(uint64_t seconds) const {
  if (seconds <= kWindowOneEnd) return 0;
  if (seconds <= kWindowTwoEnd) return 1;
  return 2;
}

void CorvaneSDKSkanConversionv4Schema::serializeInternal(Value& out) const {
  CorvaneSDKSkanConversionSchema::serializeInternal(out);
  if (windowOne) out["window_one"] = windowOne->serialize();
  if (windowTwo) out["window_two"] = windowTwo->serialize();
  if (windowThree) out["window_three"] = windowThree->serialize();
}

void CorvaneSDKSkanConversionv4Schema::updateConversionValue(CorvaneSDKSkanConversionContext& context) const {
  std::lock_guard<std::recursive_mutex> lock(revenueCacheLock());
  revenueCache().clear();
  if (!windowOne) return;
  // The fine value always comes from the first window, whatever the current one.
  windowOne->updateFineValue(context);
  const CorvaneSDKSkanConversionPostbackWindow* own = nullptr;
  const CorvaneSDKSkanConversionPostbackWindow* chosen = nullptr;
  switch (context.postbackWindowIndex()) {
    case 0:
      own = windowOne.get();
      chosen = own;
      break;
    case 1:
      own = windowTwo.get();
      chosen = own ? own : windowOne.get();
      break;
    case 2:
      own = windowThree.get();
      chosen = own ? own : (windowTwo ? windowTwo.get() : windowOne.get());
      break;
    default:
      return;
  }
  chosen->updateCoarseValue(context);
  // A fallback window's lock conditions belong to another window: they are not checked.
  if (chosen == own) chosen->updateLockWindow(context);
}

void CorvaneSDKSkanConversionv4Schema::updateLockWindow(CorvaneSDKSkanConversionContext& context) const {
  const CorvaneSDKSkanConversionPostbackWindow* window = nullptr;
  switch (context.postbackWindowIndex()) {
    case 0:
      window = windowOne.get();
      break;
    case 1:
      window = windowTwo.get();
      break;
    case 2:
      window = windowThree.get();
      break;
    default:
      return;
  }
  if (window) window->updateLockWindow(context);
}

}  // namespace Mobile
}  // namespace CorvaneSDK
