// RemoteConfigSender: the signed token (structure, claims, signature), the build-number
// rule, the POST and GET requests against a real local server, the attempt loop, the
// response bound, and that the token never reaches the verbose trace.
// Needs libcurl: left out of builds without the HTTP senders.

#include "FixedProperties.h"
#include "RemoteConfigSender.h"

#include <gtest/gtest.h>


#include "Crypto.h"
#include "FakeClock.h"
#include "Json.h"
#include "LogCapture.h"
#include "IdentitySnapshot.h"
#include "TestHttpServer.h"
#include "Version.h"

namespace CorvaneSDK {
namespace {

using Test::LogCapture;
using Test::ScopedFakeClock;
using Test::ScriptedResponse;
using Test::TestHttpServer;

struct FakeProperties : Test::FixedProperties {};

std::vector<std::string> SplitToken(const std::string& token) {
  std::vector<std::string> parts;
  size_t begin = 0;
  for (;;) {
    const size_t dot = token.find('.', begin);
    parts.push_back(token.substr(begin, dot - begin));
    if (dot == std::string::npos) break;
    begin = dot + 1;
  }
  return parts;
}

// 8-4-4-4-12 lower-case hex, version 4, variant 8/9/a/b.
bool IsUuidV4(const std::string& text) {
  if (text.size() != 36) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (c != '-') return false;
    } else if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
      return false;
    }
  }
  return text[14] == '4' && std::string("89ab").find(text[19]) != std::string::npos;
}

// Checks the signature with the key and returns the decoded claims.
Json VerifiedClaims(const std::string& token) {
  const auto parts = SplitToken(token);
  EXPECT_EQ(parts.size(), 3u);
  if (parts.size() != 3) return Json();
  EXPECT_EQ(parts[2], Base64UrlEncode(HmacSha256(TokenKey(), parts[0] + "." + parts[1])));
  std::string header, claims;
  EXPECT_TRUE(Base64UrlDecode(parts[0], header));
  EXPECT_TRUE(Base64UrlDecode(parts[1], claims));
  EXPECT_EQ(header, R"({"alg":"HS256","typ":"JWT"})");
  Json out;
  EXPECT_TRUE(ParseJson(claims, out));
  return out;
}

ScriptedResponse Answer(int status, const std::string& body = "") {
  ScriptedResponse r;
  r.status = status;
  r.body = body;
  return r;
}

class RemoteConfigSenderTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.Start()); }
  FakeProperties properties_;
  TestHttpServer server_;
};

TEST(RemoteConfigSender, TokenKeyIsNineBytes) {
  EXPECT_EQ(TokenKey().size(), 9u);
  EXPECT_EQ(TokenKey(), TokenKey());
}

TEST(RemoteConfigSender, TokenStructureClaimsAndSignature) {
  ScopedFakeClock clock;
  clock->SetWall(1765000000999LL);
  const std::string token = RemoteConfigSender::BuildToken("com.example.game");
  EXPECT_EQ(token.find_first_of("+/="), std::string::npos);
  const Json claims = VerifiedClaims(token);
  ASSERT_TRUE(claims.is_object());
  EXPECT_EQ(claims.size(), 4u);
  EXPECT_EQ(claims.value("iat", int64_t{0}), 1764999995);  // whole seconds, 5 s ago
  EXPECT_EQ(claims.value("iss", ""), "Quorvel");
  EXPECT_EQ(claims.value("sub", ""), "com.example.game");
  EXPECT_TRUE(IsUuidV4(claims.value("jti", ""))) << claims.value("jti", "");

  const Json again = VerifiedClaims(RemoteConfigSender::BuildToken("com.example.game"));
  EXPECT_NE(again.value("jti", ""), claims.value("jti", ""));
}

