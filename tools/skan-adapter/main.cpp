// skan-adapter: runs one script of conversion-schema and conversion-context operations against
// the mobile library on a hand-set clock, hand-run queues and the recording SKAdNetwork double,
// and prints one JSON line per operation (see README.md for the protocol).
#include <cmath>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <limits>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "CorvaneSDKLog.h"
#include "CorvaneSDKSkanConversionContext.h"
#include "CorvaneSDKSkanConversionSchema.h"
#include "CorvaneSDKSkanNumbers.h"
#include "CorvaneSDKSkanPlatform.h"
#include "Platform.h"
#include "SKAdNetwork.h"

using namespace CorvaneSDK::Mobile;

namespace {

class ScriptError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// ---- doubles that JSON cannot hold ----

Value decodeFloats(const Value& in) {
  if (in.is_object()) {
    if (in.size() == 1 && in.contains("$float") && in["$float"].is_string()) {
      const std::string& text = in["$float"].get_ref<const std::string&>();
      if (text == "NaN") return std::numeric_limits<double>::quiet_NaN();
      if (text == "Infinity") return std::numeric_limits<double>::infinity();
      if (text == "-Infinity") return -std::numeric_limits<double>::infinity();
      throw ScriptError("unknown $float: " + text);
    }
    Value out = Value::object();
    for (auto it = in.begin(); it != in.end(); ++it) out[it.key()] = decodeFloats(it.value());
    return out;
  }
  if (in.is_array()) {
    Value out = Value::array();
    for (const auto& e : in) out.push_back(decodeFloats(e));
    return out;
  }
  return in;
}

Value encodeFloats(const Value& in) {
  if (in.is_number_float()) {
    const double d = in.get<double>();
    if (std::isnan(d)) return Value{{"$float", "NaN"}};
    if (std::isinf(d)) return Value{{"$float", d > 0 ? "Infinity" : "-Infinity"}};
    return in;
  }
  if (in.is_object()) {
    Value out = Value::object();
    for (auto it = in.begin(); it != in.end(); ++it) out[it.key()] = encodeFloats(it.value());
    return out;
  }
  if (in.is_array()) {
    Value out = Value::array();
    for (const auto& e : in) out.push_back(encodeFloats(e));
    return out;
  }
  return in;
}

// ---- argument readers ----

const Value& arg(const Value& op, const char* key) {
  auto it = op.find(key);
  if (it == op.end()) throw ScriptError(std::string("missing \"") + key + "\"");
  return *it;
}

double number(const Value& op, const char* key) {
  const Value& v = arg(op, key);
  if (!v.is_number()) throw ScriptError(std::string("\"") + key + "\" is not a number");
  return v.get<double>();
}

int64_t integer(const Value& op, const char* key) {
  const Value& v = arg(op, key);
  if (v.is_number_integer()) return v.get<int64_t>();
  if (v.is_number_float() && std::isfinite(v.get<double>())) return static_cast<int64_t>(v.get<double>());
  throw ScriptError(std::string("\"") + key + "\" is not an integer");
}

std::string text(const Value& op, const char* key) {
  const Value& v = arg(op, key);
  if (!v.is_string()) throw ScriptError(std::string("\"") + key + "\" is not a string");
  return v.get<std::string>();
}

bool flag(const Value& object, const char* key, bool fallback) {
  auto it = object.find(key);
  return it != object.end() && it->is_boolean() ? it->get<bool>() : fallback;
}

// ---- ports ----

class LineSink : public LogSink {
 public:
  void writeLine(const std::string& line) override {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(line);
  }
  // The newest line that starts with `prefix`, "" when none.
  std::string lastWith(const std::string& prefix) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = lines_.rbegin(); it != lines_.rend(); ++it) {
      if (it->rfind(prefix, 0) == 0) return *it;
    }
    return "";
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

struct Recorder {
  Value calls = Value::array();
  Value saves = Value::array();
  Value stored = Value::array();
};

struct ExternalSettings {
  bool present = true;
  bool initialized = true;
  bool useSkan = true;
};

ExternalSettings readExternal(const Value& v) {
  ExternalSettings settings;
  if (v.is_null()) {
    settings.present = false;
  } else if (v.is_object()) {
    settings.present = flag(v, "present", true);
    settings.initialized = flag(v, "initialized", true);
    settings.useSkan = flag(v, "use_skan", true);
  } else {
    throw ScriptError("\"external\" is not an object");
  }
  return settings;
}

// The manager's external, recording every dictionary handed to its save operation.
class RecordingExternal : public CorvaneSDKSkanConversionManagerExternal {
 public:
  RecordingExternal(ExternalSettings settings, std::shared_ptr<Recorder> recorder)
      : CorvaneSDKSkanConversionManagerExternal([settings] { return settings.initialized; }, [settings] { return settings.useSkan; },
                                                [recorder](const Value& d) { recorder->stored.push_back(d); }),
        recorder_(std::move(recorder)) {}
  void saveSkanConversionContextToDisk(const Value& dictionary) override {
    recorder_->saves.push_back(dictionary);
    CorvaneSDKSkanConversionManagerExternal::saveSkanConversionContextToDisk(dictionary);
  }

