// The test double of the environment seam: each part (clock, random bits, file faults,
// network query, log sink) is the system's until a test replaces it. The process's one
// double is installed as Env::Default() on first use and never destroyed, because SDK
// threads of a test may outlive the test's scope by a moment. Thread-safe.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "Env.h"

namespace CorvaneSDK {
namespace Test {

class TestEnv : public Env {
 public:
  using FaultInjector = std::function<bool(FileOp, const std::string& path)>;

  // Null restores the system's part. The caller keeps ownership of a clock or a sink and
  // restores before destroying it.
  void SetClock(Clock* clock) { clock_.store(clock); }
  void SetLogSink(LogChannel* sink) { sink_.store(sink); }
  // Empty functions restore the system's part. The injector and the query run on the
  // calling thread, outside any lock of the double, so they may replace themselves.
  void SetRandomSource(std::function<uint64_t()> source);
  void SetFileFaultInjector(FaultInjector shouldFail);
  void SetNetworkQuery(std::function<Utils::NetworkAddress()> query);

  Clock& GetClock() override;
  uint64_t RandomBits() override;
  bool ShouldFailFileOp(FileOp op, const std::string& path) override;
  Utils::NetworkAddress QueryNetworkAddress() override;
  LogChannel& LogSink() override;

 private:
  std::atomic<Clock*> clock_{nullptr};
  std::atomic<LogChannel*> sink_{nullptr};
  std::atomic<bool> hasInjector_{false};
  std::mutex mutex_;  // guards the three functions below
  std::shared_ptr<const std::function<uint64_t()>> random_;
  std::shared_ptr<const FaultInjector> injector_;
  std::shared_ptr<const std::function<Utils::NetworkAddress()>> network_;
};

// The process's double, installed as the default environment on first use.
TestEnv& ProcessEnv();

}  // namespace Test
}  // namespace CorvaneSDK
