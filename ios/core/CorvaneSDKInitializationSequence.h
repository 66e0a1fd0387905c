// The initialisation actions: run one at a time, in list order, each on the main queue; an
// action ends when its handler calls the completion it was given (once; later calls are
// ignored), and the next begins on the main queue. Initialisation waits for the end of the
// list by checking once a second on the main queue (monotonic: the queue's delays are).
//
// Threads: thread-safe. The mutex guards the list, the index and the handlers; handlers and
// the finish callback run on the main queue without it held.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "CorvaneSDKConfiguration.h"
#include "Dispatch.h"

namespace CorvaneSDK {
namespace Mobile {

class CorvaneSDKInitializationSequence : public std::enable_shared_from_this<CorvaneSDKInitializationSequence> {
 public:
  static constexpr int64_t kCheckIntervalMs = 1000;
  using Done = std::function<void()>;
  using Handler = std::function<void(const CorvaneSDKInitializationAction& action, Done done)>;

  static std::shared_ptr<CorvaneSDKInitializationSequence> create(std::shared_ptr<MainQueue> main);

  // Before begin: what runs an action of `type`. A type without a handler is skipped.
  void setHandler(int64_t type, Handler handler);
  // Copies the list (none or empty: nothing to run) and starts the first action on the main queue.
  void begin(const std::optional<std::vector<CorvaneSDKInitializationAction>>& actions);
  bool hasActions() const;
  size_t index() const;
  bool isFinished() const;
  // Calls `finished` on the main queue once every action has ended: at once when none were
  // given, else at the first 1 s check that finds the list done.
  void whenFinished(std::function<void()> finished);

 private:
  explicit CorvaneSDKInitializationSequence(std::shared_ptr<MainQueue> main) : main_(std::move(main)) {}
  void runNext();
  void advance(size_t from);
  void check(std::function<void()> finished);

  std::shared_ptr<MainQueue> main_;
  mutable std::mutex mutex_;
  std::vector<CorvaneSDKInitializationAction> actions_;
  size_t index_ = 0;
  std::map<int64_t, Handler> handlers_;
};

}  // namespace Mobile
}  // namespace CorvaneSDK
