// The middleware chain every manager operation passes through: an app's middlewares (to inspect,
// change or drop operations) and, always last, the operation queue. The chain runs on the
// caller's thread, holds no lock while a middleware runs, and is re-entrant: a middleware may
// run further operations through the same runner from inside context:next:, and may call next
// later from any thread.
// Thread contract: CorvaneSDKMiddlewareRunner and CorvaneSDKBlockMiddleware are immutable and
// thread-safe. A CorvaneSDKContext is a small record: whoever holds one changes it only
// through modify and hands it on.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CorvaneSDKIntegrationHost.h"
#include "CorvaneSDKOperation.h"

namespace CorvaneSDK {
namespace Mobile {

class CorvaneSDKContext : public std::enable_shared_from_this<CorvaneSDKContext> {
 public:
  // `init:(manager)`.
  explicit CorvaneSDKContext(std::shared_ptr<CorvaneSDKIntegrationHost> manager = nullptr)
      : manager(std::move(manager)) {}
  static std::shared_ptr<CorvaneSDKContext> create(std::shared_ptr<CorvaneSDKIntegrationHost> manager) {
    return std::make_shared<CorvaneSDKContext>(std::move(manager));
  }

  std::shared_ptr<CorvaneSDKIntegrationHost> manager;
  bool debug = false;
  int64_t operationType = kCorvaneSDKOperationTypeUndefined;
  std::optional<std::string> error;
  std::shared_ptr<CorvaneSDKOperation> operation;

  // With `debug` set, `fn` changes a copy, so the context a middleware was given stays as it
  // was (useful when tracing the chain); otherwise `fn` changes this context. Returns the
  // context that `fn` changed. A context not owned by a shared pointer is always copied. A
  // throwing `fn` is logged; the context is returned as far as it got.
  std::shared_ptr<CorvaneSDKContext> modify(const std::function<void(CorvaneSDKContext&)>& fn);

  // "<CorvaneSDKContext: type N, operation …, error …>" for log lines.
  std::string description() const;
};

using CorvaneSDKMiddlewareNext = std::function<void(std::shared_ptr<CorvaneSDKContext>)>;

class CorvaneSDKMiddleware {
 public:
  virtual ~CorvaneSDKMiddleware() = default;
  // Hands the operation on with next(context), changes it with next(otherContext), or drops it
  // by calling next(nullptr) or never calling next. next may be called later, from any thread;
  // only its first call counts.
  virtual void context(std::shared_ptr<CorvaneSDKContext> context, CorvaneSDKMiddlewareNext next) = 0;
};

class CorvaneSDKBlockMiddleware : public CorvaneSDKMiddleware {
 public:
  using Block = std::function<void(std::shared_ptr<CorvaneSDKContext>, CorvaneSDKMiddlewareNext)>;
  // `initWithBlock:`; an empty block passes every operation on unchanged.
  explicit CorvaneSDKBlockMiddleware(Block block) : block_(std::move(block)) {}
  void context(std::shared_ptr<CorvaneSDKContext> context, CorvaneSDKMiddlewareNext next) override;

 private:
  Block block_;
};

using CorvaneSDKMiddlewareList = std::vector<std::shared_ptr<CorvaneSDKMiddleware>>;
// Called at the end of the chain: whether the operation was dropped (a null context reached
// the end) and the middlewares that did not run.
using CorvaneSDKMiddlewareCallback = std::function<void(bool dropped, const CorvaneSDKMiddlewareList& remaining)>;

class CorvaneSDKMiddlewareRunner {
 public:
  // `initWithMiddlewares:`; null entries are skipped.
  explicit CorvaneSDKMiddlewareRunner(CorvaneSDKMiddlewareList middlewares);
  const CorvaneSDKMiddlewareList& middlewares() const { return *middlewares_; }
  // Runs `context` through the chain on this thread (unless a middleware defers next). A
  // middleware that throws is logged and ends the chain for this operation.
  void run(std::shared_ptr<CorvaneSDKContext> context, CorvaneSDKMiddlewareCallback callback = nullptr) const;

 private:
  using Shared = std::shared_ptr<const CorvaneSDKMiddlewareList>;
  static void runMiddlewares(const Shared& list, size_t first, std::shared_ptr<CorvaneSDKContext> context,
                             const std::shared_ptr<const CorvaneSDKMiddlewareCallback>& callback);
  Shared middlewares_;
};

}  // namespace Mobile
}  // namespace CorvaneSDK
