// Tracking authorization over the tracking-manager and application ports.
#include "CorvaneSDKTrackingAuthorization.h"

#include "CorvaneSDKLog.h"
#include "Platform.h"
#include "SKAdNetwork.h"
#include "AttributionPlatform.h"

namespace CorvaneSDK {
namespace Mobile {

namespace {
template <typename F, typename... A>
void safely(const F& f, A... args) {
  if (!f) return;
  try {
    f(args...);
  } catch (...) {
  }
}
}  // namespace

std::shared_ptr<CorvaneSDKTrackingAuthorization> CorvaneSDKTrackingAuthorization::create(StatusSink sink,
                                                                                         PortSet ports) {
  return std::shared_ptr<CorvaneSDKTrackingAuthorization>(
      new CorvaneSDKTrackingAuthorization(std::move(sink), std::move(ports)));
}

CorvaneSDKTrackingAuthorization::CorvaneSDKTrackingAuthorization(StatusSink sink, PortSet ports)
    : sink_(std::move(sink)), ports_(std::move(ports)), state_(std::make_shared<State>()) {}

std::shared_ptr<TrackingManagerPort> CorvaneSDKTrackingAuthorization::trackingManager() {
  if (ports_.trackingManager) return ports_.trackingManager;
  auto set = AttributionPlatform::current();
  return set ? set->trackingManager : nullptr;
}

std::shared_ptr<ApplicationPort> CorvaneSDKTrackingAuthorization::application() {
  if (ports_.application) return ports_.application;
  auto set = Platform::current();
  return set ? set->application : nullptr;
}

OSVersion CorvaneSDKTrackingAuthorization::osVersion() {
  if (ports_.osVersion) return ports_.osVersion->operatingSystemVersion();
  auto pair = SKAdNetworkPlatform::current();
  if (pair && pair->osVersion) return pair->osVersion->operatingSystemVersion();
  return DeviceOSVersion().operatingSystemVersion();
}

int64_t CorvaneSDKTrackingAuthorization::getTrackingAuthorizationStatus() {
  if (!osVersion().isAtLeast(14, 0)) return 0;
  auto port = trackingManager();
  if (!port || !port->classPresent() || !port->respondsToSelector(kSelTrackingAuthorizationStatus)) return 0;
  return port->trackingAuthorizationStatus();
}

void CorvaneSDKTrackingAuthorization::requestTrackingAuthorization(Completion completion) {
  if (!osVersion().isAtLeast(14, 0)) {
    safely(completion, int64_t{0});
    return;
  }
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (completion) state_->waiting.push_back(std::move(completion));
    if (state_->requesting) return;  // answered with the outstanding prompt's result
    state_->requesting = true;
  }
  auto port = trackingManager();
  if (port && port->classPresent() && port->respondsToSelector(kSelRequestTrackingAuthorization)) {
    // The state is held until the platform answers, so queued completions are always answered.
    std::weak_ptr<CorvaneSDKTrackingAuthorization> weak = weak_from_this();
    auto state = state_;
    try {
      port->requestTrackingAuthorization([weak, state](int64_t status) {
        if (auto self = weak.lock()) {
          self->onAnswer(status);
        } else {
          answer(*state, status);
        }
      });
    } catch (...) {
      // A prompt that cannot be shown must not leave the queued completions waiting.
      onAnswer(0);
    }
  } else {
    onAnswer(0);
  }
}

void CorvaneSDKTrackingAuthorization::onAnswer(int64_t status) {
  if (status == 2) {
    auto app = application();
    auto port = trackingManager();
    int64_t current = port ? port->trackingAuthorizationStatus() : 0;
    if (current == 0 && app && app->applicationState() != ApplicationState::Active) {
      // The user never saw the prompt; the real answer is read once the app is active.
      {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->holding = true;
      }
      // The app may have become active between the check and the holding.
      if (app->applicationState() == ApplicationState::Active) {
        bool stillHeld;
        {
          std::lock_guard<std::mutex> lock(state_->mutex);
          stillHeld = state_->holding;
          state_->holding = false;
        }
        if (stillHeld) onResponse(getTrackingAuthorizationStatus());
      }
      return;
    }
  }
  onResponse(status);
}

void CorvaneSDKTrackingAuthorization::onResponse(int64_t status) {
  CorvaneSDKLog::debug(kResultLogFormat + std::to_string(static_cast<uint64_t>(status)));
  safely(sink_, status);
  answer(*state_, status);
}

void CorvaneSDKTrackingAuthorization::answer(State& state, int64_t status) {
  std::vector<Completion> answered;
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    answered.swap(state.waiting);
    state.requesting = false;
    state.holding = false;
  }
  for (auto& completion : answered) safely(completion, status);
}

void CorvaneSDKTrackingAuthorization::applicationDidBecomeActive() {
  bool held;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    held = state_->holding;
    state_->holding = false;
  }
  if (held) onResponse(getTrackingAuthorizationStatus());
  if (!osVersion().isAtLeast(14, 0)) return;
  std::vector<Finish> automatic;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    automatic.swap(state_->pendingAuto);
  }
  for (auto& finish : automatic) autoRequest(std::move(finish));
}

void CorvaneSDKTrackingAuthorization::runAutomaticPrompt(Finish finish) {
  if (!osVersion().isAtLeast(14, 0)) {
    safely(finish);
    return;
  }
  auto app = application();
  // Without an application port nobody would ever report it active.
  if (!app || app->applicationState() == ApplicationState::Active) {
    autoRequest(std::move(finish));
    return;
  }
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->pendingAuto.push_back(std::move(finish));
  }
  // The app may have become active between the check and the queueing.
  if (app->applicationState() == ApplicationState::Active) {
    std::vector<Finish> automatic;
    {
      std::lock_guard<std::mutex> lock(state_->mutex);
      automatic.swap(state_->pendingAuto);
    }
    for (auto& f : automatic) autoRequest(std::move(f));
  }
}

std::function<void(CorvaneSDKTrackingAuthorization::Finish)> CorvaneSDKTrackingAuthorization::automaticPromptAction() {
  std::weak_ptr<CorvaneSDKTrackingAuthorization> weak = weak_from_this();
  return [weak](Finish finish) {
    if (auto self = weak.lock()) {
      self->runAutomaticPrompt(std::move(finish));
    } else {
      safely(finish);
    }
  };
}

void CorvaneSDKTrackingAuthorization::autoRequest(Finish finish) {
  if (getTrackingAuthorizationStatus() != 0) {
    safely(finish);
    return;
  }
  auto once = std::make_shared<Finish>(std::move(finish));
  requestTrackingAuthorization([once](int64_t) {
    Finish f;
    f.swap(*once);
    safely(f);
  });
}

bool CorvaneSDKTrackingAuthorization::isRequesting() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->requesting;
}

bool CorvaneSDKTrackingAuthorization::hasPendingCompletion() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->holding;
}

bool CorvaneSDKTrackingAuthorization::hasPendingAutomaticPrompt() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return !state_->pendingAuto.empty();
}

}  // namespace Mobile
}  // namespace CorvaneSDK
