// mobile-host: a scriptable host of the mobile framework for end-to-end checks from outside.
// `mobile-host SAVE_DIR` reads one JSON op per line on stdin and prints one JSON line per op,
// {"i": n, "result": ..., "out": [...]}, where `out` lists what the framework did towards the
// host and the platform during the op. The clock and the main queue are the doubles, moved by
// the ops; files live under SAVE_DIR; HTTP is real (libcurl). docs/mobile-host.md has the protocol.
#include <chrono>
#include <cstdio>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "AttributionPlatform.h"
#include "CorvaneSDKEvent.h"
#include "CorvaneSDKFileStorage.h"
#include "CorvaneSDKLog.h"
#include "CorvaneSDKManager.h"
#include "CorvaneSDKManagerIntegration.h"
#include "CorvaneSDKOperationQueue.h"
#include "CorvaneSDKTrackingAuthorization.h"
#include "CorvaneSDKUserDefaultsStorage.h"
#include "OSVersion.h"
#include "Platform.h"
#include "SKAdNetwork.h"

using namespace CorvaneSDK::Mobile;

namespace {

// Everything the framework did, in order, from any thread.
class Recorder {
 public:
  void add(Value entry) {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.push_back(std::move(entry));
    ++total_;
  }
  Value take() {
    std::lock_guard<std::mutex> lock(mutex_);
    Value out = Value::array();
    for (auto& e : entries_) out.push_back(std::move(e));
    entries_.clear();
    return out;
  }
  size_t total() {
    std::lock_guard<std::mutex> lock(mutex_);
    return total_;
  }

