// The exported module base classes: parameters, naming and event logging.
#include "CorvaneSDKModule.h"

#include "CorvaneSDKManager.h"
#include "Event.h"
#include "Interface.h"
#include "Json.h"
#include "ModuleRegistry.h"

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

void CorvaneSDKModule::SetName(const std::string& name) { d_->name = name; }
std::string CorvaneSDKModule::GetName() const { return d_->name; }

int CorvaneSDKModule::GetIntParameter(const std::string& key, int defaultValue) const {
  auto it = d_->parameters.find(key);
  if (it == d_->parameters.end() || !it->is_number_integer()) return defaultValue;
  return it->get<int>();
}

std::string CorvaneSDKModule::GetStringParameter(const std::string& key,
                                                 const std::string& defaultValue) const {
  return JsonString(d_->parameters, key.c_str(), defaultValue);
}

bool CorvaneSDKModule::GetBoolParameter(const std::string& key, bool defaultValue) const {
  return JsonBool(d_->parameters, key.c_str(), defaultValue);
}

namespace {
template <typename Fill>
void ModuleLog(const void* manager, const std::string& name, int flags, Fill fill) {
  std::shared_ptr<CorvaneSDKManager> live = LiveManager(manager);
  if (!live || !live->IsInitialized()) return;
  Event* event = Event::Acquire(name);
  fill(*event);
  event->flags = flags;
  live->SendEvent(event);
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
  // The manager is alive while it creates modules; it holds the list until it runs it.
  CorvaneSDKManager* manager =
      static_cast<CorvaneSDKManager*>(const_cast<void*>(d_->manager));
  if (manager != nullptr) manager->AddModuleInitializationAction(this, action, parameters);
}

CorvaneSDKModuleFactory::~CorvaneSDKModuleFactory() {}

}  // namespace CorvaneSDK
