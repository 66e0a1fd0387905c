// Purchase capture: one look-up per product, captures in arrival order, the states that are
// skipped, look-ups that fail or miss the product, the receipt and price texts, and threads.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <limits>
#include <set>
#include <thread>

#include "CorvaneSDKStoreKitCapturer.h"
#include "MobileTestSupport.h"
#include "StoreKit.h"

namespace CorvaneSDK {
namespace Mobile {
namespace {

struct Recorded {
  std::mutex mutex;
  std::vector<std::string> lines;
  void add(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex);
    lines.push_back(line);
  }
  std::vector<std::string> all() {
    std::lock_guard<std::mutex> lock(mutex);
    return lines;
  }
};

PaymentTransaction tx(std::optional<std::string> id, int64_t state, const std::string& product, int64_t quantity = 1) {
  PaymentTransaction t;
  t.transactionIdentifier = std::move(id);
  t.state = state;
  t.productIdentifier = product;
  t.quantity = quantity;
  return t;
}

Product product(const std::string& id, double price, const std::string& currency = "USD",
                const std::string& locale = "en_US") {
  Product p;
  p.productIdentifier = id;
  p.price = price;
  p.currencyCode = currency;
  p.priceLocaleIdentifier = locale;
  return p;
}

class MobileStoreKitCapturer : public ::testing::Test {
 protected:
  void SetUp() override {
    store = std::make_shared<SettableStoreKit>();
    auto sink = std::make_shared<CorvaneSDKBlockPurchaseSink>(
        [this](const std::string& id) { recorded.add("receipt " + id); },
        [this](const std::string& pack, double price, int64_t amount, const std::string& currency, bool ok) {
          char text[160];
          std::snprintf(text, sizeof(text), "result %s %.2f %lld %s %d", pack.c_str(), price,
                        static_cast<long long>(amount), currency.c_str(), ok ? 1 : 0);
          recorded.add(text);
        });
    capturer = CorvaneSDKStoreKitCapturer::captureTransactions(sink, store);
    capturer->start();
  }

