// The exported module base classes: parameters, naming, event logging and initialization
// actions. A module reaches its manager only through the live-instance check, so a module
// kept past Destroy logs nothing instead of touching a freed manager.
#include "CorvaneSDKModule.h"

#include <climits>
#include <mutex>

#include "Event.h"
#include "InterfaceState.h"
#include "Json.h"
#include "Logger.h"
#include "ModuleContext.h"

namespace CorvaneSDK {

struct CorvaneSDKModulePrivate {
  const void* manager = nullptr;
  Json parameters = Json::object();
  std::string name;
};

CorvaneSDKModule::CorvaneSDKModule(const void* manager, const std::string& parameters)
    : d_(new CorvaneSDKModulePrivate()) {
  d_->manager = manager;
  Json parsed;
  if (ParseJson(parameters, parsed) && parsed.is_object()) d_->parameters = std::move(parsed);
}

CorvaneSDKModule::~CorvaneSDKModule() { delete d_; }

void CorvaneSDKModule::Initialize() {}

void CorvaneSDKModule::RunInitializationAction(int, const std::string&, void (*done)()) {
  if (done != nullptr) done();
}

namespace {
// The action that a done without context ends: the one handed to a module of the older
// interface most recently (actions run one at a time).
std::mutex& LegacyMutex() {
  static std::mutex* mutex = new std::mutex();
  return *mutex;
}
void (*g_legacyDone)(void*) = nullptr;
void* g_legacyContext = nullptr;

void LegacyDone() {
  void (*done)(void*);
  void* context;
  {
    std::lock_guard<std::mutex> lock(LegacyMutex());
    done = g_legacyDone;
    context = g_legacyContext;
  }
  if (done != nullptr) done(context);
}
}  // namespace

void CorvaneSDKModule::RunInitializationActionWithContext(int action, const std::string& parameters,
                                                          void (*done)(void*), void* context) {
  {
    std::lock_guard<std::mutex> lock(LegacyMutex());
    g_legacyDone = done;
    g_legacyContext = context;
  }
  RunInitializationAction(action, parameters, &LegacyDone);
}

void CorvaneSDKModule::SetName(const std::string& name) { d_->name = name; }
std::string CorvaneSDKModule::GetName() const { return d_->name; }

int CorvaneSDKModule::GetIntParameter(const std::string& key, int defaultValue) const {
  auto it = d_->parameters.find(key);
  if (it == d_->parameters.end() || !it->is_number_integer()) return defaultValue;
  if (it->is_number_unsigned()) {
    const auto value = it->get<uint64_t>();
    return value <= static_cast<uint64_t>(INT_MAX) ? static_cast<int>(value) : defaultValue;
  }
  const auto value = it->get<int64_t>();
  return value >= INT_MIN && value <= INT_MAX ? static_cast<int>(value) : defaultValue;
}

std::string CorvaneSDKModule::GetStringParameter(const std::string& key,
                                                 const std::string& defaultValue) const {
  return JsonString(d_->parameters, key.c_str(), defaultValue);
}

bool CorvaneSDKModule::GetBoolParameter(const std::string& key, bool defaultValue) const {
  return JsonBool(d_->parameters, key.c_str(), defaultValue);
}

namespace {
// Exported members keep every exception inside, like the C interface.
template <typename Fill>
void ModuleLog(const void* manager, const std::string& name, int flags, Fill fill) {
  try {
    std::shared_ptr<ModuleContext> live = Instance::LiveModuleContext(manager);
    if (!live) return;
    EventPtr event = Event::Acquire(name);
    fill(*event);
    event->flags = flags;
    live->LogModuleEvent(std::move(event));
  } catch (const std::exception& e) {
    CORVANE_LOG_ERROR("Module event " << name << " not logged: " << e.what());
  } catch (...) {
    CORVANE_LOG_ERROR("Module event " << name << " not logged");
  }
}
}  // namespace

void CorvaneSDKModule::Log(const std::string& eventName) {
  ModuleLog(d_->manager, eventName, 0, [](Event&) {});
}
void CorvaneSDKModule::LogWithIntValue(const std::string& eventName, int value, int flags) {
  ModuleLog(d_->manager, eventName, flags, [&](Event& e) { e.SetIntValue(value); });
}
void CorvaneSDKModule::LogWithStringValue(const std::string& eventName, const std::string& value,
                                          int flags) {
  ModuleLog(d_->manager, eventName, flags, [&](Event& e) { e.SetStringValue(value); });
}
void CorvaneSDKModule::LogWithJsonValue(const std::string& eventName, const std::string& json,
                                        int flags) {
  ModuleLog(d_->manager, eventName, flags, [&](Event& e) { e.SetJsonValue(json); });
}
void CorvaneSDKModule::LogWithMapValue(const std::string& eventName, const std::string& map,
                                       int flags) {
  ModuleLog(d_->manager, eventName, flags, [&](Event& e) { e.SetMapValue(map); });
}

void CorvaneSDKModule::AddInitializationAction(int action) { AddInitializationAction(action, ""); }

void CorvaneSDKModule::AddInitializationAction(int action, const std::string& parameters) {
  try {
    AddInitializationActionFromModule(d_->manager, this, d_->name, action, parameters);
  } catch (...) {
    CORVANE_LOG_ERROR("Initialization action " << action << " not added");
  }
}

CorvaneSDKModuleFactory::~CorvaneSDKModuleFactory() {}

}  // namespace CorvaneSDK
