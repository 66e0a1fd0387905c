// mobile-demo: an app's life on the mobile framework (CorvaneSDK), played against a collector.
//   mobile-demo BASE_URL [SAVE_DIR]
// The ports are the portable implementations (files, serial-queue threads, libcurl, OpenSSL)
// with doubles where the platform or time must be driven: the clock and main queue (a 31 s
// background takes no real time), the device, the application and its delegate, the tracking
// prompt, ad services, StoreKit and SKAdNetwork. It prints what the framework did at each
// step and, at the end, what the collector stored. Exit status 0 when every event arrived
// exactly once.
#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "AttributionPlatform.h"
#include "CorvaneSDKAppDelegateProxy.h"
#include "CorvaneSDKLog.h"
#include "CorvaneSDKManager.h"
#include "CorvaneSDKOperationQueue.h"
#include "CorvaneSDKServerConfig.h"
#include "CorvaneSDKSkanConversionContext.h"
#include "CorvaneSDKSkanConversionSchema.h"
#include "CorvaneSDKTrackingAuthorization.h"
#include "OSVersion.h"
#include "Platform.h"
#include "SKAdNetwork.h"

using namespace CorvaneSDK::Mobile;

namespace {

const char* kAppId = "demo-ios";
const char* kAppSecret = "demo-ios-secret";

// What the framework did since the last step, from any thread.
struct Journal {
  std::mutex mutex;
  std::vector<std::string> lines;
  std::vector<Value> sent;            // every event map, at its first upload
  std::vector<RecordingSKAdNetwork::Call> skan;
  std::vector<std::string> deepLinks;
  size_t activity = 0;
  void line(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex);
    lines.push_back(text);
    ++activity;
  }
};
Journal& journal() {
  static Journal* j = new Journal();
  return *j;
}

class DemoLog : public LogSink {
 public:
  void writeLine(const std::string& line) override {
    // Debug lines are off; what remains is worth showing (warnings, refusals, conversion values).
    journal().line("sdk log: " + line);
  }
};

class DemoCenter : public DefaultNotificationCenter {
 public:
  void post(const Notification& n) override {
    if (n.name == "CorvaneSDKRequestDidSucceed") {
      journal().line("upload accepted by the collector: " +
                     std::to_string(n.object.is_array() ? n.object.size() : 0) + " event(s)");
    } else if (n.name == "CorvaneSDKRequestDidFail") {
      journal().line("upload failed: " + dumpJson(n.userInfo));
    }
    DefaultNotificationCenter::post(n);
  }
};

class DemoTracking : public SettableTrackingManager {
 public:
  DemoTracking() : SettableTrackingManager(true, 0) {}
  void requestTrackingAuthorization(TrackingAuthorizationHandler handler) override {
    journal().line("tracking prompt shown (the user taps Allow)");
    SettableTrackingManager::requestTrackingAuthorization(std::move(handler));
  }
};

struct DemoDelegates : CorvaneSDKLifecycleDelegate, CorvaneSDKSendEventDelegate, CorvaneSDKDeepLinkDelegate {
  void onStart() override { journal().line("delegate: onStart"); }
  void onStop() override { journal().line("delegate: onStop"); }
  void onPause() override { journal().line("delegate: onPause"); }
  void onResume() override { journal().line("delegate: onResume"); }
  void onSendEvent(const Value& event) override {
    std::lock_guard<std::mutex> lock(journal().mutex);
    journal().sent.push_back(event);
    ++journal().activity;
  }
  void onDeepLink(const std::string& url) override {
    std::lock_guard<std::mutex> lock(journal().mutex);
    journal().deepLinks.push_back(url);
    journal().lines.push_back("delegate: onDeepLink " + url);
    ++journal().activity;
  }
};

std::string money(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.4g", v);
  return buf;
}

