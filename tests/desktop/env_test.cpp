// An environment handed to the senders is the one they use: waits, token times and token
// ids come from it, not from the process default.
#include "Env.h"

#include <gtest/gtest.h>

#include <deque>

#include "Crypto.h"
#include "EventSender.h"
#include "FakeClock.h"
#include "FixedProperties.h"
#include "Json.h"
#include "Random.h"
#include "RemoteConfigSender.h"
#include "TestEnv.h"

namespace CorvaneSDK {
namespace {

using Test::FakeClock;
using Test::FixedProperties;
using Test::TestEnv;

class AlwaysUnavailable : public Transport {
 public:
  explicit AlwaysUnavailable(int* performed) : performed_(performed) {}
  HttpResponse Perform(const HttpRequest&, Interrupt*) override {
    ++*performed_;
    HttpResponse r;
    r.completed = true;
    r.httpCode = 503;
    r.failure = "HTTP 503";
    return r;
  }
  bool Ready() const override { return true; }
  void Apply(const TransportSettings&) override {}
  void SetTimeoutMs(long) override {}
  void Abort(int64_t) override {}

 private:
  int* performed_;
};

TEST(EnvSeam, SendersWaitOnTheClockOfTheEnvironmentTheyWereGiven) {
  FakeClock clock;
  TestEnv env;
  env.SetClock(&clock);
  FixedProperties properties;
  int performed = 0;
  EventSender sender("http://127.0.0.1:9/v4/event", 3, 500, "YTpi", properties,
                     std::unique_ptr<Transport>(new AlwaysUnavailable(&performed)), env);
  sender.SendEvents({R"({"eventName":"a"})"});
  EXPECT_EQ(sender.Status(), kSenderFailed);
  EXPECT_EQ(performed, 4);
  // 6.5 s of back-off went through the given clock; the system clock would have slept it.
  EXPECT_EQ(clock.TotalSleptMs(), 500 + 1500 + 4500);
  EXPECT_NE(&Env::Default().GetClock(), static_cast<Clock*>(&clock));
}

TEST(EnvSeam, TokenTimeAndIdComeFromTheGivenEnvironment) {
  FakeClock clock(true, 1765000005000LL);
  TestEnv env;
  env.SetClock(&clock);
  std::deque<uint64_t> bits = {0x0123456789abcdefULL, 0xfedcba9876543210ULL,
                               0x0123456789abcdefULL, 0xfedcba9876543210ULL};
  env.SetRandomSource([&bits] {
    const uint64_t next = bits.front();
    bits.pop_front();
    return next;
  });
  const std::string token = RemoteConfigSender::BuildToken("com.x", env);
  const size_t a = token.find('.'), b = token.rfind('.');
  std::string text;
  ASSERT_TRUE(Base64UrlDecode(token.substr(a + 1, b - a - 1), text));
  Json claims;
  ASSERT_TRUE(ParseJson(text, claims));
  EXPECT_EQ(claims["iat"], 1765000000);  // back-dated by 5 s
  // The id is the UUID of the scripted bits: drawing again from the same script repeats it.
  EXPECT_EQ(claims["jti"], NewUuid(env));
  EXPECT_TRUE(bits.empty());
}

}  // namespace
}  // namespace CorvaneSDK
