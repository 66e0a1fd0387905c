// The command line: argument parsing of serve, the port file, and the reading commands
// (stats, export, tail) on a store filled through the collector.
#include <gtest/gtest.h>

#include <sstream>

#include "CollectorFixture.h"
#include "Commands.h"
#include "Report.h"

using namespace CorvaneSDK::Collector;
using namespace CorvaneSDK::Collector::Test;
using CorvaneSDK::DumpJson;
using CorvaneSDK::Json;

namespace {

int RunCli(const std::vector<std::string>& args, std::string& out, std::string& err) {
  std::ostringstream o, e;
  const int code = RunCommand(args, o, e, [](int) { return false; });
  out = o.str();
  err = e.str();
  return code;
}

class CommandsTest : public CollectorFixture {
 protected:
  void Fill() {
    StartCollector();
    Json open = EventObject("qvsdk_open", "0123456789", Json{{"os", "Debian"}}, 1765000000123);
    open["subEvents"] = Json::array(
        {EventObject("qvsdk_deep_link", "0123456789", Json{{"url", "demo://x"}}, 1765000000124)});
    ASSERT_EQ(PutEvents(DumpJson(BatchObject({open, EventObject("level", "0123456789")})))->status,
              204);
    ASSERT_EQ(PutEvents(DumpJson(BatchObject({EventObject("level", "abc")}, "u2")))->status, 204);
    const std::string again = DumpJson(BatchObject({EventObject("dup", "abc")}, "u2"));
    ASSERT_EQ(PutEvents(again)->status, 204);
    ASSERT_EQ(PutEvents(again)->status, 204);
  }
  std::string Db() { return dir_.File("events.db"); }
};

}  // namespace

TEST(ServeArgs, ParsesEveryOption) {
  ServeSettings s;
  std::string error;
  ASSERT_TRUE(ParseServeArgs({"--host",    "0.0.0.0",
                              "--port=0",  "--port-file",
                              "p",         "--db",
                              "x.db",      "--app",
                              "a:b:c",     "--app",
                              "d:e",       "--sdk-config",
                              "a=s.json",  "--remote-config",
                              "*=r.json",  "--max-body",
                              "2048",      "--fault-status",
                              "503",       "--fail-rate",
                              "0.5",       "--latency-ms",
                              "20",        "--never-answer",
                              "--threads", "4",
                              "--quiet"},
                             s, error))
      << error;
  EXPECT_EQ(s.options.host, "0.0.0.0");
  EXPECT_EQ(s.options.port, 0);
  EXPECT_EQ(s.portFile, "p");
  EXPECT_EQ(s.options.dbPath, "x.db");
  ASSERT_EQ(s.options.apps.size(), 2u);
  EXPECT_EQ(s.options.apps[0].id, "a");
  EXPECT_EQ(s.options.apps[0].secret, "b:c");  // the secret may hold a colon
  EXPECT_EQ(s.options.sdkConfigs.at("a"), "s.json");
  EXPECT_EQ(s.options.remoteConfigs.at("*"), "r.json");
  EXPECT_EQ(s.options.maxBodyBytes, 2048u);
  EXPECT_EQ(s.options.faults.status, 503);
  EXPECT_EQ(s.options.faults.failRate, 0.5);
  EXPECT_EQ(s.options.faults.latencyMs, 20);
  EXPECT_TRUE(s.options.faults.neverAnswer);
  EXPECT_EQ(s.options.threads, 4);
  EXPECT_TRUE(s.quiet);
}

TEST(ServeArgs, DefaultsAndRefusals) {
  ServeSettings s;
  std::string error;
  ASSERT_TRUE(ParseServeArgs({}, s, error));
  EXPECT_EQ(s.options.host, "127.0.0.1");
  EXPECT_EQ(s.options.port, 8787);
  EXPECT_EQ(s.options.dbPath, "corvane-collector.db");
  EXPECT_TRUE(s.options.apps.empty());

  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--port", "70000"}, "--port expects 0..65535"},
      {{"--port"}, "--port needs a value"},
      {{"--app", "nocolon"}, "--app expects APP_ID:APP_SECRET, got \"nocolon\""},
      {{"--app", ":secret"}, "--app expects APP_ID:APP_SECRET, got \":secret\""},
      {{"--sdk-config", "file.json"}, "--sdk-config expects KEY=FILE, got \"file.json\""},
      {{"--fail-rate", "1.5"}, "--fail-rate expects a number from 0 to 1"},
      {{"--fail-rate", "nan"}, "--fail-rate expects a number from 0 to 1"},
      {{"--fault-status", "42"}, "--fault-status expects an HTTP status 200..599"},
      {{"--max-body", "12x"}, "--max-body expects a byte count from 1024 to 4294967296"},
      {{"--verbose"}, "unknown argument \"--verbose\""},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(ParseServeArgs(c.first, s, error)) << c.second;
    EXPECT_EQ(error, c.second);
  }
}

