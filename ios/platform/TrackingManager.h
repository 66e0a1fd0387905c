// The tracking-manager port (ATTrackingManager on Apple): the current authorization status and
// the prompt. SettableTrackingManager is both the portable implementation (the host sets the
// status and the answer a prompt gets) and the test double (prompts can be held and answered
// later, from any thread).
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace CorvaneSDK {
namespace Mobile {

constexpr const char* kTrackingManagerClassName = "ATTrackingManager";
constexpr const char* kSelRequestTrackingAuthorization = "requestTrackingAuthorizationWithCompletionHandler:";
constexpr const char* kSelTrackingAuthorizationStatus = "trackingAuthorizationStatus";

// The platform's status values: 0 not determined, 1 restricted, 2 denied, 3 authorized.
using TrackingAuthorizationHandler = std::function<void(int64_t status)>;

// Thread-safe. The prompt's handler may run on any thread, before or after the call returns.
class TrackingManagerPort {
 public:
  virtual ~TrackingManagerPort() = default;
  // The by-name lookup of the class, made once per port.
  bool classPresent();
  virtual bool respondsToSelector(const std::string& selector) = 0;
  virtual int64_t trackingAuthorizationStatus() = 0;
  virtual void requestTrackingAuthorization(TrackingAuthorizationHandler handler) = 0;

 protected:
  virtual bool lookUpClass() = 0;

 private:
  std::once_flag lookedUp_;
  bool present_ = false;
};

// A prompt is answered at once with the set answer (which also becomes the status, as the
// platform's does once the user chose), unless prompts are held: then it waits for answer().
class SettableTrackingManager : public TrackingManagerPort {
 public:
  explicit SettableTrackingManager(bool present = true, int64_t status = 0) : present_(present), status_(status) {}
  bool respondsToSelector(const std::string& selector) override;
  int64_t trackingAuthorizationStatus() override;
  void requestTrackingAuthorization(TrackingAuthorizationHandler handler) override;

  void setStatus(int64_t status);
  // `updatesStatus` false models the answer that comes without the prompt being shown (the app
  // was not active): the handler hears it while the status stays as it was.
  void setAnswer(int64_t answer, bool updatesStatus = true);
  void setHoldsPrompts(bool holds);
  void setResponds(bool responds);
  // Answers every held prompt, on the calling thread; returns how many.
  int answerHeld(int64_t answer, bool updatesStatus = true);
  int heldCount();
  int promptsShown();

 protected:
  bool lookUpClass() override { return present_; }

 private:
  const bool present_;
  std::mutex mutex_;
  int64_t status_;
  int64_t answer_ = 3;
  bool answerUpdatesStatus_ = true;
  bool holds_ = false;
  bool responds_ = true;
  int shown_ = 0;
  std::vector<TrackingAuthorizationHandler> held_;
};

}  // namespace Mobile
}  // namespace CorvaneSDK
