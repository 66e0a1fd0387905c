// The environment double: parts swapped under a mutex, called outside it.
#include "TestEnv.h"

#include "FileIO.h"
#include "SystemEnv.h"
#include "Utils.h"

namespace CorvaneSDK {
namespace Test {

namespace {
template <typename F>
std::shared_ptr<const F> Share(F f) {
  if (!f) return nullptr;
  return std::make_shared<const F>(std::move(f));
}
}  // namespace

void TestEnv::SetRandomSource(std::function<uint64_t()> source) {
  auto next = Share(std::move(source));
  std::lock_guard<std::mutex> lock(mutex_);
  random_ = std::move(next);
}

void TestEnv::SetFileFaultInjector(FaultInjector shouldFail) {
  auto next = Share(std::move(shouldFail));
  std::lock_guard<std::mutex> lock(mutex_);
  injector_ = std::move(next);
  hasInjector_.store(injector_ != nullptr);
}

void TestEnv::SetNetworkQuery(std::function<Utils::NetworkAddress()> query) {
  auto next = Share(std::move(query));
  std::lock_guard<std::mutex> lock(mutex_);
  network_ = std::move(next);
}

Clock& TestEnv::GetClock() {
  Clock* clock = clock_.load();
  return clock != nullptr ? *clock : SystemEnv::Instance().GetClock();
}

uint64_t TestEnv::RandomBits() {
  std::shared_ptr<const std::function<uint64_t()>> source;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    source = random_;
  }
  return source ? (*source)() : SystemEnv::Instance().RandomBits();
}

bool TestEnv::ShouldFailFileOp(FileOp op, const std::string& path) {
  if (!hasInjector_.load()) return false;
  std::shared_ptr<const FaultInjector> injector;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    injector = injector_;
  }
  return injector != nullptr && (*injector)(op, path);
}

Utils::NetworkAddress TestEnv::QueryNetworkAddress() {
  std::shared_ptr<const std::function<Utils::NetworkAddress()>> query;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    query = network_;
  }
  return query ? (*query)() : SystemEnv::Instance().QueryNetworkAddress();
}

LogChannel& TestEnv::LogSink() {
  LogChannel* sink = sink_.load();
  return sink != nullptr ? *sink : SystemEnv::Instance().LogSink();
}

TestEnv& ProcessEnv() {
  static TestEnv* env = [] {
    auto* e = new TestEnv();
    Env::SetDefault(e);
    return e;
  }();
  return *env;
}

}  // namespace Test
}  // namespace CorvaneSDK
