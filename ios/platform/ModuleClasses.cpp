// The portable module-class registry.
#include "ModuleClasses.h"

namespace CorvaneSDK {
namespace Mobile {

ModuleFactory ModuleClassRegistry::lookUpClass(const std::string& className) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = classes_.find(className);
  return found == classes_.end() ? ModuleFactory() : found->second;
}

void ModuleClassRegistry::registerClass(const std::string& className, ModuleFactory factory) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (factory) {
    classes_[className] = std::move(factory);
  } else {
    classes_.erase(className);
  }
}

}  // namespace Mobile
}  // namespace CorvaneSDK