 private:
  std::mutex mutex_;
  std::vector<Value> entries_;
  size_t total_ = 0;
};
Recorder& recorder() {
  static Recorder* r = new Recorder();
  return *r;
}

class RecordingSink : public LogSink {
 public:
  void writeLine(const std::string& line) override { recorder().add(Value{{"log", line}}); }
};

class RecordingCenter : public DefaultNotificationCenter {
 public:
  void post(const Notification& n) override {
    if (n.name.rfind("UIApplication", 0) != 0) {
      recorder().add(Value{{"notification", n.name}, {"batch", n.object.is_array() ? n.object.size() : 0}});
    }
    DefaultNotificationCenter::post(n);
  }
};

class RecordingApplication : public SettableApplication {
 public:
  BackgroundTaskIdentifier beginBackgroundTask(const std::string& name, std::function<void()> expiration) override {
    auto id = SettableApplication::beginBackgroundTask(name, std::move(expiration));
    recorder().add(Value{{"background_task", "begin"}, {"name", name}, {"id", id}});
    return id;
  }
  void endBackgroundTask(BackgroundTaskIdentifier id) override {
    recorder().add(Value{{"background_task", "end"}, {"id", id}});
    SettableApplication::endBackgroundTask(id);
  }
};

class RecordingTracking : public SettableTrackingManager {
 public:
  void requestTrackingAuthorization(TrackingAuthorizationHandler handler) override {
    recorder().add(Value{{"tracking_prompt", true}});
    SettableTrackingManager::requestTrackingAuthorization(std::move(handler));
  }
};

struct HostDelegates : CorvaneSDKLifecycleDelegate,
                       CorvaneSDKSendEventDelegate,
                       CorvaneSDKDeepLinkDelegate,
                       CorvaneSDKDeviceTokenDelegate {
  void onStart() override { recorder().add(Value{{"lifecycle", "onStart"}}); }
  void onStop() override { recorder().add(Value{{"lifecycle", "onStop"}}); }
  void onPause() override { recorder().add(Value{{"lifecycle", "onPause"}}); }
  void onResume() override { recorder().add(Value{{"lifecycle", "onResume"}}); }
  void onSendEvent(const Value& event) override { recorder().add(Value{{"send_event", event}}); }
  void onDeepLink(const std::string& url) override { recorder().add(Value{{"deep_link", url}}); }
  void onDeviceToken(const std::string& token) override { recorder().add(Value{{"device_token", token}}); }
};

std::string text(const Value& args, size_t i, const std::string& fallback = std::string()) {
  return args.is_array() && i < args.size() && args[i].is_string() ? args[i].get<std::string>() : fallback;
}
double number(const Value& args, size_t i, double fallback = 0) {
  return args.is_array() && i < args.size() && args[i].is_number() ? args[i].get<double>() : fallback;
}
int64_t integer(const Value& args, size_t i, int64_t fallback = 0) {
  return static_cast<int64_t>(number(args, i, static_cast<double>(fallback)));
}
bool boolean(const Value& args, size_t i, bool fallback = false) {
  return args.is_array() && i < args.size() && args[i].is_boolean() ? args[i].get<bool>() : fallback;
}
std::optional<int64_t> optionalInt(const Value& args, size_t i) {
  if (args.is_array() && i < args.size() && args[i].is_number()) return integer(args, i);
  return std::nullopt;
}

using Method = std::function<Value(CorvaneSDKManager&, const Value&)>;
const std::map<std::string, Method>& methods() {
  using M = CorvaneSDKManager;
  static const std::map<std::string, Method> table = {
      {"logLevelStart", [](M& m, const Value& a) { return Value(m.logLevelStart(integer(a, 0), text(a, 1))); }},
      {"logLevelEnd", [](M& m, const Value& a) { return Value(m.logLevelEnd(integer(a, 0), text(a, 1), boolean(a, 2))); }},
      {"logAdLoad", [](M& m, const Value& a) { return Value(m.logAdLoad(text(a, 0), integer(a, 1), optionalInt(a, 2))); }},
      {"logAdClose", [](M& m, const Value& a) { return Value(m.logAdClose(text(a, 0), integer(a, 1), optionalInt(a, 2))); }},
      {"logAdClick", [](M& m, const Value& a) { return Value(m.logAdClick(text(a, 0), integer(a, 1), optionalInt(a, 2))); }},
      {"logAdImpression",
       [](M& m, const Value& a) { return Value(m.logAdImpression(text(a, 0), integer(a, 1), optionalInt(a, 2))); }},
      {"logAdRevenue",
       [](M& m, const Value& a) {
         return Value(m.logAdRevenue(text(a, 0), number(a, 1), text(a, 2), text(a, 3),
                                     a.is_array() && a.size() > 4 ? a[4] : Value()));
       }},
      {"logBootStart", [](M& m, const Value&) { return Value(m.logBootStart()); }},
      {"logBootEnd", [](M& m, const Value&) { return Value(m.logBootEnd()); }},
      {"logIAPInitialization", [](M& m, const Value& a) { return Value(m.logIAPInitialization(boolean(a, 0))); }},
      {"logIAPRestorePurchase", [](M& m, const Value&) { return Value(m.logIAPRestorePurchase()); }},
      {"logPurchase",
       [](M& m, const Value& a) {
         return Value(m.logPurchase(text(a, 0), number(a, 1), integer(a, 2), text(a, 3), boolean(a, 4, true)));
       }},
      {"logIAPReceipt",
       [](M& m, const Value& a) {
         return Value(m.logIAPReceipt(text(a, 0), number(a, 1), integer(a, 2), text(a, 3), text(a, 4), text(a, 5)));
       }},
      {"logUpdateApp", [](M& m, const Value& a) { return Value(m.logUpdateApp(text(a, 0), text(a, 1))); }},
      {"logRateApp", [](M& m, const Value&) { return Value(m.logRateApp()); }},
      {"logLocation", [](M& m, const Value& a) { return Value(m.logLocation(number(a, 0), number(a, 1))); }},
      {"logSoundMode", [](M& m, const Value& a) { return Value(m.logSoundMode(text(a, 0))); }},
      {"logAccountLink",
       [](M& m, const Value& a) { return Value(m.logAccountLink(text(a, 0), text(a, 1), text(a, 2), text(a, 3))); }},
      {"logAccountUnlink", [](M& m, const Value& a) { return Value(m.logAccountUnlink(text(a, 0), text(a, 1))); }},
      {"setUserInfo", [](M& m, const Value& a) { return Value(m.setUserInfo(text(a, 0), a.size() > 1 ? a[1] : Value())); }},
      {"addUserInfo", [](M& m, const Value& a) { return Value(m.addUserInfo(text(a, 0), a.size() > 1 ? a[1] : Value())); }},
      {"removeUserInfo",
       [](M& m, const Value& a) { return Value(m.removeUserInfo(text(a, 0), a.size() > 1 ? a[1] : Value())); }},
      {"logWalletLink", [](M& m, const Value& a) { return Value(m.logWalletLink(text(a, 0), text(a, 1))); }},
      {"logWalletUnlink", [](M& m, const Value& a) { return Value(m.logWalletUnlink(text(a, 0), text(a, 1))); }},
      {"logCryptoPayment",
       [](M& m, const Value& a) {
         return Value(m.logCryptoPayment(text(a, 0), number(a, 1), integer(a, 2), text(a, 3), text(a, 4)));
       }},
      {"logPushToken", [](M& m, const Value& a) { return Value(m.logPushToken(text(a, 0))); }},
      {"setThirdPartySharing", [](M& m, const Value& a) { return Value(m.setThirdPartySharing(boolean(a, 0))); }},
      {"gdprForgetMe", [](M& m, const Value&) { return Value(m.gdprForgetMe()); }},
      {"setCustomUserId", [](M& m, const Value& a) { m.setCustomUserId(text(a, 0)); return Value(true); }},
      {"getCustomUserId", [](M& m, const Value&) { return Value(m.getCustomUserId()); }},
      {"setConfigId", [](M& m, const Value& a) { m.setConfigId(text(a, 0)); return Value(true); }},
      {"getThirdPartyId", [](M& m, const Value& a) { return Value(m.getThirdPartyId(text(a, 0)).value_or("")); }},
      {"getDeepLinkURL", [](M& m, const Value&) { return Value(m.getDeepLinkURL()); }},
      {"getHost", [](M& m, const Value&) { return Value(m.getHost()); }},
      {"getCredential", [](M& m, const Value&) { return Value(m.getCredential()); }},
      {"isInitialized", [](M& m, const Value&) { return Value(m.isInitialized()); }},
      {"hasStarted", [](M& m, const Value&) { return Value(m.hasStarted()); }},
      {"reset", [](M& m, const Value&) { m.reset(); return Value(true); }},
      {"fetchRemoteConfig",
       [](M& m, const Value&) {
         m.fetchRemoteConfig([](const std::string& t) { recorder().add(Value{{"remote_config", t}}); });
         return Value(true);
       }},
      {"requestTrackingAuthorization",
       [](M& m, const Value&) {
         m.trackingAuthorization()->requestTrackingAuthorization(
             [](int64_t status) { recorder().add(Value{{"tracking_result", status}}); });
         return Value(true);
       }},
      {"getTrackingAuthorizationStatus",
       [](M& m, const Value&) { return Value(m.trackingAuthorization()->getTrackingAuthorizationStatus()); }},
  };
  return table;
}

int64_t transactionState(const Value& v) {
  if (v.is_number()) return v.get<int64_t>();
  const std::string s = v.is_string() ? v.get<std::string>() : "";
  if (s == "purchased") return kTransactionStatePurchased;
  if (s == "failed") return kTransactionStateFailed;
  if (s == "restored") return kTransactionStateRestored;
  if (s == "deferred") return kTransactionStateDeferred;
  return kTransactionStatePurchasing;
}

class Host {
 public:
  explicit Host(const std::string& saveDir) {
    clock_ = std::make_shared<ManualClock>();
    dispatch_ = std::make_shared<ManualDispatch>(clock_);
    auto ports = std::make_shared<Ports>(Platform::portable(saveDir));
    ports->clock = clock_;
    ports->dispatch = dispatch_;
    device_ = std::make_shared<FakeDevice>();
    device_->setBundle(BundleRecord{"com.example.host", Value{{"CFBundleVersion", "1"}, {"CFBundleShortVersionString", "1.0"}}, ""});
    ports->device = device_;
    application_ = std::make_shared<RecordingApplication>();
    ports->application = application_;
    ports->notificationCenter = std::make_shared<RecordingCenter>();
    ports->log = std::make_shared<RecordingSink>();
    ports_ = ports;
    Platform::install(ports);
    os_ = std::make_shared<FixedOSVersion>(device_->sysVersion);
    installSkan(true);
    storeKit_ = std::make_shared<SettableStoreKit>();
    tracking_ = std::make_shared<RecordingTracking>();
    adServices_ = std::make_shared<SettableAdServices>();
    adServices_->setResult(AttributionTokenResult::failure(kAdServicesErrorNotSupported, "not supported"));
    installAttribution();
    delegates_ = std::make_shared<HostDelegates>();
    addDelegates();
  }

