// The senders' request builders, checked byte for byte without a network.
#include "HttpRequests.h"

#include <gtest/gtest.h>

#include "Crypto.h"
#include "Json.h"
#include "Version.h"

namespace CorvaneSDK {
namespace {

const std::string kUserAgentHeader = std::string("User-Agent: ") + kUserAgent;

TEST(HttpRequests, EventUploadIsAPutWithBasicAuthorizationAndTheBody) {
  const HttpRequest r = BuildEventRequest("https://h/v4/event", "YTpi", R"({"subMessages":[]})");
  EXPECT_EQ(r.method, "PUT");
  EXPECT_EQ(r.url, "https://h/v4/event");
  EXPECT_EQ(r.headers, (std::vector<std::string>{"Accept: */*", kUserAgentHeader,
                                                 "Authorization: Basic YTpi",
                                                 "Content-Type: application/json"}));
  EXPECT_EQ(r.body, R"({"subMessages":[]})");
  EXPECT_FALSE(r.keepResponse);
  EXPECT_EQ(WithoutLineBreaks("YT\r\npi\n"), "YTpi");
}

TEST(HttpRequests, ConfigRequestEncodesItsQueryAndLeavesOutEmptyMembers) {
  HttpRequest r;
  ASSERT_TRUE(BuildConfigRequest("https://h/c?env=dev#top", "a b&c", "Linux", "", "", r));
  EXPECT_EQ(r.method, "GET");
  EXPECT_EQ(r.url, "https://h/c?env=dev&app_id=a%20b%26c&platform=Linux#top");
  EXPECT_EQ(r.headers,
            (std::vector<std::string>{kUserAgentHeader, "Accept: */*"}));
  EXPECT_TRUE(r.keepResponse);
  ASSERT_TRUE(BuildConfigRequest("http://h/c", "app", "Linux", "1.0", "ab12", r));
  EXPECT_EQ(r.url, "http://h/c?app_id=app&platform=Linux&version=1.0&sdk_config_hash=ab12");
  EXPECT_FALSE(BuildConfigRequest("ftp://h/c", "app", "Linux", "", "", r));
  EXPECT_TRUE(r.url.empty());
}

TEST(HttpRequests, RemoteConfigTokenIsTheSignedClaimsOfItsArguments) {
  const std::string token = BuildRemoteConfigToken("key", "com.x", 1765000000, "id-1");
  const size_t a = token.find('.'), b = token.rfind('.');
  ASSERT_NE(a, b);
  std::string header, claims;
  ASSERT_TRUE(Base64UrlDecode(token.substr(0, a), header));
  ASSERT_TRUE(Base64UrlDecode(token.substr(a + 1, b - a - 1), claims));
  EXPECT_EQ(header, R"({"alg":"HS256","typ":"JWT"})");
  EXPECT_EQ(claims, R"({"iat":1765000000,"iss":"Quorvel","jti":"id-1","sub":"com.x"})");
  EXPECT_EQ(token.substr(b + 1), Base64UrlEncode(HmacSha256("key", token.substr(0, b))));
  // Same arguments, same token: nothing but the arguments goes in.
  EXPECT_EQ(token, BuildRemoteConfigToken("key", "com.x", 1765000000, "id-1"));
}

TEST(HttpRequests, RemoteConfigRequestsCarryTheTokenAndKeepTheAnswer) {
  const HttpRequest post = BuildRemoteConfigInfoRequest(
      "https://h/rc", "t.o.k", BuildRemoteConfigBody("com.x", 7, "Linux", "u"));
  EXPECT_EQ(post.method, "POST");
  EXPECT_EQ(post.headers, (std::vector<std::string>{"Quorvel-Token: t.o.k",
                                                    "Content-Type: application/json",
                                                    kUserAgentHeader,
                                                    "Accept: */*"}));
  EXPECT_EQ(post.body, R"({"buildNumber":7,"bundleId":"com.x","platform":"Linux","qvUid":"u"})");
  EXPECT_TRUE(post.keepResponse);
  const HttpRequest get = BuildRemoteConfigDocumentRequest("https://cdn/doc/1");
  EXPECT_EQ(get.method, "GET");
  EXPECT_EQ(get.url, "https://cdn/doc/1");
  EXPECT_TRUE(get.body.empty());
  EXPECT_TRUE(get.keepResponse);
}

}  // namespace
}  // namespace CorvaneSDK
