// Modules end to end: creation in order with exclusions (host list, SDK configuration
// platforms, excluded platforms and wrappers), parameter merging, the registry, factories that
// fail, initialization actions one at a time with synchronous and asynchronous done, the
// 10 s Warning, Initialize at the finish, deletion at Destroy, and module events.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "ConfigTestHarness.h"
#include "CorvaneSDKModule.h"
#include "FakeClock.h"
#include "LogCapture.h"
#include "Utils.h"

using namespace CorvaneSDK;
using namespace CorvaneSDK::Test;

namespace {

// What the modules did, in order, across threads.
class Journal {
 public:
  void Add(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(line);
  }
  std::vector<std::string> Lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }
  bool Has(const std::string& line) const {
    const auto lines = Lines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

Journal& Record() {
  static Journal journal;
  return journal;
}

constexpr int kAsyncAction = 2;
std::atomic<void (*)()> g_pendingDone{nullptr};

class RecordingModule : public CorvaneSDKModule {
 public:
  RecordingModule(const void* manager, const std::string& parameters, const std::string& tag,
                  const std::vector<int>& actions)
      : CorvaneSDKModule(manager, parameters), tag_(tag) {
    Record().Add("create " + tag + " " + parameters);
    for (int action : actions) AddInitializationAction(action, tag + "-" + std::to_string(action));
  }
  ~RecordingModule() override { Record().Add("delete " + tag_); }
  void Initialize() override { Record().Add("initialize " + tag_); }
  void RunInitializationAction(int action, const std::string& parameters,
                               void (*done)()) override {
    Record().Add("run " + std::to_string(action) + " " + parameters);
    if (action == kAsyncAction) {
      g_pendingDone = done;  // the test finishes it from another thread
      return;
    }
    done();
  }

 private:
  std::string tag_;
};

enum class Behaviour { kCreate, kNull, kThrow };

class RecordingFactory : public CorvaneSDKModuleFactory {
 public:
  explicit RecordingFactory(std::string tag, std::vector<int> actions = {},
                            Behaviour behaviour = Behaviour::kCreate)
      : tag_(std::move(tag)), actions_(std::move(actions)), behaviour_(behaviour) {}
  CorvaneSDKModule* CreateModule(const void* manager, const std::string& parameters) override {
    if (behaviour_ == Behaviour::kNull) return nullptr;
    if (behaviour_ == Behaviour::kThrow) throw std::runtime_error("factory failure");
    return new RecordingModule(manager, parameters, tag_, actions_);
  }

 private:
  std::string tag_;
  std::vector<int> actions_;
  Behaviour behaviour_;
};

// Logs from Initialize: an early event is kept, an ordinary one is dropped (not started yet);
// adding an action there is refused.
class LoggingModule : public CorvaneSDKModule {
 public:
  using CorvaneSDKModule::CorvaneSDKModule;
  void Initialize() override {
    LogWithIntValue("module_early", 5, CORVANE_EVENT_FLAG_EARLY);
    Log("module_before_start");  // waits for the automatic start
    AddInitializationAction(9);
  }
};

class LoggingFactory : public CorvaneSDKModuleFactory {
 public:
  CorvaneSDKModule* CreateModule(const void* manager, const std::string& parameters) override {
    return new LoggingModule(manager, parameters);
  }
};

void RecordCompletion(int) { Record().Add("complete"); }

class ModuleTest : public ConfigHarness {
 protected:
  void SetUp() override {
    ConfigHarness::SetUp();
    Record().Clear();
    g_pendingDone = nullptr;
  }
  void TearDown() override {
    ConfigHarness::TearDown();
    for (const auto& name : registered_) CorvaneSDKManager_UnregisterModuleFactory(name.c_str(), 1);
  }
  void Register(const std::string& name, CorvaneSDKModuleFactory* factory) {
    CorvaneSDKManager_RegisterModuleFactory(name.c_str(), factory);
    registered_.push_back(name);
  }
  bool WaitFor(const std::function<bool()>& condition) {
    for (int i = 0; i < 10000; ++i) {
      if (condition()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }
  std::vector<std::string> registered_;
};

}  // namespace

TEST_F(ModuleTest, CreatedInOrderWithExclusionsAndMergedParameters) {
  ScopedFakeClock clock;
  LogCapture capture(kLogWarning);
  for (const char* name : {"A", "B", "C", "D", "E", "F", "H"}) {
    Register(name, new RecordingFactory(name));
  }
  const std::string p = Utils::PlatformName();
  const Json modules = Json::array({
      {{"type", "A"}, {"platforms", {p}}, {"x", 2}, {"extra", true}},
      {{"type", "D"}, {"platforms", {"Other", p}}, {"p", "d"}},
      {{"type", "B"}, {"platforms", {p}}, {"excludedPlatforms", {p}}},
      {{"type", "E"}, {"platforms", {"Other"}}},
      {{"type", "F"}, {"platforms", {p}}, {"excludedWrappers", {"unity"}}},
      {{"type", 5}, {"platforms", {p}}},
      "just text",
      {{"type", "H"}, {"platforms", p}},
  });
  server_.SetDefault(kConfigPath,
                     Reply(200, DumpJson(Json{{"sdk_config",
                                               {{"appId", "app"},
                                                {"appSecret", "secret"},
                                                {"modules", modules}}},
                                              {"sdk_config_hash", "m1"}})));
  ::InitializationData* data = Data(true);
  InitializationData_SetWrapper(data, "unity");
  InitializationData_AddModule(data, "A", R"({"x":1,"keep":"host"})");
  InitializationData_AddModule(data, "B", "{}");
  InitializationData_AddModule(data, "C", "");
  InitializationData_AddModule(data, "G", "{}");  // no factory
  InitializationData_AddExcludedModuleName(data, "C");
  CorvaneSDKManagerRef m = Init(data);
  ASSERT_NE(m, nullptr);

  EXPECT_EQ(Record().Lines(),
            (std::vector<std::string>{R"(create A {"extra":true,"keep":"host","x":2})",
                                      R"(create D {"p":"d"})", "initialize A", "initialize D"}));
  EXPECT_NE(CorvaneSDKManager_GetModule(m, "A"), nullptr);
  EXPECT_NE(CorvaneSDKManager_GetModule(m, "D"), nullptr);
  for (const char* absent : {"B", "C", "E", "F", "G", "H"}) {
    EXPECT_EQ(CorvaneSDKManager_GetModule(m, absent), nullptr) << absent;
  }
  EXPECT_EQ(CorvaneSDKManager_GetModule(m, nullptr), nullptr);
  auto* a = static_cast<CorvaneSDKModule*>(CorvaneSDKManager_GetModule(m, "A"));
  EXPECT_EQ(a->GetName(), "A");
  EXPECT_TRUE(capture.Contains("No module factory registered for G"));
  EXPECT_TRUE(capture.Contains("module entry without a non-empty string \"type\""));
  EXPECT_TRUE(capture.Contains("a module entry is not an object"));
  EXPECT_TRUE(capture.Contains("module H: \"platforms\" is not an array"));

  Record().Clear();
  CorvaneSDKManager_Destroy();
  EXPECT_EQ(Record().Lines(), (std::vector<std::string>{"delete A", "delete D"}));
}

TEST_F(ModuleTest, FirstRegistrationOfANameStays) {
  ScopedFakeClock clock;
  Register("A", new RecordingFactory("first"));
  RecordingFactory second("second");
  CorvaneSDKManager_RegisterModuleFactory("A", &second);  // ignored: "A" is taken
  CorvaneSDKManager_RegisterModuleFactory(nullptr, &second);
  CorvaneSDKManager_RegisterModuleFactory("Z", nullptr);
  CorvaneSDKManager_UnregisterModuleFactory(nullptr, 1);
  CorvaneSDKManager_UnregisterModuleFactory("never-registered", 1);
  ::InitializationData* data = Data();
  InitializationData_AddModule(data, "A", "{}");
  InitializationData_AddModule(data, "Z", "{}");
  ASSERT_NE(Init(data), nullptr);
  EXPECT_TRUE(Record().Has("create first {}"));
  EXPECT_FALSE(Record().Has("create second {}"));
}

TEST_F(ModuleTest, FactoryReturningNullOrThrowingLeavesOnlyThatModuleOut) {
  ScopedFakeClock clock;
  LogCapture capture(kLogError);
  Register("N", new RecordingFactory("N", {}, Behaviour::kNull));
  Register("T", new RecordingFactory("T", {}, Behaviour::kThrow));
  Register("A", new RecordingFactory("A", {1}));
  ::InitializationData* data = Data();
  for (const char* name : {"N", "T", "A"}) InitializationData_AddModule(data, name, "{}");
  CorvaneSDKManagerRef m = Init(data);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(CorvaneSDKManager_GetModule(m, "N"), nullptr);
  EXPECT_EQ(CorvaneSDKManager_GetModule(m, "T"), nullptr);
  EXPECT_NE(CorvaneSDKManager_GetModule(m, "A"), nullptr);
  EXPECT_TRUE(Record().Has("run 1 A-1"));
  EXPECT_TRUE(capture.Contains("Module factory T threw"));
}

TEST_F(ModuleTest, ActionsRunOneAtATimeAndInitializationWaitsForAsynchronousDone) {
  ScopedFakeClock clock;  // the action thread's 1000 ms checks pass at once
  LogCapture capture(kLogWarning);
  Register("A", new RecordingFactory("A", {1, kAsyncAction}));
  Register("B", new RecordingFactory("B", {3}));
  ::InitializationData* data = Data();
  InitializationData_AddModule(data, "A", "{}");
  InitializationData_AddModule(data, "B", "{}");
  CorvaneSDKManager_Initialize3(data, RecordCompletion, 0);
  InitializationData_Destroy(data);

  ASSERT_TRUE(WaitFor([] { return g_pendingDone.load() != nullptr; }));
  // Waited 10 s (of the fake clock) for done: a Warning, and still nothing else runs.
  ASSERT_TRUE(WaitFor([&] { return capture.Contains("Still waiting for module A"); }));
  EXPECT_FALSE(Record().Has("run 3 B-3"));
  EXPECT_FALSE(Record().Has("complete"));
  CorvaneSDKManagerRef m = CorvaneSDKManager_GetInstance();
  ASSERT_NE(m, nullptr);
  {
    LogCapture errors(kLogError);
    EXPECT_EQ(CorvaneSDKManager_GetModule(m, "A"), nullptr);
    EXPECT_TRUE(errors.Contains("Corvane SDK Manager isn't initialized"));
  }

  std::thread([] { g_pendingDone.load()(); }).join();
  ASSERT_TRUE(WaitFor([] { return Record().Has("complete"); }));
  EXPECT_EQ(Record().Lines(),
            (std::vector<std::string>{"create A {}", "create B {}", "run 1 A-1", "run 2 A-2",
                                      "run 3 B-3", "initialize A", "initialize B", "complete"}));
  EXPECT_EQ(CorvaneSDKManager_IsInitialized(m), 1);
}

TEST_F(ModuleTest, SynchronousDoneLetsTheNextActionStartWithoutWaiting) {
  // Time never moves: a single wait of the action thread would stall initialization.
  ScopedFakeClock clock(false);
  Register("A", new RecordingFactory("A", {1, 3}));
  Register("B", new RecordingFactory("B", {4}));
  ::InitializationData* data = Data();
  InitializationData_AddModule(data, "A", "{}");
  InitializationData_AddModule(data, "B", "{}");
  ASSERT_NE(Init(data), nullptr);
  EXPECT_EQ(Record().Lines(),
            (std::vector<std::string>{"create A {}", "create B {}", "run 1 A-1", "run 3 A-3",
                                      "run 4 B-4", "initialize A", "initialize B"}));
}

TEST_F(ModuleTest, ModuleEventsTakeTheSendPath) {
  ScopedFakeClock clock;
  LogCapture capture(kLogWarning);
  Register("L", new LoggingFactory());
  ::InitializationData* data = Data();
  InitializationData_AddModule(data, "L", R"({"k":1})");
  CorvaneSDKManagerRef m = Init(data);
  ASSERT_NE(m, nullptr);
  EXPECT_TRUE(capture.Contains("actions are added from the module's constructor only"));
  auto* module = static_cast<CorvaneSDKModule*>(CorvaneSDKManager_GetModule(m, "L"));
  ASSERT_NE(module, nullptr);
  module->LogWithMapValue("module_after_start", R"({"a":"b"})", 0);
  module->LogWithStringValue("module_text", "hello", 0);
  ASSERT_TRUE(WaitForEvent("module_text"));
  ASSERT_TRUE(WaitForEvent("module_early"));
  ASSERT_TRUE(WaitForEvent("module_after_start"));
  EXPECT_EQ(ReceivedNamed("module_early")[0]["value"], Json::parse(R"({"value":5})"));
  EXPECT_EQ(ReceivedNamed("module_text")[0]["value"], Json::parse(R"({"value":"hello"})"));
  EXPECT_TRUE(WaitForEvent("module_before_start"));
}

TEST(ModuleParameters, TypedGettersReturnTheDefaultForOtherTypes) {
  CorvaneSDKModule module(nullptr, R"({"i":3,"f":2.5,"s":"3","b":true,"neg":-4,
                                       "big":3000000000,"huge":18446744073709551615})");
  EXPECT_EQ(module.GetIntParameter("i", 0), 3);
  EXPECT_EQ(module.GetIntParameter("neg", 0), -4);
  EXPECT_EQ(module.GetIntParameter("f", 9), 9);
  EXPECT_EQ(module.GetIntParameter("s", 9), 9);
  EXPECT_EQ(module.GetIntParameter("big", 9), 9);
  EXPECT_EQ(module.GetIntParameter("huge", 9), 9);
  EXPECT_EQ(module.GetIntParameter("missing", 5), 5);
  EXPECT_EQ(module.GetStringParameter("s", "d"), "3");
  EXPECT_EQ(module.GetStringParameter("i", "d"), "d");
  EXPECT_TRUE(module.GetBoolParameter("b", false));
  EXPECT_FALSE(module.GetBoolParameter("i", false));
  module.SetName("named");
  EXPECT_EQ(module.GetName(), "named");
  // No manager: logging does nothing; the base action calls done at once.
  module.Log("nowhere");
  static bool done = false;
  module.RunInitializationAction(1, "", [] { done = true; });
  EXPECT_TRUE(done);
}

TEST(ModuleParameters, ParametersThatAreNotAnObjectGiveNone) {
  const std::string texts[] = {"", "{oops", "[1,2]", "7", std::string(100000, '[')};
  for (const std::string& text : texts) {
    CorvaneSDKModule module(nullptr, text);
    EXPECT_EQ(module.GetIntParameter("0", 11), 11);
    EXPECT_EQ(module.GetStringParameter("", "d"), "d");
  }
}
