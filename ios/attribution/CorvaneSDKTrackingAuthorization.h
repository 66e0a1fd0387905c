// Tracking authorization: the status, the prompt, a completion held back while the app is not
// active, and the automatic prompt as an initialisation action. Requests made while a prompt
// is outstanding are queued and each is answered once with that prompt's result, so the
// automatic prompt's completion (which ends an initialisation action) is never dropped.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Application.h"
#include "OSVersion.h"
#include "TrackingManager.h"

namespace CorvaneSDK {
namespace Mobile {

// Thread-safe: every field of `state_` is guarded by its mutex; completions, the status sink and the port's
// prompt run outside it. Prompt answers come on platform threads; applicationDidBecomeActive
// and the initialisation action run on the main thread.
class CorvaneSDKTrackingAuthorization : public std::enable_shared_from_this<CorvaneSDKTrackingAuthorization> {
 public:
  using Completion = std::function<void(int64_t status)>;
  // The manager's `logTrackingAuthorizationStatus:`; it logs only when initialised.
  using StatusSink = std::function<void(int64_t status)>;
  // What an initialisation action is handed: call it once the action is over.
  using Finish = std::function<void()>;

  struct PortSet {
    std::shared_ptr<TrackingManagerPort> trackingManager;
    std::shared_ptr<ApplicationPort> application;
    std::shared_ptr<const OSVersionPort> osVersion;
  };
  // Null ports are the installed ones, read at each call.
  static std::shared_ptr<CorvaneSDKTrackingAuthorization> create(StatusSink sink, PortSet ports = {});

  // 0 below 14.0 or without the platform class; else the platform's status.
  int64_t getTrackingAuthorizationStatus();
  // Below 14.0 the completion gets 0 at once and nothing is logged.
  void requestTrackingAuthorization(Completion completion);
  // The app became active: a held answer is reported with the current status, and a deferred
  // automatic prompt is made (14.0 and later).
  void applicationDidBecomeActive();
  // The initialisation action: prompts when the app is active (else when it next becomes
  // active) and the status is still 0, and calls `finish` once that is over; below 14.0 it
  // finishes at once.
  void runAutomaticPrompt(Finish finish);
  // As an initialisation action for the manager's list.
  std::function<void(Finish)> automaticPromptAction();

  bool isRequesting();
  bool hasPendingCompletion();
  bool hasPendingAutomaticPrompt();

  static constexpr const char* kResultLogFormat = "Request tracking authorization result: ";

 private:
  CorvaneSDKTrackingAuthorization(StatusSink sink, PortSet ports);
  std::shared_ptr<TrackingManagerPort> trackingManager();
  std::shared_ptr<ApplicationPort> application();
  OSVersion osVersion();
  void onAnswer(int64_t status);
  void onResponse(int64_t status);
  void autoRequest(Finish finish);

  // Apart from the object so that a prompt's handler can hold it without holding the ports
  // (which may hold the handler): no cycle, and no completion lost if the object goes first.
  struct State {
    std::mutex mutex;
    bool requesting = false;
    bool holding = false;               // an answer came while the app was not active
    std::vector<Completion> waiting;    // every completion of the outstanding prompt
    std::vector<Finish> pendingAuto;    // automatic prompts waiting for the app to be active
  };
  static void answer(State& state, int64_t status);

  const StatusSink sink_;
  const PortSet ports_;
  const std::shared_ptr<State> state_;
};

}  // namespace Mobile
}  // namespace CorvaneSDK