TEST(RemoteConfigSender, TokenWithAnAwkwardBundleIdStillVerifies) {
  ScopedFakeClock clock;
  const std::string bundle = std::string("a\"b\\c\xff", 6);
  const Json claims = VerifiedClaims(RemoteConfigSender::BuildToken(bundle));
  EXPECT_EQ(claims.value("sub", ""), "a\"b\\c\xef\xbf\xbd");  // invalid byte replaced
}

TEST(RemoteConfigSender, TamperedTokenFailsVerification) {
  ScopedFakeClock clock;
  auto parts = SplitToken(RemoteConfigSender::BuildToken("com.example.game"));
  ASSERT_EQ(parts.size(), 3u);
  const std::string forged = Base64UrlEncode(R"({"sub":"com.other"})");
  EXPECT_NE(parts[2], Base64UrlEncode(HmacSha256(TokenKey(), parts[0] + "." + forged)));
  EXPECT_NE(parts[2], Base64UrlEncode(HmacSha256("wrong key", parts[0] + "." + parts[1])));
}

TEST(RemoteConfigSender, BuildNumberRules) {
  struct Case {
    const char* text;
    int number;
    bool valid;
  };
  const Case cases[] = {
      {"", 1, true},
      {"42", 42, true},
      {"17b", 17, true},
      {"1.2.3", 1, true},
      {"-7", -7, true},
      {"+3", 3, true},
      {" 12", 12, true},
      {"0", 0, true},
      {"2147483647", 2147483647, true},
      {"-2147483648", -2147483647 - 1, true},
      {"abc", 1, false},
      {"-", 1, false},
      {" ", 1, false},
      {"v12", 1, false},
      {"2147483648", 1, false},
      {"99999999999999999999999", 1, false},
      {"-2147483649", 1, false},
  };
  for (const auto& c : cases) {
    bool valid = !c.valid;
    EXPECT_EQ(RemoteConfigSender::ParseBuildNumber(c.text, &valid), c.number) << c.text;
    EXPECT_EQ(valid, c.valid) << c.text;
  }
}

TEST(RemoteConfigSender, RequestBodyIsCompactWithKeysInByteOrder) {
  EXPECT_EQ(RemoteConfigSender::BuildRequestBody("com.x", 7, "Linux", "u"),
            R"({"buildNumber":7,"bundleId":"com.x","platform":"Linux","qvUid":"u"})");
}

TEST_F(RemoteConfigSenderTest, PostCarriesTokenHeadersAndBody) {
  ScopedFakeClock clock;
  const std::string answer = R"({"message":"http://127.0.0.1/doc/1"})";
  server_.SetDefault("/rc/fetch", Answer(200, answer));
  RemoteConfigSender sender(properties_, TransportSettings{});
  std::string response;
  ASSERT_TRUE(sender.FetchRemoteConfigInfo(server_.Url("/rc/fetch"), response));
  EXPECT_EQ(response, answer);
  EXPECT_EQ(sender.Status(), 2);
  const auto requests = server_.Requests("/rc/fetch");
  ASSERT_EQ(requests.size(), 1u);
  const auto& r = requests[0];
  EXPECT_EQ(r.method, "POST");
  EXPECT_EQ(
      r.body,
      R"({"buildNumber":42,"bundleId":"com.example.game","platform":"Linux","qvUid":"user-1"})");
  EXPECT_EQ(r.Header("Content-Type"), "application/json");
  EXPECT_EQ(r.Header("User-Agent"), std::string(CorvaneSDK::kUserAgent));
  EXPECT_EQ(r.Header("Accept"), "*/*");
  EXPECT_FALSE(r.Header("Accept-Encoding").empty());
  const Json claims = VerifiedClaims(r.Header("Quorvel-Token"));
  EXPECT_EQ(claims.value("sub", ""), "com.example.game");
  EXPECT_EQ(claims.value("iat", int64_t{0}), (clock->WallMs() - 5000) / 1000);
}

