// The delivery engine: turns each logged event into its wire map, keeps the maps in one
// ordered queue mirrored to a file (CorvaneSDKEventQueue) and uploads the queue in batches of
// at most 50 (CorvaneSDKUploader); it owns the flush triggers, the timer, the background task
// and the notifications. The device context (the "$" keys) is its own object.
// Thread contract: every public function is thread-safe. Queue work runs on the serial queue
// "com.corvane.sdk.manager"; the flush timer and the notifications run on the main queue; the
// manager's onSendEvent and onFinishFlush run on a queue of their own, so the manager may call
// back into the engine from them. No host code runs on the serial queue except the manager's
// getters (checkReady, getUserId, getSessionId, getHost, getCredential), which must not wait.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "CorvaneSDKDeviceContext.h"
#include "CorvaneSDKEventQueue.h"
#include "CorvaneSDKUploader.h"
#include "Dispatch.h"
#include "Value.h"

namespace CorvaneSDK {
namespace Mobile {

class CorvaneSDKBackgroundTask;
class CorvaneSDKConfiguration;
class CorvaneSDKFileStorage;
class CorvaneSDKHTTPClient;
class CorvaneSDKIntegrationHost;
class CorvaneSDKLogOperation;
class CorvaneSDKUserDefaultsStorage;
class Timer;

constexpr const char* kCorvaneSDKLegacyQueueDefaultsKey = "CorvaneSDKQueue";
constexpr const char* kCorvaneSDKFlushBackgroundTaskName = "CorvaneSDKManager.Flush";

class CorvaneSDKManagerIntegration : public std::enable_shared_from_this<CorvaneSDKManagerIntegration> {
 public:
  static std::shared_ptr<CorvaneSDKManagerIntegration> create(
      std::weak_ptr<CorvaneSDKIntegrationHost> manager, std::shared_ptr<const CorvaneSDKConfiguration> configuration,
      std::shared_ptr<CorvaneSDKHTTPClient> httpClient, std::shared_ptr<CorvaneSDKFileStorage> fileStorage,
      std::shared_ptr<CorvaneSDKUserDefaultsStorage> userDefaultsStorage);
  static std::shared_ptr<CorvaneSDKManagerIntegration> init(
      std::weak_ptr<CorvaneSDKIntegrationHost> manager, std::shared_ptr<const CorvaneSDKConfiguration> configuration,
      std::shared_ptr<CorvaneSDKHTTPClient> httpClient, std::shared_ptr<CorvaneSDKFileStorage> fileStorage,
      std::shared_ptr<CorvaneSDKUserDefaultsStorage> userDefaultsStorage) {
    return create(std::move(manager), std::move(configuration), std::move(httpClient), std::move(fileStorage),
                  std::move(userDefaultsStorage));
  }
  ~CorvaneSDKManagerIntegration();
  CorvaneSDKManagerIntegration(const CorvaneSDKManagerIntegration&) = delete;
  CorvaneSDKManagerIntegration& operator=(const CorvaneSDKManagerIntegration&) = delete;

  void start();
  void pause();
  void resume();
  void reset() {}  // nothing to do in this engine
  void flush();
  void flushWithMaxSize(size_t n);
  void flushQueueByLength();
  // Waits for the serial queue (loads the queue when it is not loaded yet).
  size_t getQueueSize();

  void log(std::shared_ptr<const CorvaneSDKLogOperation> event);
  Value generateDictionary(const CorvaneSDKLogOperation& event, bool addProcessId);
  void enqueueEvent(Value map);

  static Value staticContext(const CorvaneSDKConfiguration& c) { return CorvaneSDKDeviceContext::build(c); }
  // Null when the key is absent.
  Value getContextValue(const std::string& key) { return context_->get(key); }
  void setContextValue(const std::string& key, const Value& value) { context_->set(key, value); }
  // Recomputes "local_ip", "network_type" and "sim_operator".
  void refresh() { context_->refresh(); }
  Value contextSnapshot() { return context_->snapshot(); }

  void applicationDidEnterBackground();
  void applicationWillTerminate();
  // Hooks that do nothing in this engine.
  void receivedRemoteNotification(const Value&) {}
  void failedToRegisterForRemoteNotificationsWithError(const std::string&) {}
  void registeredForRemoteNotificationsWithDeviceToken(const std::vector<uint8_t>&) {}
  void handleActionWithIdentifier(const std::string&, const Value&) {}
  void continueUserActivity(const Value&) {}
  void openURL(const std::string&, const Value&) {}

  // On the serial queue: inline when already there, else async / waiting.
  void dispatchBackground(Task task) { dispatchOn(*serialQueue_, std::move(task), false); }
  void dispatchBackgroundAndWait(Task task) { dispatchOn(*serialQueue_, std::move(task), true); }

  // "<0x…:CorvaneSDKManagerIntegration, appId>"
  std::string description() const { return description_; }

  bool hasStarted() const { return hasStarted_.load(); }
  bool isPaused() const { return isPaused_.load(); }
  uint64_t flushAt() const { return flushAt_; }
  double flushInterval() const { return flushInterval_; }
  uint64_t maxQueueSize() const { return maxQueueSize_; }
  // The wire maps of the queue, oldest first (waits for the serial queue).
  Value queueSnapshot();
  // Whole-queue file writes so far (for the persistence tests and benchmarks).
  uint64_t persistCount() const { return queue_->persistCount(); }

 private:
  CorvaneSDKManagerIntegration() = default;
  std::shared_ptr<CorvaneSDKIntegrationHost> host() const { return manager_.lock(); }
  // All below run on the serial queue.
  void flushOnQueue(size_t n);
  void onFinishSend(bool flushAgain);
  void post(const std::string& name, Value object, Value userInfo);
  void callManager(std::function<void(CorvaneSDKIntegrationHost&)> call);

  void addFlushScheduler();
  void removeFlushScheduler();

  std::string description_;
  std::weak_ptr<CorvaneSDKIntegrationHost> manager_;
  std::shared_ptr<const CorvaneSDKConfiguration> configuration_;
  uint64_t flushAt_ = 20;
  double flushInterval_ = 30.0;
  uint64_t maxQueueSize_ = 5000;
  std::shared_ptr<CorvaneSDKUserDefaultsStorage> userDefaultsStorage_;
  std::unique_ptr<CorvaneSDKDeviceContext> context_;
  // Declared before the dispatch queues, so that they go later: a queue's destruction runs
  // or finishes its work, which may still reach the queue and the uploader.
  std::shared_ptr<CorvaneSDKEventQueue> queue_;
  std::unique_ptr<CorvaneSDKUploader> uploader_;
  std::shared_ptr<MainQueue> mainQueue_;
  std::shared_ptr<DispatchQueue> serialQueue_;
  std::shared_ptr<DispatchQueue> callbackQueue_;

  std::atomic<bool> hasStarted_{false};
  std::atomic<bool> isPaused_{false};

  std::mutex timerMutex_;
  std::shared_ptr<Timer> flushTimer_;
  std::shared_ptr<CorvaneSDKBackgroundTask> backgroundTask_;
};

}  // namespace Mobile
}  // namespace CorvaneSDK
