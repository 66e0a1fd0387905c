// The by-name class lookup for plug-in modules (the run-time class system on Apple). A host
// links a module in by registering its class name with a factory; a name nobody registered is
// missing, as a class that is not linked in. ModuleClassRegistry is both the portable
// implementation and the test double.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "Value.h"

namespace CorvaneSDK {
namespace Mobile {

// What a module class makes; the host's module derives from it.
class PlatformModule {
 public:
  virtual ~PlatformModule() = default;
};

// Called with the module's configured data (an empty map when none).
using ModuleFactory = std::function<std::shared_ptr<PlatformModule>(const Value& data)>;

// Thread-safe.
class ModuleClassesPort {
 public:
  virtual ~ModuleClassesPort() = default;
  // Empty when no class of that name is present.
  virtual ModuleFactory lookUpClass(const std::string& className) = 0;
};

class ModuleClassRegistry : public ModuleClassesPort {
 public:
  ModuleFactory lookUpClass(const std::string& className) override;
  void registerClass(const std::string& className, ModuleFactory factory);

 private:
  std::mutex mutex_;
  std::map<std::string, ModuleFactory> classes_;
};

}  // namespace Mobile
}  // namespace CorvaneSDK
