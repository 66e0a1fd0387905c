// The delivery engine: turns each logged event into its wire map, keeps the maps in one
// ordered queue mirrored to the file "corvane.sdk.queue.plist", and uploads the queue in
// batches of at most 50. The device context (the "$" keys) is its own object.
// Thread contract: every public function is thread-safe. Queue work runs on the serial queue
// "com.corvane.sdk.manager"; the flush timer and the notifications run on the main queue; the
// manager's onSendEvent and onFinishFlush run on a queue of their own, so the manager may call
// back into the engine from them. No host code runs on the serial queue except the manager's
// getters (checkReady, getUserId, getSessionId, getHost, getCredential), which must not wait.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Application.h"
#include "CorvaneSDKDeviceContext.h"
#include "CorvaneSDKWireFormat.h"
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
class ReachabilityMonitor;
class TelephonyNetworkInfo;
class HTTPTask;
class Timer;
struct CorvaneSDKUploadOutcome;

constexpr const char* kCorvaneSDKQueueStorageKey = "corvane.sdk.queue.plist";
constexpr const char* kCorvaneSDKLegacyQueueDefaultsKey = "CorvaneSDKQueue";
constexpr const char* kCorvaneSDKFlushBackgroundTaskName = "CorvaneSDKManager.Flush";
constexpr const char* kCorvaneSDKDidSendRequestNotification = "CorvaneSDKDidSendRequest";
constexpr const char* kCorvaneSDKRequestDidSucceedNotification = "CorvaneSDKRequestDidSucceed";
constexpr const char* kCorvaneSDKRequestDidFailNotification = "CorvaneSDKRequestDidFail";
constexpr size_t kCorvaneSDKMaxBatchSize = 50;
// While every batch, even of one event, is rejected: the first wait, doubled per round, capped.
constexpr int64_t kCorvaneSDKRejectionWaitMs = 30000;
constexpr int64_t kCorvaneSDKRejectionWaitMaxMs = 600000;

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
  void reset();  // nothing to do in this engine
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
  void receivedRemoteNotification(const Value& userInfo);
  void failedToRegisterForRemoteNotificationsWithError(const std::string& error);
  void registeredForRemoteNotificationsWithDeviceToken(const std::vector<uint8_t>& token);
  void handleActionWithIdentifier(const std::string& identifier, const Value& userInfo);
  void continueUserActivity(const Value& activity);
  void openURL(const std::string& url, const Value& options);

  // On the serial queue: inline when already there, else async / waiting.
  void dispatchBackground(Task task);
  void dispatchBackgroundAndWait(Task task);

  // "<0x…:CorvaneSDKManagerIntegration, appId>"
  std::string description() const;

  bool hasStarted() const { return hasStarted_.load(); }
  bool isPaused() const { return isPaused_.load(); }
  uint64_t flushAt() const { return flushAt_; }
  double flushInterval() const { return flushInterval_; }
  uint64_t maxQueueSize() const { return maxQueueSize_; }
  // The wire maps of the queue, oldest first (waits for the serial queue).
  Value queueSnapshot();
  // Whole-queue file writes so far (for the persistence tests and benchmarks).
  uint64_t persistCount() const { return persistCount_.load(); }

 private:
  using Entry = CorvaneSDKQueuedEvent;

  CorvaneSDKManagerIntegration() = default;
  std::shared_ptr<CorvaneSDKIntegrationHost> host() const;
  // All below run on the serial queue.
  std::deque<Entry>& queue();
  void preprocessQueue(Value& list);
  void queueEvent(Entry entry);
  void persistQueue();
  void schedulePersist();
  void flushOnQueue(size_t n);
  void sendData(const std::vector<Entry>& batch);
  void onUploadFinished(const std::vector<Entry>& batch, const CorvaneSDKUploadOutcome& outcome);
  void onFinishSend(bool success, bool flushAgain);
  void removeBatch(const std::vector<Entry>& batch);
  void endIsolationWhenCleared();
  void post(const std::string& name, Value object, Value userInfo);
  void callManager(std::function<void(CorvaneSDKIntegrationHost&)> call);

  void addFlushScheduler();
  void removeFlushScheduler();
  void beginBackgroundTask();
  void endBackgroundTask();

  std::string description_;
  std::weak_ptr<CorvaneSDKIntegrationHost> manager_;
  std::shared_ptr<const CorvaneSDKConfiguration> configuration_;
  std::shared_ptr<ApplicationPort> application_;
  std::string appId_;
  uint64_t flushAt_ = 20;
  double flushInterval_ = 30.0;
  uint64_t maxQueueSize_ = 5000;
  std::shared_ptr<CorvaneSDKHTTPClient> httpClient_;
  std::shared_ptr<CorvaneSDKFileStorage> fileStorage_;
  std::shared_ptr<CorvaneSDKUserDefaultsStorage> userDefaultsStorage_;
  std::unique_ptr<CorvaneSDKDeviceContext> context_;
  std::shared_ptr<const Clock> clock_;
  std::shared_ptr<MainQueue> mainQueue_;
  std::shared_ptr<DispatchQueue> serialQueue_;
  std::shared_ptr<DispatchQueue> callbackQueue_;

  // Serial queue state.
  bool loaded_ = false;
  std::deque<Entry> queue_;
  uint64_t nextSeq_ = 1;
  bool dirty_ = false;
  bool persistScheduled_ = false;
  std::shared_ptr<HTTPTask> batchRequest_;
  bool inFlight_ = false;
  // After an upload that is to be retried, reaching the flush length starts nothing: the next
  // attempt waits for the timer, an explicit flush or the background, so a failing server
  // sees one attempt per flush interval however fast the host logs.
  bool retryHeld_ = false;
  uint64_t uploadGen_ = 0;
  int32_t curProcessId_ = 0;
  // Isolation of rejected events: batches shrink to `batchLimit_` while the events up to
  // `suspectEndSeq_` are not cleared.
  bool rejecting_ = false;
  bool acceptedSinceRejection_ = false;
  size_t batchLimit_ = kCorvaneSDKMaxBatchSize;
  uint64_t suspectEndSeq_ = 0;
  uint64_t heldSeq_ = 0;  // a lone rejected event passed over once to probe the server
  int rejectionWaits_ = 0;
  int64_t notBeforeMs_ = 0;

  std::atomic<int32_t> lastProcessId_{0};
  std::atomic<bool> hasStarted_{false};
  std::atomic<bool> isPaused_{false};
  std::atomic<uint64_t> persistCount_{0};

  std::mutex timerMutex_;
  std::shared_ptr<Timer> flushTimer_;
  std::shared_ptr<CorvaneSDKBackgroundTask> backgroundTask_;
};

}  // namespace Mobile
}  // namespace CorvaneSDK