 private:
  std::shared_ptr<Recorder> recorder_;
};

// ---- the script ----

class Runner {
 public:
  explicit Runner(const Value& script) {
    clock_ = std::make_shared<ManualClock>();
    dispatch_ = std::make_shared<ManualDispatch>(clock_, true);
    sink_ = std::make_shared<LineSink>();
    auto ports = std::make_shared<Ports>(Platform::portable());
    ports->clock = clock_;
    ports->dispatch = dispatch_;
    ports->log = sink_;
    Platform::install(ports);
    CorvaneSDKLog::setDebug(true);

    const Value platform = script.contains("platform") ? script["platform"] : Value::object();
    os_ = std::make_shared<FixedOSVersion>(platform.contains("ios") && platform["ios"].is_string()
                                               ? platform["ios"].get<std::string>()
                                               : std::string("17.0"));
    skan_ = std::make_shared<RecordingSKAdNetwork>(flag(platform, "skadnetwork", true), os_);
    if (platform.contains("responds") && platform["responds"].is_array()) {
      std::set<std::string> selectors;
      for (const auto& s : platform["responds"]) {
        if (s.is_string()) selectors.insert(s.get<std::string>());
      }
      skan_->setResponds(selectors);
    }
    if (platform.contains("error") && platform["error"].is_string()) skan_->failWith(platform["error"].get<std::string>());
    skan_->onCall([this](const RecordingSKAdNetwork::Call& call) {
      recorder_->calls.push_back(
          Value{{"op", call.selector}, {"args", call.args}, {"log", sink_->lastWith("Update Postback Conversion Value")}});
    });
    auto pair = std::make_shared<SKAdNetworkPorts>();
    pair->skAdNetwork = skan_;
    pair->osVersion = os_;
    SKAdNetworkPlatform::install(pair);

    external_ = script.contains("external") ? readExternal(script["external"]) : ExternalSettings{};
  }

  ~Runner() {
    context_.reset();
    SKAdNetworkPlatform::install(nullptr);
    Platform::install(nullptr);
  }

  Value runOne(size_t index, const Value& op) {
    recorder_->calls = Value::array();
    recorder_->saves = Value::array();
    if (!op.is_object()) throw ScriptError("an op is not an object");
    if (op.contains("t")) {
      const double ms = number(op, "t") * 1000.0;
      if (!(std::fabs(ms) < 9.2e18)) throw ScriptError("\"t\" is out of range");
      clock_->setWallMs(static_cast<int64_t>(std::llround(ms)));
    }
    Value result = perform(text(op, "op"), op);
    dispatch_->main().runPending();  // saves reach storage on the main queue
    Value line = Value::object();
    line["i"] = index;
    line["result"] = std::move(result);
    line["context"] = snapshot();
    line["calls"] = recorder_->calls;
    line["saves"] = recorder_->saves;
    return line;
  }

 private:
  CorvaneSDKSkanConversionContextImpl& context() {
    if (!context_) throw ScriptError("no context: run context_init first");
    return *context_;
  }

  const std::shared_ptr<CorvaneSDKSkanConversionSchema>& schema() {
    if (!schema_) throw ScriptError("no current schema");
    return schema_;
  }

  std::shared_ptr<CorvaneSDKSkanConversionExternal> makeExternal() {
    if (!external_.present) return nullptr;
    return std::make_shared<RecordingExternal>(external_, recorder_);
  }

  Value schemaResult() {
    Value out = Value::object();
    out["built"] = schema_ != nullptr;
    out["version"] = schema_ ? Value(schema_->getVersion()) : Value();
    out["hash"] = schema_ ? Value(schema_->schemaHash()) : Value();
    out["serialized"] = schema_ ? schema_->serialize() : Value();
    return out;
  }

  Value bareSnapshot() const {
    return Value{{"fine", bare_.fine}, {"coarse", getCoarseCVString(bare_.coarse)}, {"locked", bare_.locked},
                 {"window", bare_.window}};
  }