class Demo {
 public:
  Demo(std::string base, const std::string& saveDir) : base_(std::move(base)) {
    clock_ = std::make_shared<ManualClock>();
    dispatch_ = std::make_shared<ManualDispatch>(clock_);
    auto ports = std::make_shared<Ports>(Platform::portable(saveDir));
    ports->clock = clock_;
    ports->dispatch = dispatch_;
    device_ = std::make_shared<FakeDevice>();
    device_->setBundle(BundleRecord{"com.corvane.demo.ios",
                                    Value{{"CFBundleVersion", "7"}, {"CFBundleShortVersionString", "1.2.0"}}, ""});
    ports->device = device_;
    application_ = std::make_shared<SettableApplication>();
    ports->application = application_;
    ports->notificationCenter = std::make_shared<DemoCenter>();
    ports->log = std::make_shared<DemoLog>();
    ports_ = ports;
    Platform::install(ports);

    os_ = std::make_shared<FixedOSVersion>(device_->sysVersion);
    skan_ = std::make_shared<RecordingSKAdNetwork>(true, os_);
    skan_->onCall([](const RecordingSKAdNetwork::Call& c) {
      std::lock_guard<std::mutex> lock(journal().mutex);
      journal().skan.push_back(c);
      ++journal().activity;
    });
    auto skanPorts = std::make_shared<SKAdNetworkPorts>();
    skanPorts->skAdNetwork = skan_;
    skanPorts->osVersion = os_;
    SKAdNetworkPlatform::install(skanPorts);

    storeKit_ = std::make_shared<SettableStoreKit>();
    tracking_ = std::make_shared<DemoTracking>();
    tracking_->setAnswer(3);  // authorized
    adServices_ = std::make_shared<SettableAdServices>();
    adServices_->setResult(AttributionTokenResult::success("demo-attribution-token-7f3a"));
    auto attribution = std::make_shared<AttributionPorts>();
    attribution->storeKit = storeKit_;
    attribution->trackingManager = tracking_;
    attribution->adServices = adServices_;
    AttributionPlatform::install(attribution);

    // The app's own delegate; the framework's hook takes over its open-URL calls.
    ApplicationDelegateHandlers handlers;
    handlers.openURL = [](const std::string& url, const Value&) {
      journal().line("app delegate: the app's own handler got " + url);
      return true;
    };
    appDelegate_ = std::make_shared<ApplicationDelegate>(handlers, "DemoAppDelegate");
    application_->setDelegate(appDelegate_);
    delegates_ = std::make_shared<DemoDelegates>();
  }