  Value run(const std::string& op, const Value& a) {
    auto m = CorvaneSDKManager::sharedInstance();
    if (op == "ports") return setPorts(a);
    if (op == "init_json") {
      auto config = CorvaneSDKManager::createConfigurationFromJson(a.value("text", std::string()));
      if (!config) return false;
      addDelegates();
      return CorvaneSDKManager::initialize(config) != nullptr;
    }
    if (op == "advance") return dispatch_->main().advance(a.value("ms", int64_t(0)));
    if (op == "wait_idle") return waitIdle(a.value("ms", int64_t(2000)));
    if (op == "open_url") return CorvaneSDKManager::openURL(a.value("url", std::string()));
    if (op == "device_token") {
      CorvaneSDKManager::setDeviceTokenString(a.value("hex", std::string()));
      return true;
    }
    if (op == "transaction") {
      PaymentTransaction t;
      if (a.contains("id") && a["id"].is_string()) t.transactionIdentifier = a["id"].get<std::string>();
      t.productIdentifier = a.value("product", std::string());
      t.state = transactionState(a.value("state", Value("purchased")));
      t.quantity = a.value("quantity", int64_t(1));
      storeKit_->postTransactions({t});
      return true;
    }
    if (op == "products_response") {
      std::vector<Product> products;
      for (const auto& p : a.value("products", Value::array())) {
        Product product;
        product.productIdentifier = p.value("id", std::string());
        product.price = p.value("price", 0.0);
        product.currencyCode = p.value("currency", std::string("USD"));
        products.push_back(product);
      }
      return storeKit_->respond(products);
    }
    if (op == "products_fail") return storeKit_->fail(a.value("product", std::string()));
    if (op == "shutdown") {
      CorvaneSDKManager::shutdown();
      return true;
    }
    if (op == "background") {
      application_->setApplicationState(ApplicationState::Background);
      return postLifecycle(kApplicationDidEnterBackgroundNotification);
    }
    if (op == "foreground") {
      application_->setApplicationState(ApplicationState::Inactive);
      return postLifecycle(kApplicationWillEnterForegroundNotification);
    }
    if (op == "become_active") {
      application_->setApplicationState(ApplicationState::Active);
      return postLifecycle(kApplicationDidBecomeActiveNotification);
    }
    if (!m) throw std::runtime_error("no manager: init_json first");
    if (op == "log") {
      CorvaneSDKEvent event(a.value("name", std::string()), std::nullopt, static_cast<int>(a.value("flag", int64_t(0))));
      if (a.contains("value")) event.setJsonValue(a["value"]);
      return m->logEvent(event);
    }
    if (op == "call") {
      auto found = methods().find(a.value("method", std::string()));
      if (found == methods().end()) throw std::runtime_error("unknown method: " + a.value("method", std::string()));
      return found->second(*m, a.value("args", Value::array()));
    }
    if (op == "start") return m->start(), m->hasStarted();
    if (op == "stop") return m->stop(), !m->hasStarted();
    if (op == "set_offline") return m->setOffline(a.value("value", true)), !m->isIntegrationActive();
    if (op == "flush") return m->flush(), true;
    if (op == "get") return get(*m, a.value("what", std::string()));
    throw std::runtime_error("unknown op: " + op);
  }

