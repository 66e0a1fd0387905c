// tools/mobile-host driven as a program: a script of ops against a local server, the lines it
// prints, a restart over the same folder, and unknown ops that leave it running.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "MobileTestSupport.h"
#include "TestHttpServer.h"
#include "TempDir.h"
#include "Value.h"

namespace CorvaneSDK {
namespace Mobile {
namespace {

using Test::ScriptedResponse;
using Test::TempDir;
using Test::TestHttpServer;

std::vector<Value> runHost(const std::string& saveDir, const std::vector<Value>& ops) {
  TempDir scratch;
  std::string script;
  for (const auto& op : ops) script += op.dump() + "\n";
  const std::string input = scratch.File("ops.jsonl");
  EXPECT_TRUE(Test::WriteFileBytes(input, script));
  const std::string command = std::string(MOBILE_HOST_PATH) + " '" + saveDir + "' < '" + input + "'";
  FILE* pipe = popen(command.c_str(), "r");
  EXPECT_NE(pipe, nullptr);
  std::vector<Value> lines;
  if (!pipe) return lines;
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
  EXPECT_EQ(pclose(pipe), 0);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    Value line;
    EXPECT_TRUE(parseJson(text.substr(start, end - start), line)) << text.substr(start, end - start);
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

bool outHas(const Value& line, const std::string& key, const Value& value) {
  for (const auto& e : line.value("out", Value::array())) {
    if (e.contains(key) && (value.is_null() || e[key] == value)) return true;
  }
  return false;
}

TEST(MobileHost, ScriptReachesTheServerAndARestartKeepsTheUser) {
  TestHttpServer server;
  ASSERT_TRUE(server.Start());
  server.SetDefault("/v4/event", ScriptedResponse(200, "{}"));
  server.SetDefault("/v1/public/config",
                    ScriptedResponse(200, R"({"sdk_config":{"appId":"app","appSecret":"secret"}})"));
  TempDir save;
  const Value init = {{"op", "init_json"},
                      {"text", Value{{"appId", "app"},
                                     {"appSecret", "secret"},
                                     {"host", server.Url("/v4/event")},
                                     {"configUrl", server.Url("/v1/public/config")},
                                     {"flushQueueSize", 1}}
                                   .dump()}};
  auto first = runHost(save.path(), {Value{{"op", "ports"}, {"ios", "17.0"}, {"bundle", {{"id", "com.example.x"}}}},
                                     Value{{"op", "log"}, {"name", "early"}},
                                     init,
                                     Value{{"op", "wait_idle"}, {"ms", 10000}},
                                     Value{{"op", "call"}, {"method", "logLevelStart"}, {"args", {4, "cave"}}},
                                     Value{{"op", "advance"}, {"ms", 5000}},
                                     Value{{"op", "flush"}},
                                     Value{{"op", "wait_idle"}, {"ms", 10000}},
                                     Value{{"op", "get"}, {"what", "queue_size"}},
                                     Value{{"op", "get"}, {"what", "user_id"}},
                                     Value{{"op", "no_such_op"}},
                                     Value{{"op", "call"}, {"method", "noSuchMethod"}}});
  ASSERT_EQ(first.size(), 12u);
  EXPECT_TRUE(first[1].contains("error"));  // before init_json
  EXPECT_EQ(first[2]["result"], true);
  EXPECT_EQ(first[3]["result"], true);
  EXPECT_TRUE(outHas(first[3], "lifecycle", "onStart"));
  EXPECT_EQ(first[4]["result"], true);
  bool sent = false, posted = false;
  for (const auto& line : first) {
    for (const auto& e : line.value("out", Value::array())) {
      if (e.contains("send_event") && e["send_event"]["eventName"] == "qvsdk_first_open") sent = true;
      if (e.value("notification", "") == "CorvaneSDKDidSendRequest" && e["batch"].get<int>() >= 1) posted = true;
    }
  }
  EXPECT_TRUE(sent);
  EXPECT_TRUE(posted);
  EXPECT_TRUE(first[8]["result"].is_number());
  const std::string userId = first[9]["result"].get<std::string>();
  EXPECT_EQ(userId.size(), 36u);
  EXPECT_NE(first[10]["error"].get<std::string>().find("unknown op"), std::string::npos);
  EXPECT_NE(first[11]["error"].get<std::string>().find("unknown method"), std::string::npos);
  ASSERT_GE(server.Count("/v4/event"), 1u);

  auto second = runHost(save.path(), {init, Value{{"op", "get"}, {"what", "user_id"}}});
  ASSERT_EQ(second.size(), 2u);
  EXPECT_EQ(second[1]["result"], userId);
}

}  // namespace
}  // namespace Mobile
}  // namespace CorvaneSDK