  int run() {
    step("First launch: initialisation from the init-parameter JSON");
    const Value init = {
        {"appId", kAppId},
        {"appSecret", kAppSecret},
        {"host", base_ + "/v4/event"},
        {"configUrl", base_ + "/v1/public/config"},
        {"useSkanConversionSchema", true},
        {"captureInAppPurchases", true},
        {"appSwizzleFlag", kAppSwizzleOpenURL},
        {"flushQueueSize", 1},
        // Type 0: ask for tracking authorization before the first open event.
        {"initializationActions", Value::array({Value{{"type", 0}}})},
    };
    say("init parameters: " + dumpJson(init));
    CorvaneSDKManager::addLifecycleDelegate(delegates_);
    CorvaneSDKManager::addSendEventDelegate(delegates_);
    CorvaneSDKManager::addDeepLinkDelegate(delegates_);
    auto config = CorvaneSDKManager::createConfigurationFromJson(dumpJson(init));
    if (!config) return fail("the init parameters were refused");
    manager_ = CorvaneSDKManager::initialize(config);
    if (!manager_) return fail("initialize returned no manager");
    if (!waitFor([&] { return manager_->isInitialized(); }, 1000)) return fail("initialisation did not finish");
    settle();
    say("initialised; user " + manager_->getUserId() + ", session " + manager_->getSessionId());
    say("tracking authorization status: " +
        std::to_string(manager_->trackingAuthorization()->getTrackingAuthorizationStatus()) + " (3 = authorized)");
    reportServerConfig();

    step("The open event is held 5 s for late deep links, then delivered");
    manager_->flush();
    advance(OPEN_LOCK_WAIT_TIME);
    deliver();

    step("A session with levels");
    accepted("logLevelStart(1, \"forest\")", manager_->logLevelStart(1, "forest"));
    advance(20000);
    accepted("logLevelEnd(1, \"forest\", success)", manager_->logLevelEnd(1, "forest", true));
    accepted("logLevelStart(2, \"cave\")", manager_->logLevelStart(2, "cave"));
    advance(15000);
    accepted("logLevelEnd(2, \"cave\", failed)", manager_->logLevelEnd(2, "cave", false));
    deliver();

    step("Ad revenue (EUR, converted with the collector's rates)");
    accepted("logAdRevenue(\"max\", 0.05, \"EUR\", \"demo-network\")",
             manager_->logAdRevenue("max", 0.05, "EUR", "demo-network", Value()));
    deliver();

    step("In-app purchases captured from the StoreKit payment queue");
    PaymentTransaction bought;
    bought.transactionIdentifier = "1000000001";
    bought.productIdentifier = "gems_100";
    bought.state = kTransactionStatePurchased;
    PaymentTransaction restored;
    restored.transactionIdentifier = "1000000002";
    restored.productIdentifier = "no_ads";
    restored.state = kTransactionStateRestored;
    PaymentTransaction failed;
    failed.transactionIdentifier = "1000000003";
    failed.productIdentifier = "gems_500";
    failed.state = kTransactionStateFailed;
    say("payment queue: gems_100 purchased, no_ads restored, gems_500 failed");
    storeKit_->postTransactions({bought, restored, failed});
    settle();
    std::vector<Product> products(3);
    products[0].productIdentifier = "gems_100";
    products[0].price = 4.99;
    products[1].productIdentifier = "no_ads";
    products[1].price = 2.99;
    products[2].productIdentifier = "gems_500";
    products[2].price = 19.99;
    const int answered = storeKit_->respond(products);
    say("product requests answered by the store: " + std::to_string(answered));
    deliver();

    step("A deep link through the app delegate, then a sign-in redirect");
    say("openURL corvanedemo://promo?campaign=winter&level=3 -> app delegate answered " +
        yes(appDelegate_->openURL("corvanedemo://promo?campaign=winter&level=3")));
    settle();
    const size_t linksBefore = deepLinkCount();
    say("openURL fb1234567890://authorize#access_token=EAAB... -> app delegate answered " +
        yes(appDelegate_->openURL("fb1234567890://authorize#access_token=EAABdemo")));
    settle();
    say(deepLinkCount() == linksBefore ? "the sign-in redirect was refused by the deep-link filter (no event, no callback)"
                                       : "UNEXPECTED: the sign-in redirect was taken as a deep link");
    say("deep link kept by the SDK: " + manager_->getDeepLinkURL());
    deliver();

    step("Background for 10 s, then back: the same session");
    const std::string first = manager_->getSessionId();
    background(10000);
    say(manager_->getSessionId() == first ? "session kept: " + first : "UNEXPECTED new session " + manager_->getSessionId());
    deliver();

    step("Background for 31 s, then back: a new session");
    background(31000);
    const std::string second = manager_->getSessionId();
    say(second != first ? "new session: " + second : "UNEXPECTED: the session was kept");
    advance(OPEN_LOCK_WAIT_TIME);
    deliver();

    step("Attribution token and conversion state");
    int tokens = 0;
    {
      std::lock_guard<std::mutex> lock(journal().mutex);
      for (const auto& e : allSent_) {
        if (e.value("eventName", "") == "qvsdk_apple_attribution") ++tokens;
      }
    }
    say("attribution-token events sent: " + std::to_string(tokens) +
        " (the token is fetched from AdServices at each new session and logged when it changed)");
    auto ctx = manager_->skanContext();
    say("conversion context: fine " + std::to_string(ctx->fineCv()) + ", coarse " + coarse(ctx->coarseCv()) +
        ", window " + std::to_string(ctx->postbackWindowIndex()) + (ctx->windowLocked() ? ", locked" : ", open") +
        "; sessions " + std::to_string(ctx->sessionCount()) + ", IAP revenue " + money(ctx->revenueIAP()) +
        ", ad revenue " + money(ctx->revenueAd()));

    step("Shut down and compare with the collector");
    manager_->flush();
    if (!waitFor([&] { return manager_->getQueueSize() == 0; }, 0)) say("UNEXPECTED: events still queued");
    settle();
    const std::string userId = manager_->getUserId();
    const size_t sentCount = allSent_.size();
    CorvaneSDKManager::shutdown();
    manager_.reset();
    return checkCollector(userId, sentCount);
  }