 private:
  void installSkan(bool present) {
    skan_ = std::make_shared<RecordingSKAdNetwork>(present, os_);
    skan_->onCall([](const RecordingSKAdNetwork::Call& c) {
      recorder().add(Value{{"skadnetwork", c.selector}, {"args", c.args}});
    });
    auto pair = std::make_shared<SKAdNetworkPorts>();
    pair->skAdNetwork = skan_;
    pair->osVersion = os_;
    SKAdNetworkPlatform::install(pair);
  }
  void installAttribution() {
    auto set = std::make_shared<AttributionPorts>();
    set->storeKit = storeKit_;
    set->trackingManager = tracking_;
    set->adServices = adServices_;
    AttributionPlatform::install(set);
  }
  void addDelegates() {
    CorvaneSDKManager::addLifecycleDelegate(delegates_);
    CorvaneSDKManager::addSendEventDelegate(delegates_);
    CorvaneSDKManager::addDeepLinkDelegate(delegates_);
    CorvaneSDKManager::addDeviceTokenDelegate(delegates_);
  }
  bool postLifecycle(const char* name) {
    Notification n;
    n.name = name;
    ports_->notificationCenter->post(n);
    return true;
  }

  Value setPorts(const Value& a) {
    if (a.contains("ios") && a["ios"].is_string()) {
      const std::string v = a["ios"].get<std::string>();
      device_->set([&](FakeDevice& d) { d.sysVersion = v; });
      os_->set(v);
    }
    if (a.contains("app_state") && a["app_state"].is_string()) {
      const std::string s = a["app_state"].get<std::string>();
      application_->setApplicationState(s == "background"   ? ApplicationState::Background
                                        : s == "inactive" ? ApplicationState::Inactive
                                                          : ApplicationState::Active);
    }
    if (a.contains("att_status") && a["att_status"].is_number()) tracking_->setStatus(a["att_status"].get<int64_t>());
    if (a.contains("att_answer") && a["att_answer"].is_number()) tracking_->setAnswer(a["att_answer"].get<int64_t>());
    if (a.contains("ad_token") && a["ad_token"].is_string()) {
      adServices_->setResult(AttributionTokenResult::success(a["ad_token"].get<std::string>()));
    }
    if (a.contains("ad_error") && a["ad_error"].is_number()) {
      adServices_->setResult(AttributionTokenResult::failure(a["ad_error"].get<int64_t>(), "ad services error"));
    }
    if (a.contains("skadnetwork") && a["skadnetwork"].is_boolean()) installSkan(a["skadnetwork"].get<bool>());
    if (a.contains("bundle") && a["bundle"].is_object()) {
      const Value& b = a["bundle"];
      device_->setBundle(BundleRecord{b.value("id", std::string("com.example.host")),
                                      Value{{"CFBundleVersion", b.value("version", std::string("1"))},
                                            {"CFBundleShortVersionString", b.value("short_version", std::string("1.0"))}},
                                      ""});
    }
    if (a.contains("locale") && a["locale"].is_string()) {
      const std::string l = a["locale"].get<std::string>();
      device_->set([&](FakeDevice& d) { d.locale = l; });
    }
    if (a.contains("idfa") && a["idfa"].is_string()) device_->setAdvertisingIdentifier(a["idfa"].get<std::string>(), true);
    if (a.contains("idfv") && a["idfv"].is_string()) device_->setVendorIdentifier(a["idfv"].get<std::string>());
    return true;
  }