  Value snapshot() {
    if (!context_) return Value();
    Value out = Value::object();
    out["fine"] = context_->fineCv();
    out["coarse"] = getCoarseCVString(context_->coarseCv());
    out["locked"] = context_->windowLocked();
    out["window"] = context_->postbackWindowIndex();
    out["dirty"] = CorvaneSDKSkanConversionContextImpl::isDirty();
    out["timers"] = dispatch_->main().timersCreated();
    out["has_schema"] = CorvaneSDKSkanConversionContextImpl::schema() != nullptr;
    out["state"] = context_->serialize();
    return out;
  }

  void readBare(const Value& fields) {
    if (!fields.is_object()) throw ScriptError("\"fields\" is not an object");
    bare_ = CorvaneSDKSkanConversionValues{};
    auto i32 = [&](const char* key) {
      auto it = fields.find(key);
      return it == fields.end() ? 0 : SkanNumbers::readInt32(*it).value_or(0);
    };
    auto dbl = [&](const char* key) {
      auto it = fields.find(key);
      return it != fields.end() && it->is_number() ? it->get<double>() : 0.0;
    };
    bare_.sessions = i32("session_count");
    bare_.fine = i32("fine_cv");
    bare_.coarse = i32("coarse_cv");
    bare_.locked = flag(fields, "window_locked", false);
    bare_.window = i32("postback_window_index");
    if (auto it = fields.find("post_install_time"); it != fields.end()) {
      bare_.postInstallTime = SkanNumbers::readUInt64(*it).value_or(0);
    }
    bare_.iap = dbl("revenue_iap");
    bare_.ad = dbl("revenue_ad");
    bare_.crypto = dbl("revenue_crypto");
    bare_.event = dbl("revenue_event");
    if (auto it = fields.find("event_counts"); it != fields.end() && it->is_object()) bare_.eventCounts = *it;
    if (auto it = fields.find("event_revenues"); it != fields.end() && it->is_object()) bare_.eventRevenues = *it;
  }

  static int enumKind(const std::string& name) {
    if (name == "coarse") return 0;
    if (name == "mapping_type") return 1;
    if (name == "lock_condition_type") return 2;
    throw ScriptError("unknown enum: " + name);
  }

