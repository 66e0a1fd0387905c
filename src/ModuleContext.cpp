// The module's way to the SDK: the creating scope and the action tickets.
#include "ModuleContext.h"

#include <mutex>
#include <set>

#include "Logger.h"

namespace CorvaneSDK {
namespace {

struct Creating {
  const void* handle = nullptr;
  ModuleActionSink* sink = nullptr;
};
thread_local Creating t_creating;

struct Tickets {
  std::mutex mutex;
  uint64_t next = 1;
  std::set<uint64_t> open;
};
Tickets& T() {
  static Tickets* tickets = new Tickets();  // leaked: a done may come during exit
  return *tickets;
}

}  // namespace

CreatingModulesScope::CreatingModulesScope(const void* handle, ModuleActionSink* sink) {
  t_creating = Creating{handle, sink};
}

CreatingModulesScope::~CreatingModulesScope() { t_creating = Creating(); }

void AddInitializationActionFromModule(const void* handle, CorvaneSDKModule* module,
                                       const std::string& moduleName, int action,
                                       const std::string& parameters) {
  if (handle == nullptr || handle != t_creating.handle || t_creating.sink == nullptr) {
    CORVANE_LOG_WARNING("Initialization action " << action << " of module " << moduleName
                                                 << " ignored: actions are added from the "
                                                    "module's constructor only");
    return;
  }
  t_creating.sink->AddModuleAction(module, action, parameters);
}

namespace ActionTickets {

uint64_t Open() {
  std::lock_guard<std::mutex> lock(T().mutex);
  const uint64_t ticket = T().next++;
  T().open.insert(ticket);
  return ticket;
}

bool IsOpen(uint64_t ticket) {
  std::lock_guard<std::mutex> lock(T().mutex);
  return T().open.count(ticket) != 0;
}

void Close(uint64_t ticket) {
  std::lock_guard<std::mutex> lock(T().mutex);
  T().open.erase(ticket);
}

void* Context(uint64_t ticket) { return reinterpret_cast<void*>(static_cast<uintptr_t>(ticket)); }

void Done(void* context) { Close(static_cast<uint64_t>(reinterpret_cast<uintptr_t>(context))); }

}  // namespace ActionTickets
}  // namespace CorvaneSDK