  Value get(CorvaneSDKManager& m, const std::string& what) {
    if (what == "user_id") return m.getUserId();
    if (what == "session_id") return m.getSessionId();
    if (what == "queue_size") return m.getQueueSize();
    if (what == "config_id") return m.getConfigId();
    auto queue = m.operationQueue();
    if (auto stored = queue->fileStorage()->jsonForKey(what)) return *stored;
    if (auto stored = queue->fileStorage()->stringForKey(what)) return *stored;
    if (auto stored = queue->userDefaultsStorage()->stringForKey(what)) return *stored;
    return nullptr;
  }

  // Waits until nothing new happens for a while: the main queue run, the serial queues drained.
  Value waitIdle(int64_t ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    size_t lastTotal = SIZE_MAX;
    uint64_t lastQueue = UINT64_MAX;
    int quiet = 0;
    while (std::chrono::steady_clock::now() < deadline) {
      dispatch_->main().runPending();
      uint64_t queueSize = 0;
      bool settling = false;  // initialisation still waits for its SDK config answer
      if (auto m = CorvaneSDKManager::sharedInstance()) {
        dispatchOn(*m->operationQueue()->serialQueue(), [] {}, true);
        queueSize = m->getQueueSize();
        settling = !m->isInitialized() && dispatch_->main().delayedCount() == 0;
      }
      const size_t total = recorder().total();
      quiet = (!settling && total == lastTotal && queueSize == lastQueue) ? quiet + 1 : 0;
      lastTotal = total;
      lastQueue = queueSize;
      if (quiet >= 15) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  std::shared_ptr<ManualClock> clock_;
  std::shared_ptr<ManualDispatch> dispatch_;
  std::shared_ptr<const Ports> ports_;
  std::shared_ptr<FakeDevice> device_;
  std::shared_ptr<RecordingApplication> application_;
  std::shared_ptr<FixedOSVersion> os_;
  std::shared_ptr<RecordingSKAdNetwork> skan_;
  std::shared_ptr<SettableStoreKit> storeKit_;
  std::shared_ptr<RecordingTracking> tracking_;
  std::shared_ptr<SettableAdServices> adServices_;
  std::shared_ptr<HostDelegates> delegates_;
};

void printLine(const Value& line) {
  const std::string out = dumpJson(line);
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: mobile-host SAVE_DIR < ops.jsonl\n");
    return 2;
  }
  Host host(argv[1]);
  std::string line;
  int64_t i = 0;
  while (std::getline(std::cin, line)) {
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    const int64_t n = i++;
    Value op;
    Value result;
    try {
      if (!parseJson(line, op) || !op.is_object()) throw std::runtime_error("not a JSON object");
      result = host.run(op.value("op", std::string()), op);
      printLine(Value{{"i", n}, {"result", result}, {"out", recorder().take()}});
    } catch (const std::exception& e) {
      printLine(Value{{"i", n}, {"error", e.what()}, {"out", recorder().take()}});
    }
  }
  CorvaneSDKManager::shutdown();
  return 0;
}