TEST_F(RemoteConfigSenderTest, BuildNumberWithoutDigitsIsLoggedAndSentAsOne) {
  ScopedFakeClock clock;
  LogCapture log(kLogError);
  properties_.buildNumber = "beta";
  RemoteConfigSender sender(properties_, TransportSettings{});
  std::string response;
  ASSERT_TRUE(sender.FetchRemoteConfigInfo(server_.Url("/rc/fetch"), response));
  EXPECT_TRUE(log.Contains("[FetchRemoteConfigInfo]|Invalid build number: beta"));
  const auto requests = server_.Requests("/rc/fetch");
  ASSERT_EQ(requests.size(), 1u);
  Json body;
  ASSERT_TRUE(ParseJson(requests[0].body, body));
  EXPECT_EQ(body["buildNumber"], 1);

  log.Clear();
  properties_.buildNumber = "";
  ASSERT_TRUE(sender.FetchRemoteConfigInfo(server_.Url("/rc/fetch"), response));
  EXPECT_FALSE(log.Contains("Invalid build number"));
  ASSERT_TRUE(ParseJson(server_.Requests("/rc/fetch").back().body, body));
  EXPECT_EQ(body["buildNumber"], 1);
}

TEST_F(RemoteConfigSenderTest, TraceShowsHeaderOrderButNeverTheToken) {
  ScopedFakeClock clock;
  LogCapture log(kLogVerbose);
  RemoteConfigSender sender(properties_, TransportSettings{});
  std::string response;
  ASSERT_TRUE(sender.FetchRemoteConfigInfo(server_.Url("/rc/fetch"), response));
  const std::string token = server_.Requests("/rc/fetch").at(0).Header("Quorvel-Token");
  ASSERT_FALSE(token.empty());
  std::vector<std::string> order;
  for (const auto& line : log.Lines()) {
    EXPECT_EQ(line.find(token.substr(token.rfind('.') + 1)), std::string::npos) << line;
    for (const char* name : {"curl > Quorvel-Token: ", "curl > Content-Type: ",
                             "curl > User-Agent: ", "curl > Accept: "}) {
      if (line.find(name) != std::string::npos) order.push_back(name);
    }
  }
  EXPECT_EQ(order, (std::vector<std::string>{"curl > Quorvel-Token: ", "curl > Content-Type: ",
                                             "curl > User-Agent: ", "curl > Accept: "}));
  EXPECT_TRUE(log.Contains("curl > Quorvel-Token: ***"));
}

TEST_F(RemoteConfigSenderTest, DocumentGetHasOnlyAgentAndAcceptHeaders) {
  ScopedFakeClock clock;
  server_.SetDefault("/rc/fetch", Answer(200, R"({"message":"x"})"));
  server_.SetDefault("/doc/1", Answer(200, R"({"feature":true})"));
  RemoteConfigSender sender(properties_, TransportSettings{});
  std::string response;
  // A POST first, on the same handle: the GET must not inherit its method, body or headers.
  ASSERT_TRUE(sender.FetchRemoteConfigInfo(server_.Url("/rc/fetch"), response));
  ASSERT_TRUE(sender.FetchDocument(server_.Url("/doc/1"), response));
  EXPECT_EQ(response, R"({"feature":true})");
  const auto requests = server_.Requests("/doc/1");
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].body, "");
  EXPECT_EQ(requests[0].Header("User-Agent"), std::string(CorvaneSDK::kUserAgent));
  EXPECT_EQ(requests[0].Header("Accept"), "*/*");
  EXPECT_TRUE(requests[0].Header("Quorvel-Token").empty());
  EXPECT_TRUE(requests[0].Header("Content-Type").empty());

  // And a POST after the GET is a POST again.
  ASSERT_TRUE(sender.FetchRemoteConfigInfo(server_.Url("/rc/fetch"), response));
  EXPECT_EQ(server_.Requests("/rc/fetch").back().method, "POST");
}