  Testing::TestPorts ports;
  Recorded recorded;
  std::shared_ptr<SettableStoreKit> store;
  std::shared_ptr<CorvaneSDKStoreKitCapturer> capturer;
};

TEST_F(MobileStoreKitCapturer, SameProductSharesOneLookUpAndCapturesInOrder) {
  store->postTransactions({tx("t1", kTransactionStatePurchased, "gems")});
  store->postTransactions({tx("t2", kTransactionStateRestored, "gems"), tx("t3", kTransactionStateFailed, "gems", 3)});
  EXPECT_EQ(store->requestsStarted(), 1);
  EXPECT_TRUE(recorded.all().empty());
  EXPECT_EQ(store->respond({product("gems", 0.99)}), 1);
  // Restored gives the same receipt event as purchased; the failure carries price and quantity.
  EXPECT_EQ(recorded.all(), (std::vector<std::string>{"receipt t1", "receipt t2", "result gems 0.99 3 USD 0"}));
  EXPECT_TRUE(capturer->pendingProducts().empty());
}

TEST_F(MobileStoreKitCapturer, SkipsDeferredLaterStatesPurchasingAndTransactionsWithoutId) {
  store->postTransactions({tx("d", kTransactionStateDeferred, "gems"), tx("x", 9, "gems"), tx("n", -1, "gems")});
  EXPECT_EQ(store->requestsMade(), 0);  // nothing to look up for skipped states
  store->postTransactions({tx("p", kTransactionStatePurchasing, "gems"), tx(std::nullopt, kTransactionStatePurchased, "gems")});
  ASSERT_EQ(store->requestsStarted(), 1);
  store->respond({product("gems", 1)});
  EXPECT_TRUE(recorded.all().empty());
}

// A look-up that fails must not leave its transactions pending for ever.
TEST_F(MobileStoreKitCapturer, FailedLookUpLogsReceiptsDropsFailuresAndStartsOver) {
  store->postTransactions({tx("t1", kTransactionStatePurchased, "gems"), tx("t2", kTransactionStateFailed, "gems"),
                           tx("t3", kTransactionStateRestored, "gems")});
  EXPECT_EQ(store->fail("gems"), 1);
  EXPECT_EQ(recorded.all(), (std::vector<std::string>{"receipt t1", "receipt t3"}));
  EXPECT_TRUE(ports.log->contains("Dropping failed transaction t2"));
  EXPECT_TRUE(capturer->pendingProducts().empty());
  // The next transaction of that product starts a new look-up and is captured with it.
  store->postTransactions({tx("t4", kTransactionStateFailed, "gems", 2)});
  EXPECT_EQ(store->requestsStarted(), 2);
  store->respond({product("gems", 4.5, "EUR", "de_DE")});
  EXPECT_EQ(recorded.all().back(), "result gems 4.50 2 EUR 0");
}

// The same for a response that does not include the product.
TEST_F(MobileStoreKitCapturer, ResponseWithoutTheProductStillCapturesAndClearsTheEntry) {
  store->postTransactions({tx("a1", kTransactionStatePurchased, "alpha"), tx("a2", kTransactionStateFailed, "alpha")});
  store->postTransactions({tx("b1", kTransactionStateFailed, "beta", 2)});
  ASSERT_EQ(store->requestsStarted(), 2);
  // A response meant for another look-up does not clear alpha's entry.
  auto stranger = store->makeProductsRequest({"alpha"});
  ProductsResponse none;
  none.invalidProductIdentifiers = {"alpha"};
  capturer->productsRequestDidReceiveResponse(stranger, none);
  EXPECT_EQ(capturer->pendingProducts(), (std::vector<std::string>{"alpha", "beta"}));

  EXPECT_EQ(store->respondMissing("alpha"), 1);
  EXPECT_EQ(recorded.all(), std::vector<std::string>{"receipt a1"});
  EXPECT_TRUE(ports.log->contains("Dropping failed transaction a2"));
  EXPECT_EQ(capturer->pendingProducts(), std::vector<std::string>{"beta"});
  EXPECT_EQ(store->respond({product("beta", 2)}), 1);
  EXPECT_EQ(recorded.all().back(), "result beta 2.00 2 USD 0");
  store->postTransactions({tx("a3", kTransactionStatePurchased, "alpha")});
  EXPECT_EQ(store->requestsStarted(), 3);
}

TEST_F(MobileStoreKitCapturer, OddProductIdsAndMissingStoreKit) {
  store->postTransactions({tx("e1", kTransactionStatePurchased, ""), tx("e2", kTransactionStateFailed, "")});
  EXPECT_EQ(store->requestsMade(), 0);
  EXPECT_EQ(recorded.all(), std::vector<std::string>{"receipt e1"});
  std::string odd("bad\xff\x00id", 7);
  store->postTransactions({tx("o1", kTransactionStatePurchased, odd), tx("o2", kTransactionStateFailed, odd)});
  EXPECT_EQ(store->respond({product(odd, std::numeric_limits<double>::infinity())}), 1);
  EXPECT_EQ(recorded.all().back(), "result " + std::string("bad\xff") + " 0.00 1 USD 0");

  auto absent = std::make_shared<SettableStoreKit>(false);
  auto idle = CorvaneSDKStoreKitCapturer::captureTransactions(nullptr, absent);
  idle->start();
  EXPECT_FALSE(idle->hasStarted());
  EXPECT_EQ(absent->observerCount(), 0);
  idle->paymentQueueUpdatedTransactions({tx("z", kTransactionStatePurchased, "gems")});  // null sink: no crash
}

TEST_F(MobileStoreKitCapturer, StartStopAndRelease) {
  EXPECT_EQ(store->observerCount(), 1);
  capturer->start();
  EXPECT_EQ(store->observerCount(), 1);
  capturer->stop();
  EXPECT_EQ(store->observerCount(), 0);
  store->postTransactions({tx("t", kTransactionStatePurchased, "gems")});
  EXPECT_EQ(store->requestsMade(), 0);
  capturer->start();
  capturer.reset();  // released: no longer observing, and the port holds no dangling observer
  EXPECT_EQ(store->observerCount(), 0);
  store->postTransactions({tx("t", kTransactionStatePurchased, "gems")});
  EXPECT_TRUE(recorded.all().empty());
}

TEST_F(MobileStoreKitCapturer, ReceiptCurrencyAndLocalizedPrice) {
  EXPECT_EQ(capturer->getReceipt(), std::nullopt);
  store->setReceipt(std::string("\x00\x01\xfe\xffM", 5));
  EXPECT_EQ(capturer->getReceipt(), std::optional<std::string>("AAH+/00="));
  EXPECT_EQ(CorvaneSDKStoreKitCapturer::base64("ab"), "YWI=");
  EXPECT_EQ(CorvaneSDKStoreKitCapturer::base64(""), "");
  // Through the bundle's receipt path and the file port.
  auto plain = std::make_shared<SettableStoreKit>();
  BundleRecord bundle;
  bundle.identifier = "com.example";
  bundle.receiptPath = ports.root() + "/receipt";
  ports.device->setBundle(bundle);
  EXPECT_EQ(plain->appStoreReceipt(), std::nullopt);
  ASSERT_TRUE(ports.files->writeAtomically(bundle.receiptPath, "abc", nullptr));
  EXPECT_EQ(CorvaneSDKStoreKitCapturer::captureTransactions(nullptr, plain)->getReceipt(),
            std::optional<std::string>("YWJj"));

  EXPECT_EQ(CorvaneSDKStoreKitCapturer::getCurrency(product("x", 1, "EUR")), "EUR");
  EXPECT_EQ(CorvaneSDKStoreKitCapturer::getLocalizedPrice(product("x", 0.99)), "$0.99");
  EXPECT_EQ(CorvaneSDKStoreKitCapturer::getLocalizedPrice(product("x", 4.5, "EUR", "de_DE")), "4,50\u00a0\u20ac");
  EXPECT_EQ(CorvaneSDKStoreKitCapturer::getLocalizedPrice(product("x", 120, "JPY", "ja_JP")), "\u00a5120");
  EXPECT_EQ(CorvaneSDKStoreKitCapturer::getLocalizedPrice(product("x", 2, "XTS", "en_US")), "XTS2.00");
  EXPECT_EQ(CorvaneSDKStoreKitCapturer::getLocalizedPrice(product("x", std::nan(""), "USD", "")), "$0.00");
}

TEST(MobileStoreKitCapturerThreads, TransactionsAndAnswersFromManyThreadsAreCapturedOnce) {
  Testing::TestPorts ports({.debugLog = false});
  auto store = std::make_shared<SettableStoreKit>();
  std::atomic<int> receipts{0};
  std::mutex seenMutex;
  std::set<std::string> seen;
  auto sink = std::make_shared<CorvaneSDKBlockPurchaseSink>(
      [&](const std::string& id) {
        std::lock_guard<std::mutex> lock(seenMutex);
        EXPECT_TRUE(seen.insert(id).second) << id;
        ++receipts;
      },
      nullptr);
  auto capturer = CorvaneSDKStoreKitCapturer::captureTransactions(sink, store);
  capturer->start();
  constexpr int kThreads = 4, kEach = 200;
  std::atomic<bool> posting{true};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        store->postTransactions({tx("t" + std::to_string(t) + "-" + std::to_string(i), kTransactionStatePurchased,
                                    "p" + std::to_string(i % 5))});
      }
    });
  }
  std::thread answering([&] {
    int round = 0;
    while (posting.load()) {
      if (round++ % 2 == 0) {
        store->respond({product("p0", 1), product("p1", 1), product("p2", 1)});
      } else {
        store->fail("p3");
        store->fail("p4");
      }
      std::this_thread::yield();
    }
  });
  for (auto& thread : threads) thread.join();
  posting = false;
  answering.join();
  // Whatever is still pending is answered now.
  store->respond({product("p0", 1), product("p1", 1), product("p2", 1), product("p3", 1), product("p4", 1)});
  EXPECT_EQ(receipts.load(), kThreads * kEach);
  EXPECT_TRUE(capturer->pendingProducts().empty());
}

}  // namespace
}  // namespace Mobile
}  // namespace CorvaneSDK
