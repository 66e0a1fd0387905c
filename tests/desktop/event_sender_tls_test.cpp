// EventSender against a local TLS server (cpp-httplib with OpenSSL) and a self-signed
// certificate made by the openssl command: the CA file option and peer verification.
// Needs libcurl: left out of builds without the HTTP senders.

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Crypto.h"
#include "EventSender.h"
#include "FakeClock.h"
#include "FixedProperties.h"
#include "TempDir.h"

namespace CorvaneSDK {
namespace {

using Test::ScopedFakeClock;

struct FakeProperties : Test::FixedProperties {};

const char kPath[] = "/v4/event";
const std::vector<std::string> kBatch = {R"({"eventName":"a","eId":"1"})",
                                         R"({"eventName":"b","eId":"2"})"};

class TlsServer {
 public:
  TlsServer(const std::string& cert, const std::string& key) : server_(cert.c_str(), key.c_str()) {
    server_.Put(".*", [](const httplib::Request&, httplib::Response& res) { res.status = 204; });
  }
  ~TlsServer() {
    server_.stop();
    if (thread_.joinable()) thread_.join();
  }
  bool Start() {
    if (!server_.is_valid()) return false;
    port_ = server_.bind_to_any_port("127.0.0.1");
    if (port_ <= 0) return false;
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    for (int i = 0; i < 2000 && !server_.is_running(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return server_.is_running();
  }
  std::string Url() const { return "https://127.0.0.1:" + std::to_string(port_) + kPath; }

 private:
  httplib::SSLServer server_;
  std::thread thread_;
  int port_ = 0;
};

class EventSenderTlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cert_ = dir_.File("cert.pem");
    key_ = dir_.File("key.pem");
    const std::string command =
        "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1"
        " -addext subjectAltName=IP:127.0.0.1 -keyout '" +
        key_ + "' -out '" + cert_ + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) GTEST_SKIP() << "openssl command not available";
    server_ = std::make_unique<TlsServer>(cert_, key_);
    ASSERT_TRUE(server_->Start());
  }

  int Send(const TransportSettings& settings) {
    EventSender sender(server_->Url(), 0, 500, Base64Encode("a:b"), properties_);
    sender.ApplyTransport(settings);
    sender.SendEvents(kBatch);
    return sender.Status();
  }

  CorvaneSDK::Test::TempDir dir_;
  std::string cert_;
  std::string key_;
  FakeProperties properties_;
  std::unique_ptr<TlsServer> server_;
};

TEST_F(EventSenderTlsTest, SelfSignedServerIsTrustedThroughTheCaFile) {
  ScopedFakeClock clock;
  TransportSettings settings;
  settings.ca = cert_;
  EXPECT_EQ(Send(settings), kSenderSucceeded);
}

TEST_F(EventSenderTlsTest, SelfSignedServerIsRefusedWithoutTheCaFile) {
  ScopedFakeClock clock;
  EXPECT_EQ(Send(TransportSettings{}), kSenderFailed);
}

TEST_F(EventSenderTlsTest, VerificationOffWinsOverAMismatchedCaFile) {
  ScopedFakeClock clock;
  // A CA file that does not sign the server's certificate: verification would fail.
  CorvaneSDK::Test::TempDir other;
  const std::string command =
      "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=other"
      " -keyout '" +
      other.File("k.pem") + "' -out '" + other.File("c.pem") + "' >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  TransportSettings settings;
  settings.ca = other.File("c.pem");
  EXPECT_EQ(Send(settings), kSenderFailed);
  settings.sslVerify = false;
  EXPECT_EQ(Send(settings), kSenderSucceeded);
}

}  // namespace
}  // namespace CorvaneSDK

