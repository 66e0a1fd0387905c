// The system environment, the process default and the free helpers that read it.
#include "SystemEnv.h"

#include <atomic>
#include <random>

#include "Logger.h"
#include "Utils.h"

namespace CorvaneSDK {

namespace {
std::atomic<Env*> g_env{nullptr};
}  // namespace

Env& Env::Default() {
  Env* env = g_env.load(std::memory_order_acquire);
  return env != nullptr ? *env : SystemEnv::Instance();
}

void Env::SetDefault(Env* env) { g_env.store(env, std::memory_order_release); }

SystemEnv& SystemEnv::Instance() {
  static SystemEnv* env = new SystemEnv();
  return *env;
}

Clock& SystemEnv::GetClock() {
  static SystemClock* clock = new SystemClock();
  return *clock;
}

uint64_t SystemEnv::RandomBits() {
  thread_local std::mt19937_64 engine([] {
    std::random_device device;
    std::seed_seq seq{device(), device(), device(), device()};
    return std::mt19937_64(seq);
  }());
  return engine();
}

Utils::NetworkAddress SystemEnv::QueryNetworkAddress() {
  return Utils::detail::QuerySystemNetworkAddress();
}

LogChannel& SystemEnv::LogSink() { return ConsoleLogChannel::Instance(); }

Clock& GetClock() { return Env::Default().GetClock(); }

}  // namespace CorvaneSDK