TEST(PortFile, HoldsThePortAndNoTempFileRemains) {
  CorvaneSDK::Test::TempDir dir;
  std::string error;
  ASSERT_TRUE(WritePortFile(dir.File("port"), 41234, error)) << error;
  EXPECT_EQ(CorvaneSDK::Test::ReadFileBytes(dir.File("port")), "41234\n");
  EXPECT_FALSE(CorvaneSDK::Test::FileExists(dir.File("port.tmp")));
  EXPECT_FALSE(WritePortFile(dir.File("no/such/folder/port"), 1, error));
}

TEST_F(CommandsTest, StatsPrintsTotalsAndEventsByName) {
  Fill();
  std::string out, err;
  ASSERT_EQ(RunCli({"stats", "--db", Db()}, out, err), 0) << err;
  EXPECT_EQ(out,
            "events: 5  sessions: 2  users: 2  uploads: 4  duplicates: 1\n"
            "events by name:\n"
            "  dup                  1\n"
            "  level                2\n"
            "  qvsdk_deep_link      1\n"
            "  qvsdk_open           1\n");
  ASSERT_EQ(RunCli({"stats", "--db", Db(), "--json", "--user", "u2"}, out, err), 0) << err;
  Json stats = Json::parse(out);
  EXPECT_EQ(stats["events"], 2);
  EXPECT_EQ(stats["duplicates"], 1);
}

TEST_F(CommandsTest, ExportWritesEveryEventAsOneJsonArray) {
  Fill();
  std::string out, err;
  ASSERT_EQ(RunCli({"export", "--json", "--db", Db()}, out, err), 0) << err;
  Json events = Json::parse(out);
  ASSERT_EQ(events.size(), 5u);
  EXPECT_EQ(events[0]["name"], "qvsdk_open");
  EXPECT_EQ(events[1]["parentEId"], events[0]["eId"]);
  EXPECT_EQ(events[1]["value"]["url"], "demo://x");
  ASSERT_EQ(RunCli({"export", "--json", "--db", Db(), "--session", "abc"}, out, err), 0);
  EXPECT_EQ(Json::parse(out).size(), 2u);
  ASSERT_EQ(RunCli({"export", "--json", "--db", Db(), "--session", "none"}, out, err), 0);
  EXPECT_EQ(out, "[]\n");
}

TEST_F(CommandsTest, TailPrintsOneLinePerEventAndPicksUpNewOnes) {
  Fill();
  std::ostringstream out, err;
  int rounds = 0;
  // The wait of the first round stores one more upload; the second ends the tail.
  const int code = TailEvents(collector_->storage(), 0, 10, out, err, [&](int ms) {
    EXPECT_EQ(ms, 10);
    if (++rounds == 1) {
      EXPECT_EQ(PutEvents(DumpJson(BatchObject({EventObject("late", "xyz")})))->status, 204);
      return true;
    }
    return false;
  });
  EXPECT_EQ(code, 0);
  std::istringstream lines(out.str());
  std::vector<std::string> all;
  for (std::string line; std::getline(lines, line);) all.push_back(line);
  ASSERT_EQ(all.size(), 6u);
  EXPECT_EQ(all[0].substr(0, 45), "2025-12-06 05:46:40.123  01234567  qvsdk_open");
  EXPECT_NE(all[0].find(R"({"os":"Debian"})"), std::string::npos);
  EXPECT_EQ(all[1].substr(23, 31), "  01234567    + qvsdk_deep_link");
  EXPECT_NE(all[5].find("late"), std::string::npos);
}

TEST(Report, EventLinesCannotDriveTheTerminal) {
  StoredEvent e;
  e.name = "evil\x1b[2J";
  e.sessionId = "\x1b]0;x\x07";
  e.valueJson = "null";
  const std::string line = FormatEventLine(e);
  EXPECT_EQ(line.find('\x1b'), std::string::npos) << line;
  EXPECT_EQ(line.find('\x07'), std::string::npos) << line;
}

TEST(Commands, UnknownCommandsAndMissingDatabasesFailWithAMessage) {
  std::string out, err;
  EXPECT_EQ(RunCli({}, out, err), 2);
  EXPECT_NE(err.find("usage: corvane-collector"), std::string::npos);
  EXPECT_EQ(RunCli({"frobnicate"}, out, err), 2);
  EXPECT_NE(err.find("unknown command \"frobnicate\""), std::string::npos);
  EXPECT_EQ(RunCli({"stats", "--db", "/nonexistent/dir/x.db"}, out, err), 1);
  EXPECT_NE(err.find("cannot open database /nonexistent/dir/x.db"), std::string::npos) << err;
  EXPECT_EQ(RunCli({"tail", "--bogus"}, out, err), 2);
  EXPECT_EQ(RunCli({"help"}, out, err), 0);
  EXPECT_NE(out.find("--remote-config KEY=FILE"), std::string::npos);
}
