// The installed StoreKit, tracking-manager and ad-services ports, apart from Platform's set
// so that it grows without touching it (as SKAdNetworkPlatform). Callers keep the shared
// pointers they use; installing a new set never frees a port under a call.
#pragma once

#include <memory>

#include "AdServices.h"
#include "StoreKit.h"
#include "TrackingManager.h"

namespace CorvaneSDK {
namespace Mobile {

struct AttributionPorts {
  std::shared_ptr<StoreKitPort> storeKit;
  std::shared_ptr<TrackingManagerPort> trackingManager;
  std::shared_ptr<AdServicesPort> adServices;
};

class AttributionPlatform {
 public:
  static std::shared_ptr<const AttributionPorts> current();
  // Null goes back to the portable set.
  static void install(std::shared_ptr<const AttributionPorts> ports);
  // Host-driven store, a tracking manager whose prompt nobody answers (status and answer 0),
  // ad services that fail with "not supported".
  static AttributionPorts portable();
};

}  // namespace Mobile
}  // namespace CorvaneSDK
