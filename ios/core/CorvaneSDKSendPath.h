// The manager's send path: the session with its open event, events made into log operations
// (the current session, config id and user id), the middleware chain they run through, and the
// SKAdNetwork record of what was accepted. While the open event waits, a full queue drops new
// events rather than letting them pile up behind it.
//
// Threads: thread-safe; any thread may call. The session has its own lock (the open-event
// lock); the queue-size cache is atomic; the conversion context is set once, before the manager
// is shared. Middlewares run on the caller's thread, except an open event the engine's readiness
// check releases: that goes out from the operation queue's serial queue, where middlewares may.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "CorvaneSDKEvent.h"
#include "CorvaneSDKSession.h"

namespace CorvaneSDK {
namespace Mobile {

class CorvaneSDKIdentity;
class CorvaneSDKIntegrationHost;
class CorvaneSDKMiddlewareRunner;
class CorvaneSDKOperation;
class CorvaneSDKOperationQueue;
class CorvaneSDKServerConfig;
class CorvaneSDKSkanConversionContextImpl;

class CorvaneSDKSendPath : public std::enable_shared_from_this<CorvaneSDKSendPath> {
 public:
  using Session = CorvaneSDKSessionT<CorvaneSDKLogOperation>;
  using SkanRecord = std::function<void(CorvaneSDKSkanConversionContextImpl&)>;
  struct Parts {
    std::weak_ptr<CorvaneSDKIntegrationHost> host;  // the manager, handed to each operation
    std::shared_ptr<CorvaneSDKOperationQueue> queue;
    std::shared_ptr<CorvaneSDKMiddlewareRunner> runner;
    std::shared_ptr<const CorvaneSDKIdentity> identity;
    std::shared_ptr<CorvaneSDKServerConfig> rates;
    uint64_t maxQueueSize = 0;
  };

  static std::shared_ptr<CorvaneSDKSendPath> create(Parts parts);
  void setSkanContext(std::shared_ptr<CorvaneSDKSkanConversionContextImpl> context);
  Session& session() { return session_; }

  // Runs an operation (none: an empty one) through the middleware chain.
  void run(int64_t type, std::shared_ptr<CorvaneSDKOperation> operation);
  // Holds the event under the waiting open event; false when nothing waits.
  bool hold(const CorvaneSDKEvent& event, bool started);
  bool send(const CorvaneSDKEvent& event);
  // Readiness as far as the open event goes; one whose hold ended is sent.
  bool checkHold();
  // Starts or keeps a session (counting the process's first for SKAdNetwork).
  Session::Start startSession();
  // The open event under `name`; one still held from the last session goes out first.
  void beginOpen(const std::string& name, int64_t trackingStatus);
  // Sends whatever the session still holds.
  void release();
  // In logging order on the operation queue: the host's thread does not wait for the context.
  void toSkan(SkanRecord record);

 private:
  explicit CorvaneSDKSendPath(Parts parts);
  std::shared_ptr<CorvaneSDKLogOperation> build(const CorvaneSDKEvent& event);
  void deliver(Session::Release release);
  void recordForSkan(const CorvaneSDKEvent& event);
  uint64_t approximateQueueSize();

  const Parts parts_;
  Session session_;
  std::shared_ptr<CorvaneSDKSkanConversionContextImpl> skan_;
  std::atomic<uint64_t> cachedQueueSize_{0};
  std::atomic<bool> queueSizeRefreshing_{false};
};

}  // namespace Mobile
}  // namespace CorvaneSDK
