// Module creation, initialization actions and module lifetime.
#include "ModuleHost.h"

#include <algorithm>

#include "Env.h"
#include "CorvaneSDKModule.h"
#include "InterfaceState.h"
#include "Logger.h"

namespace CorvaneSDK {

ModuleHost::~ModuleHost() { DeleteAll(); }

void ModuleHost::DeleteAll() {
  for (CorvaneSDKModule* module : modules_) {
    try {
      delete module;
    } catch (...) {
      CORVANE_LOG_ERROR("A module threw from its destructor");
    }
  }
  modules_.clear();
  actions_.clear();
}

void ModuleHost::Create(const std::vector<ModuleSpec>& specs,
                        const std::vector<std::string>& excluded) {
  std::vector<std::string> created;
  {
    CreatingModulesScope creating(handle_, this);
    for (const ModuleSpec& spec : specs) {
      if (spec.name.empty()) continue;
      if (std::find(excluded.begin(), excluded.end(), spec.name) != excluded.end()) {
        CORVANE_LOG_DEBUG("Module " << spec.name << " excluded");
        continue;
      }
      if (std::find(created.begin(), created.end(), spec.name) != created.end()) continue;
      auto factory = ModuleFactories().find(spec.name);
      if (factory == ModuleFactories().end() || factory->second == nullptr) {
        CORVANE_LOG_WARNING("No module factory registered for " << spec.name);
        continue;
      }
      created.push_back(spec.name);
      const std::string parameters = spec.parameters.is_null() ? "" : DumpJson(spec.parameters);
      CorvaneSDKModule* module = nullptr;
      try {
        CallbackScope scope;
        module = factory->second->CreateModule(handle_, parameters);
      } catch (...) {
        CORVANE_LOG_ERROR("Module factory " << spec.name << " threw");
        module = nullptr;
      }
      if (module == nullptr) continue;
      if (std::find(modules_.begin(), modules_.end(), module) != modules_.end()) {
        // Owning it twice would delete it twice.
        CORVANE_LOG_ERROR("Module factory " << spec.name << " returned a module already created");
        continue;
      }
      module->SetName(spec.name);
      modules_.push_back(module);
      CORVANE_LOG_DEBUG("Module " << spec.name << " created");
    }
  }
  created_ = true;
  // Actions of a module the factory then dropped would run on a module nobody owns.
  actions_.erase(std::remove_if(actions_.begin(), actions_.end(),
                                [this](const Action& entry) {
                                  return std::find(modules_.begin(), modules_.end(),
                                                   entry.module) == modules_.end();
                                }),
                 actions_.end());
}

void ModuleHost::AddModuleAction(CorvaneSDKModule* module, int action,
                                 const std::string& parameters) {
  if (module == nullptr || created_) return;
  actions_.push_back(Action{module, action, parameters});
}

bool ModuleHost::RunActions(const std::atomic<bool>& abandoned, Interrupt* cancel,
                            Env& env) {
  for (const Action& entry : actions_) {
    if (abandoned) return false;
    const uint64_t ticket = ActionTickets::Open();
    const std::string name = entry.module->GetName();
    try {
      CallbackScope scope;
      entry.module->RunInitializationActionWithContext(entry.action, entry.parameters,
                                                       &ActionTickets::Done,
                                                       ActionTickets::Context(ticket));
    } catch (...) {
      CORVANE_LOG_ERROR("Module " << name << " threw from an initialization action");
      ActionTickets::Close(ticket);
    }
    int waitedSeconds = 0;
    while (ActionTickets::IsOpen(ticket)) {
      if (abandoned) {
        ActionTickets::Close(ticket);
        return false;
      }
      env.GetClock().Sleep(1000, cancel);
      if (++waitedSeconds % 10 == 0 && ActionTickets::IsOpen(ticket)) {
        CORVANE_LOG_WARNING("Still waiting for module " << name << " to finish initialization action "
                                                        << entry.action << " (" << waitedSeconds
                                                        << " s)");
      }
    }
  }
  return true;
}

bool ModuleHost::InitializeAll(const std::atomic<bool>& abandoned) {
  for (CorvaneSDKModule* module : modules_) {
    if (abandoned) return false;
    try {
      CallbackScope scope;
      module->Initialize();
    } catch (...) {
      CORVANE_LOG_ERROR("Module " << module->GetName() << " threw from Initialize");
    }
  }
  return true;
}

CorvaneSDKModule* ModuleHost::Find(const std::string& name) const {
  for (CorvaneSDKModule* module : modules_) {
    if (module->GetName() == name) return module;
  }
  return nullptr;
}

}  // namespace CorvaneSDK