 private:
  static std::string yes(bool v) { return v ? "true" : "false"; }
  static std::string coarse(int32_t v) {
    switch (v) {
      case 0: return "low";
      case 1: return "medium";
      case 2: return "high";
      default: return std::to_string(v);
    }
  }
  void step(const std::string& title) { std::printf("\n== %d. %s\n", ++steps_, title.c_str()); }
  void say(const std::string& text) { std::printf("   %s\n", text.c_str()); std::fflush(stdout); }
  int fail(const std::string& why) {
    say("FAILED: " + why);
    return 1;
  }
  void accepted(const std::string& call, bool ok) { say(call + (ok ? " -> accepted" : " -> refused")); }
  size_t deepLinkCount() {
    std::lock_guard<std::mutex> lock(journal().mutex);
    return journal().deepLinks.size();
  }

  void reportServerConfig() {
    auto sc = manager_->serverConfig();
    say(std::string("SDK config from the collector: ") + (sc->sdkConfig() ? dumpJson(*sc->sdkConfig()) : "none"));
    say("configuration currency: " + sc->configCurrency());
    say("exchange rates: " + dumpJson(sc->exchangeRates()));
    auto schema = sc->schema();
    say(std::string("conversion schema: ") + (schema ? "hash " + schema->schemaHash() : "none (no conversion values)"));
    if (schema) {
      say("  the demo's schema (examples/mobile-demo/mobile-config.json), first window: fine 1 after a session,");
      say("  8 after a completed level, 20 after ad revenue of at least 0.01 USD; coarse medium from fine 8,");
      say("  high from fine 20; the window locks at coarse high");
    }
  }

  // Moves the double clock; the main queue's timers come due in order.
  void advance(int64_t ms) {
    dispatch_->main().advance(ms);
    settle();
  }
  void background(int64_t ms) {
    application_->setApplicationState(ApplicationState::Background);
    post(kApplicationDidEnterBackgroundNotification);
    say("app in background for " + std::to_string(ms / 1000) + " s (double clock)");
    advance(ms);
    application_->setApplicationState(ApplicationState::Inactive);
    post(kApplicationWillEnterForegroundNotification);
    application_->setApplicationState(ApplicationState::Active);
    post(kApplicationDidBecomeActiveNotification);
    settle();
  }
  void post(const char* name) {
    Notification n;
    n.name = name;
    ports_->notificationCenter->post(n);
  }
  void deliver() {
    manager_->flush();
    waitFor([&] { return manager_->getQueueSize() == 0; }, 0);
    settle();
  }