  Value perform(const std::string& name, const Value& op) {
    if (name == "create_schema") {
      schema_ = CorvaneSDKSkanConversionSchema::create(arg(op, "schema"));
      if (schema_ && op.contains("schema_hash") && op["schema_hash"].is_string()) {
        schema_->setSchemaHash(op["schema_hash"].get<std::string>());
      }
      return schemaResult();
    }
    if (name == "server_schema") {
      schema_ = CorvaneSDKSkanConversionSchema::fromConfigAnswer(arg(op, "answer"), schema_);
      return schemaResult();
    }
    if (name == "schema_serialize") return schema()->serialize();
    if (name == "schema_postback_window") {
      const double seconds = number(op, "seconds");
      return schema()->getPostbackWindow(seconds <= 0 ? 0 : static_cast<uint64_t>(seconds));
    }
    if (name == "bare_context") {
      readBare(arg(op, "fields"));
      return bareSnapshot();
    }
    if (name == "schema_update_conversion_value") {
      schema()->updateConversionValue(bare_);
      return bareSnapshot();
    }
    if (name == "schema_update_lock_window") {
      schema()->updateLockWindow(bare_);
      return bareSnapshot();
    }
    if (name == "get_revenue_cache") {
      auto mask = SkanNumbers::readUInt32(arg(op, "mask"));
      if (!mask) throw ScriptError("\"mask\" is not an unsigned 32-bit number");
      return CorvaneSDKSkanConversionSchema::getRevenueCache(bare_, *mask);
    }
    if (name == "reset_revenue_cache") {
      CorvaneSDKSkanConversionSchema::resetRevenueCache();
      return Value();
    }
    if (name == "enum_from_string") {
      const std::string t = text(op, "text");
      switch (enumKind(text(op, "enum"))) {
        case 0: return getCorvaneSDKSkanConversionCoarseValue(t);
        case 1: return getCorvaneSDKSkanConversionValueMappingType(t);
        default: return getCorvaneSDKSkanConversionLockConditionType(t);
      }
    }
    if (name == "enum_to_string") {
      const int64_t wide = integer(op, "value");
      const int32_t v = wide < INT32_MIN ? INT32_MIN : wide > INT32_MAX ? INT32_MAX : static_cast<int32_t>(wide);
      switch (enumKind(text(op, "enum"))) {
        case 0: return getCoarseCVString(v);
        case 1: return getSkanConversionValueMappingTypeString(v);
        default: return getSkanConversionLockConditionString(v);
      }
    }
    if (name == "fine_value") return getCorvaneSDKSkanConversionFineValue(arg(op, "number"));
    if (name == "platform_update") {
      const int32_t fine = static_cast<int32_t>(integer(op, "fine"));
      if (op.contains("lock")) {
        CorvaneSDKSkanPlatform::updatePostbackConversionValue(fine, op.contains("coarse") ? text(op, "coarse") : "",
                                                              flag(op, "lock", false));
      } else if (op.contains("coarse")) {
        CorvaneSDKSkanPlatform::updatePostbackConversionValue(fine, text(op, "coarse"));
      } else {
        CorvaneSDKSkanPlatform::updatePostbackConversionValue(fine);
      }
      return Value();
    }
    if (name == "context_init" || name == "context_init_with_data") {
      context_.reset();
      auto queue = dispatch_->makeSerialQueue("com.corvane.sdk.skan");
      context_ = name == "context_init" ? CorvaneSDKSkanConversionContextImpl::init(queue)
                                        : CorvaneSDKSkanConversionContextImpl::initWithData(arg(op, "data"), queue);
      context_->setExternal(makeExternal());
      return Value();
    }
    if (name == "set_external") {
      external_ = readExternal(arg(op, "external"));
      if (context_) context_->setExternal(makeExternal());
      return Value();
    }
    if (name == "start") {
      auto it = op.find("schema");
      const bool none = it != op.end() && it->is_null();
      if (it != op.end() && !none && *it != "current") throw ScriptError("\"schema\" is \"current\" or null");
      context().start(none ? nullptr : schema_);
      return Value();
    }
    if (name == "record_session") {
      context().recordSession();
      return Value();
    }
    if (name == "record_revenue_iap") {
      context().recordRevenueIAP(number(op, "amount"));
      return Value();
    }
    if (name == "record_revenue_ad") {
      context().recordRevenueAd(number(op, "amount"));
      return Value();
    }
    if (name == "record_revenue_crypto") {
      context().recordRevenueCrypto(number(op, "amount"));
      return Value();
    }
    if (name == "record_event") {
      context().recordEvent(text(op, "name"));
      return Value();
    }
    if (name == "record_event_revenue") {
      context().recordEvent(text(op, "name"), number(op, "amount"));
      return Value();
    }
    if (name == "tick") {
      context().updateTime();
      return Value();
    }
    if (name == "advance") {
      // Runs the main queue's timers over `ms` of the hand-set clock.
      dispatch_->main().advance(integer(op, "ms"));
      return Value();
    }
    if (name == "update_conversion_value") {
      context().updateConversionValue(flag(op, "force", false));
      return Value();
    }
    if (name == "update_lock_window") {
      context().updateLockWindow();
      return Value();
    }
    if (name == "update_postback_conversion_value") {
      context().updatePostbackConversionValue();
      return Value();
    }
    if (name == "save_to_disk") {
      context().saveToDisk();
      return Value();
    }
    if (name == "get_post_install_time") return context().getPostInstallTime();
    if (name == "get_postback_window") return context().getPostbackWindow(integer(op, "t"));
    if (name == "get_event_count") return context().getEventCount(text(op, "name"));
    if (name == "get_event_revenue") return context().getEventRevenue(text(op, "name"));
    throw ScriptError("unknown op: " + name);
  }

  std::shared_ptr<ManualClock> clock_;
  std::shared_ptr<ManualDispatch> dispatch_;
  std::shared_ptr<LineSink> sink_;
  std::shared_ptr<FixedOSVersion> os_;
  std::shared_ptr<RecordingSKAdNetwork> skan_;
  std::shared_ptr<Recorder> recorder_ = std::make_shared<Recorder>();
  ExternalSettings external_;
  std::shared_ptr<CorvaneSDKSkanConversionSchema> schema_;
  CorvaneSDKSkanConversionValues bare_;
  std::shared_ptr<CorvaneSDKSkanConversionContextImpl> context_;
};

void printLine(const Value& line) {
  std::string out = dumpJson(encodeFloats(line));
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace

int main() {
  std::string input((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
  Value script;
  std::string error;
  if (!parseJson(input, script, &error) || !script.is_object()) {
    printLine(Value{{"i", nullptr}, {"error", "unreadable script: " + (error.empty() ? "not an object" : error)}});
    return 2;
  }
  try {
    script = decodeFloats(script);
  } catch (const std::exception& e) {
    printLine(Value{{"i", nullptr}, {"error", e.what()}});
    return 2;
  }
  const Value ops = script.contains("ops") && script["ops"].is_array() ? script["ops"] : Value::array();
  Runner runner(script);
  for (size_t i = 0; i < ops.size(); ++i) {
    Value line;
    try {
      line = runner.runOne(i, ops[i]);
    } catch (const std::exception& e) {
      line = Value{{"i", i}, {"error", e.what()}};
    }
    printLine(line);
  }
  return 0;
}