TEST_F(RemoteConfigSenderTest, ClientErrorsEndAtOnceOthersMakeFourAttempts) {
  {
    ScopedFakeClock clock;
    server_.SetDefault("/rc/fetch", Answer(404));
    RemoteConfigSender sender(properties_, TransportSettings{});
    std::string response = "stale";
    EXPECT_FALSE(sender.FetchRemoteConfigInfo(server_.Url("/rc/fetch"), response));
    EXPECT_EQ(response, "");
    EXPECT_EQ(sender.Attempts(), 1);
    EXPECT_EQ(sender.Status(), 3);
    EXPECT_EQ(clock->SleepCalls(), 0);
  }
  for (int code : {429, 503}) {
    ScopedFakeClock clock;
    server_.ClearRequests();
    server_.SetDefault("/doc/1", Answer(code, "busy"));
    RemoteConfigSender sender(properties_, TransportSettings{});
    std::string response = "stale";
    EXPECT_FALSE(sender.FetchDocument(server_.Url("/doc/1"), response));
    EXPECT_EQ(response, "");
    EXPECT_EQ(server_.Count("/doc/1"), 4u);
    EXPECT_EQ(clock->TotalSleptMs(), 15000);
    EXPECT_EQ(sender.LastHttpCode(), code);
  }
}

TEST_F(RemoteConfigSenderTest, DocumentBodyIsBounded) {
  ScopedFakeClock clock;
  LogCapture log(kLogWarning);
  server_.SetDefault("/doc/1", Answer(200, std::string(kMaxResponseBytes + 1, '[')));
  RemoteConfigSender sender(properties_, TransportSettings{});
  std::string response = "stale";
  EXPECT_FALSE(sender.FetchDocument(server_.Url("/doc/1"), response));
  EXPECT_EQ(response, "");
  EXPECT_EQ(sender.Attempts(), 4);
  EXPECT_EQ(log.CountContaining("response longer than 10485760 bytes refused"), 4);
}

TEST_F(RemoteConfigSenderTest, LocationThatIsNotHttpIsNeverFetched) {
  ScopedFakeClock clock;
  RemoteConfigSender sender(properties_, TransportSettings{});
  for (const char* location : {"", "x", "file:///etc/passwd", "gopher://127.0.0.1/"}) {
    LogCapture log(kLogWarning);
    std::string response = "stale";
    EXPECT_FALSE(sender.FetchDocument(location, response)) << location;
    EXPECT_EQ(response, "");
    EXPECT_EQ(sender.Status(), 3);
    EXPECT_TRUE(log.Contains("is not an http(s) URL")) << location;
  }
  EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(RemoteConfigSenderTest, CancelledSenderMakesNoRequest) {
  ScopedFakeClock clock;
  RemoteConfigSender sender(properties_, TransportSettings{});
  sender.Cancel();
  std::string response;
  EXPECT_FALSE(sender.FetchRemoteConfigInfo(server_.Url("/rc/fetch"), response));
  EXPECT_FALSE(sender.FetchDocument(server_.Url("/doc/1"), response));
  EXPECT_EQ(sender.Attempts(), 0);
  EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(RemoteConfigSenderTest, CancelEndsARetryWait) {
  ScopedFakeClock clock(false);  // only the cancel can end a wait
  server_.SetDefault("/rc/fetch", Answer(503));
  RemoteConfigSender sender(properties_, TransportSettings{});
  bool result = true;
  std::thread fetching([&] {
    std::string response;
    result = sender.FetchRemoteConfigInfo(server_.Url("/rc/fetch"), response);
  });
  ASSERT_TRUE(server_.WaitForCount("/rc/fetch", 1));
  for (int i = 0; i < 5000 && clock->SleepCalls() == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  sender.Cancel();
  fetching.join();
  EXPECT_FALSE(result);
  EXPECT_EQ(sender.Attempts(), 1);
}

}  // namespace
}  // namespace CorvaneSDK