  // Runs the main queue until `done` holds (or 20 s of real time passed); `stepMs` also moves
  // the clock, for the framework's one-second checks.
  bool waitFor(const std::function<bool()>& done, int64_t stepMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      dispatch_->main().runPending();
      if (done()) return true;
      if (stepMs > 0) dispatch_->main().advance(stepMs);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  // Lets the queues go quiet (300 ms without activity), then prints what happened.
  void settle() {
    size_t last = SIZE_MAX;
    int quiet = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (quiet < 15 && std::chrono::steady_clock::now() < deadline) {
      dispatch_->main().runPending();
      if (manager_) dispatchOn(*manager_->operationQueue()->serialQueue(), [] {}, true);
      size_t now;
      {
        std::lock_guard<std::mutex> lock(journal().mutex);
        now = journal().activity;
      }
      quiet = now == last ? quiet + 1 : 0;
      last = now;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    print();
  }
  void print() {
    std::vector<std::string> lines;
    std::vector<Value> sent;
    std::vector<RecordingSKAdNetwork::Call> skan;
    {
      std::lock_guard<std::mutex> lock(journal().mutex);
      lines.swap(journal().lines);
      sent.swap(journal().sent);
      skan.swap(journal().skan);
    }
    for (const auto& l : lines) say(l);
    for (const auto& e : sent) {
      allSent_.push_back(e);
      std::string detail;
      if (e.contains("value") && e["value"].is_object()) {
        detail = dumpJson(e["value"]);
        if (detail.size() > 110) detail = detail.substr(0, 107) + "...";
      }
      say("sent " + e.value("eventName", std::string("?")) + (detail.empty() ? "" : " " + detail));
    }
    for (const auto& c : skan) say("SKAdNetwork " + describe(c));
  }
  std::string describe(const RecordingSKAdNetwork::Call& c) {
    if (!c.args.is_array() || c.args.empty()) return c.selector + " (install registered for attribution)";
    std::string out = "fine " + dumpJson(c.args[0]);
    if (c.args.size() > 1) out += ", coarse " + (c.args[1].is_string() ? c.args[1].get<std::string>() : dumpJson(c.args[1]));
    if (c.args.size() > 2) out += c.args[2] == true ? ", lock" : ", no lock";
    auto ctx = manager_ ? manager_->skanContext() : nullptr;
    if (ctx) {
      out += "  <- sessions " + std::to_string(ctx->sessionCount()) + ", IAP revenue " + money(ctx->revenueIAP()) +
             ", ad revenue " + money(ctx->revenueAd()) + ", level completes " +
             std::to_string(ctx->getEventCount("qvsdk_level_complete"));
    }
    return out;
  }

  int checkCollector(const std::string& userId, size_t sentCount) {
    httplib::Client client(base_);
    client.set_connection_timeout(5);
    client.set_read_timeout(10);
    auto res = client.Get("/api/events?user=" + userId + "&limit=1000");
    Value events;
    if (!res || res->status != 200 || !parseJson(res->body, events) || !events.contains("events")) {
      return fail("the collector's event list could not be read");
    }
    std::map<std::string, int> byName;
    std::map<std::string, int> byId;
    std::set<std::string> sessions;
    for (const auto& e : events["events"]) {
      ++byName[e.value("name", std::string("?"))];
      ++byId[e.value("eId", std::string())];
      sessions.insert(e.value("sessionId", std::string()));
    }
    size_t duplicates = 0;
    for (const auto& [id, n] : byId) duplicates += static_cast<size_t>(n - 1);
    say("the collector stored " + std::to_string(events["events"].size()) + " event(s) for user " + userId +
        " in " + std::to_string(sessions.size()) + " session(s):");
    for (const auto& [name, n] : byName) say("  " + std::to_string(n) + " x " + name);
    say("the SDK sent " + std::to_string(sentCount) + " event(s); duplicates in the collector: " +
        std::to_string(duplicates));
    if (auto stats = client.Get("/api/stats"); stats && stats->status == 200) {
      Value s;
      if (parseJson(stats->body, s)) say("collector totals (both demos): " + dumpJson(s.value("duplicates", Value())) +
                                         " duplicates, " + dumpJson(s.value("events", Value())) + " events");
    }
    if (duplicates != 0) return fail("duplicates in the collector");
    if (events["events"].size() != sentCount) return fail("the collector and the SDK disagree on the count");
    say("mobile demo done: every event arrived exactly once");
    return 0;
  }

  const std::string base_;
  int steps_ = 0;
  std::vector<Value> allSent_;
  std::shared_ptr<ManualClock> clock_;
  std::shared_ptr<ManualDispatch> dispatch_;
  std::shared_ptr<const Ports> ports_;
  std::shared_ptr<FakeDevice> device_;
  std::shared_ptr<SettableApplication> application_;
  std::shared_ptr<FixedOSVersion> os_;
  std::shared_ptr<RecordingSKAdNetwork> skan_;
  std::shared_ptr<SettableStoreKit> storeKit_;
  std::shared_ptr<DemoTracking> tracking_;
  std::shared_ptr<SettableAdServices> adServices_;
  std::shared_ptr<ApplicationDelegate> appDelegate_;
  std::shared_ptr<DemoDelegates> delegates_;
  std::shared_ptr<CorvaneSDKManager> manager_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: mobile-demo BASE_URL [SAVE_DIR]\n");
    return 2;
  }
  std::string saveDir;
  std::error_code ec;
  if (argc == 3) {
    saveDir = argv[2];
  } else {
    saveDir = (std::filesystem::temp_directory_path(ec) / ("corvane-mobile-demo-" + std::to_string(::getpid()))).string();
  }
  std::filesystem::create_directories(saveDir, ec);
  std::printf("mobile demo against %s (app files in %s)\n", argv[1], saveDir.c_str());
  int status = 1;
  {
    Demo demo(argv[1], saveDir);
    status = demo.run();
  }
  if (argc == 2) std::filesystem::remove_all(saveDir, ec);
  return status;
}
