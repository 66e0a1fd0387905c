// The middleware chain: context copies, the block middleware and the runner.
#include "CorvaneSDKMiddleware.h"

#include <atomic>

#include "CorvaneSDKLog.h"

namespace CorvaneSDK {
namespace Mobile {

std::shared_ptr<CorvaneSDKContext> CorvaneSDKContext::modify(const std::function<void(CorvaneSDKContext&)>& fn) {
  std::shared_ptr<CorvaneSDKContext> target = debug ? nullptr : weak_from_this().lock();
  if (!target) target = std::make_shared<CorvaneSDKContext>(*this);
  if (fn) {
    try {
      fn(*target);
    } catch (...) {
      CorvaneSDKLog::debug("A context modification threw; the context is kept as far as it got");
    }
  }
  return target;
}

std::string CorvaneSDKContext::description() const {
  std::string out = "<CorvaneSDKContext: type " + std::to_string(operationType);
  out += ", operation " + (operation ? operation->description() : std::string("(null)"));
  if (error) out += ", error " + *error;
  out += debug ? ", debug>" : ">";
  return out;
}

void CorvaneSDKBlockMiddleware::context(std::shared_ptr<CorvaneSDKContext> context, CorvaneSDKMiddlewareNext next) {
  if (block_) {
    block_(std::move(context), std::move(next));
  } else if (next) {
    next(std::move(context));
  }
}

CorvaneSDKMiddlewareRunner::CorvaneSDKMiddlewareRunner(CorvaneSDKMiddlewareList middlewares) {
  CorvaneSDKMiddlewareList kept;
  kept.reserve(middlewares.size());
  for (auto& m : middlewares) {
    if (m) kept.push_back(std::move(m));
  }
  middlewares_ = std::make_shared<const CorvaneSDKMiddlewareList>(std::move(kept));
}

void CorvaneSDKMiddlewareRunner::run(std::shared_ptr<CorvaneSDKContext> context,
                                     CorvaneSDKMiddlewareCallback callback) const {
  auto shared = callback ? std::make_shared<const CorvaneSDKMiddlewareCallback>(std::move(callback)) : nullptr;
  runMiddlewares(middlewares_, 0, std::move(context), shared);
}

void CorvaneSDKMiddlewareRunner::runMiddlewares(const Shared& list, size_t first,
                                                std::shared_ptr<CorvaneSDKContext> context,
                                                const std::shared_ptr<const CorvaneSDKMiddlewareCallback>& callback) {
  if (!context || first >= list->size()) {
    if (callback && *callback) {
      try {
        (*callback)(!context, CorvaneSDKMiddlewareList(list->begin() + static_cast<std::ptrdiff_t>(first), list->end()));
      } catch (...) {
        CorvaneSDKLog::debug("A middleware chain callback threw");
      }
    }
    return;
  }
  // The chain goes on at most once per step, however often (or from however many threads) a
  // middleware calls next: an operation must not reach the queue twice.
  auto called = std::make_shared<std::atomic<bool>>(false);
  CorvaneSDKMiddlewareNext next = [list, first, callback, called](std::shared_ptr<CorvaneSDKContext> nextContext) {
    if (called->exchange(true)) {
      CorvaneSDKLog::debug("A middleware called next more than once; only the first call counts");
      return;
    }
    runMiddlewares(list, first + 1, std::move(nextContext), callback);
  };
  const auto& middleware = (*list)[first];
  try {
    middleware->context(std::move(context), std::move(next));
  } catch (...) {
    CorvaneSDKLog::debug("A middleware threw; the operation goes no further through it");
  }
}

}  // namespace Mobile
}  // namespace CorvaneSDK
