// The installed attribution ports.
#include "AttributionPlatform.h"

#include <mutex>

namespace CorvaneSDK {
namespace Mobile {

namespace {
std::mutex& setMutex() {
  static std::mutex* m = new std::mutex();  // never destroyed: used during static teardown
  return *m;
}
std::shared_ptr<const AttributionPorts>& installedSet() {
  static auto* p = new std::shared_ptr<const AttributionPorts>();
  return *p;
}
}  // namespace

AttributionPorts AttributionPlatform::portable() {
  AttributionPorts ports;
  ports.storeKit = std::make_shared<SettableStoreKit>();
  auto tracking = std::make_shared<SettableTrackingManager>(true, 0);
  tracking->setAnswer(0, true);
  ports.trackingManager = tracking;
  ports.adServices = std::make_shared<SettableAdServices>();
  return ports;
}

std::shared_ptr<const AttributionPorts> AttributionPlatform::current() {
  std::lock_guard<std::mutex> lock(setMutex());
  auto& slot = installedSet();
  if (!slot) slot = std::make_shared<const AttributionPorts>(portable());
  return slot;
}

void AttributionPlatform::install(std::shared_ptr<const AttributionPorts> ports) {
  std::shared_ptr<const AttributionPorts> previous;
  {
    std::lock_guard<std::mutex> lock(setMutex());
    previous = std::move(installedSet());
    installedSet() = std::move(ports);
  }
  // `previous` is released here, outside the lock.
}

}  // namespace Mobile
}  // namespace CorvaneSDK
