// The StoreKit port: the default payment queue with its transaction observers, products
// requests with their delegates, and the app's store receipt. SettableStoreKit is both the
// portable implementation (the host program posts transactions and answers look-ups) and the
// test double (it counts and keeps every request).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace CorvaneSDK {
namespace Mobile {

// The platform's transaction states; values past Deferred may appear on later releases.
constexpr int64_t kTransactionStatePurchasing = 0;
constexpr int64_t kTransactionStatePurchased = 1;
constexpr int64_t kTransactionStateFailed = 2;
constexpr int64_t kTransactionStateRestored = 3;
constexpr int64_t kTransactionStateDeferred = 4;

struct PaymentTransaction {
  std::optional<std::string> transactionIdentifier;  // none while purchasing
  int64_t state = kTransactionStatePurchasing;
  std::string productIdentifier;  // the payment's
  int64_t quantity = 1;           // the payment's
};

struct Product {
  std::string productIdentifier;
  double price = 0;
  std::string priceLocaleIdentifier = "en_US";  // "de_DE", "ja_JP"
  std::string currencyCode = "USD";             // the price locale's currency
};

struct ProductsResponse {
  std::vector<Product> products;
  std::vector<std::string> invalidProductIdentifiers;
};

class ProductsRequest;

// Called on a platform thread.
class PaymentTransactionObserver {
 public:
  virtual ~PaymentTransactionObserver() = default;
  virtual void paymentQueueUpdatedTransactions(const std::vector<PaymentTransaction>& transactions) = 0;
};

// Called on a platform thread, once per started request: a response or a failure.
class ProductsRequestDelegate {
 public:
  virtual ~ProductsRequestDelegate() = default;
  virtual void productsRequestDidReceiveResponse(const std::shared_ptr<ProductsRequest>& request,
                                                 const ProductsResponse& response) = 0;
  virtual void productsRequestDidFail(const std::shared_ptr<ProductsRequest>& request, const std::string& error) = 0;
};

// One look-up of product identifiers. Thread-safe. The delegate is held weakly.
class ProductsRequest {
 public:
  virtual ~ProductsRequest() = default;
  virtual const std::set<std::string>& productIdentifiers() const = 0;
  virtual void setDelegate(std::weak_ptr<ProductsRequestDelegate> delegate) = 0;
  virtual void start() = 0;
  virtual void cancel() = 0;
};

// Thread-safe. Observers are held weakly (the platform's queue does not retain them either);
// a gone observer is skipped.
class StoreKitPort {
 public:
  virtual ~StoreKitPort() = default;
  // Whether the platform has the payment classes (looked up by name once per port).
  bool classPresent();
  virtual void addTransactionObserver(std::weak_ptr<PaymentTransactionObserver> observer) = 0;
  virtual void removeTransactionObserver(const PaymentTransactionObserver* observer) = 0;
  // Null when the platform cannot make one.
  virtual std::shared_ptr<ProductsRequest> makeProductsRequest(const std::set<std::string>& identifiers) = 0;
  // The receipt file's bytes (the main bundle's receipt location); none when there is none.
  virtual std::optional<std::string> appStoreReceipt() = 0;

 protected:
  virtual bool lookUpClass() = 0;

 private:
  std::once_flag lookedUp_;
  bool present_ = false;
};

class SettableProductsRequest;

// Requests stay open until the host answers them; answers and transactions reach observers and
// delegates on the calling thread, outside the port's lock. The receipt is read through the
// installed file-system port from the device port's bundle record unless set with setReceipt.
// Make it with std::make_shared: its requests find it through a weak reference.
class SettableStoreKit : public StoreKitPort, public std::enable_shared_from_this<SettableStoreKit> {
 public:
  explicit SettableStoreKit(bool present = true) : present_(present) {}
  void addTransactionObserver(std::weak_ptr<PaymentTransactionObserver> observer) override;
  void removeTransactionObserver(const PaymentTransactionObserver* observer) override;
  std::shared_ptr<ProductsRequest> makeProductsRequest(const std::set<std::string>& identifiers) override;
  std::optional<std::string> appStoreReceipt() override;

  // The platform's side.
  void postTransactions(const std::vector<PaymentTransaction>& transactions);
  // Answers every started, open request that asks for any of `products`; what such a
  // request asked for and did not get is reported invalid. Returns how many were answered.
  int respond(const std::vector<Product>& products);
  // Answers every started, open request that asks for `productIdentifier` with that product
  // reported invalid (the store has no such product).
  int respondMissing(const std::string& productIdentifier);
  // Fails every started, open request that asks for `productIdentifier`.
  int fail(const std::string& productIdentifier, const std::string& error = "Cannot connect to iTunes Store");
  void setReceipt(std::optional<std::string> bytes);

  int observerCount();
  int requestsMade();
  int requestsStarted();
  // Identifiers of every request started and not yet answered, in start order.
  std::vector<std::set<std::string>> openRequests();

 protected:
  bool lookUpClass() override { return present_; }

 private:
  friend class SettableProductsRequest;
  void started(const std::shared_ptr<SettableProductsRequest>& request);
  void cancelled(const SettableProductsRequest* request);
  std::vector<std::shared_ptr<SettableProductsRequest>> takeOpen(const std::set<std::string>& wanted);

  const bool present_;
  std::mutex mutex_;
  std::vector<std::weak_ptr<PaymentTransactionObserver>> observers_;
  std::vector<std::shared_ptr<SettableProductsRequest>> open_;
  int made_ = 0;
  int started_ = 0;
  bool receiptSet_ = false;
  std::optional<std::string> receipt_;
};

}  // namespace Mobile
}  // namespace CorvaneSDK
