// Turns finished payment-queue transactions into purchase events: one products look-up per
// product at a time, its transactions captured in arrival order when the look-up answers.
// A look-up that fails or misses the product still logs the receipts of purchased and restored
// transactions (they need no product) and drops failed ones with a debug line, so nothing
// waits for ever and the next transaction of that product starts a new look-up.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "StoreKit.h"

namespace CorvaneSDK {
namespace Mobile {

// What the capturer hands to the manager (its typed purchase logs). Called on platform threads,
// outside the capturer's lock, so the sink may call back into the capturer.
class CorvaneSDKPurchaseSink {
 public:
  virtual ~CorvaneSDKPurchaseSink() = default;
  // The receipt event of a purchased or restored transaction.
  virtual void logIAPReceiptAppStoreServer(const std::string& transactionId) = 0;
  // A purchase result with its product (failed transactions: isSuccess false).
  virtual void logIAPResult(const std::string& pack, double price, int64_t amount, const std::string& currency,
                            bool isSuccess) = 0;
};

// A sink made of two functions (either may be empty).
class CorvaneSDKBlockPurchaseSink : public CorvaneSDKPurchaseSink {
 public:
  using Receipt = std::function<void(const std::string& transactionId)>;
  using Result = std::function<void(const std::string& pack, double price, int64_t amount,
                                    const std::string& currency, bool isSuccess)>;
  CorvaneSDKBlockPurchaseSink(Receipt receipt, Result result)
      : receipt_(std::move(receipt)), result_(std::move(result)) {}
  void logIAPReceiptAppStoreServer(const std::string& transactionId) override {
    if (receipt_) receipt_(transactionId);
  }
  void logIAPResult(const std::string& pack, double price, int64_t amount, const std::string& currency,
                    bool isSuccess) override {
    if (result_) result_(pack, price, amount, currency, isSuccess);
  }

 private:
  Receipt receipt_;
  Result result_;
};

// Pending transactions of one product and the look-up started for it.
struct CorvaneSDKStoreKitCaptureData {
  std::vector<PaymentTransaction> transactions;
  std::shared_ptr<ProductsRequest> productRequest;
};

// Thread-safe: `productRequests` and `hasStarted` are guarded by `mutex_`; sink calls are made
// after it is released. Shared-owned (the port holds it weakly as observer and delegate). The
// sink is held strongly: give one that refers to its owner weakly when the owner keeps the
// capturer. Released, it stops observing.
class CorvaneSDKStoreKitCapturer : public PaymentTransactionObserver,
                                   public ProductsRequestDelegate,
                                   public std::enable_shared_from_this<CorvaneSDKStoreKitCapturer> {
 public:
  // Not started. A null port means the installed one (AttributionPlatform).
  static std::shared_ptr<CorvaneSDKStoreKitCapturer> captureTransactions(
      std::shared_ptr<CorvaneSDKPurchaseSink> sink, std::shared_ptr<StoreKitPort> storeKit = nullptr);
  ~CorvaneSDKStoreKitCapturer() override;

  // Observes the payment queue, once; nothing when the platform has no payment classes.
  void start();
  void stop();
  bool hasStarted();
  // Look-ups pending, by product identifier (for diagnostics and tests).
  std::vector<std::string> pendingProducts();

  static std::string getCurrency(const Product& product);
  // The price in currency style for the product's price locale: "$0.99", "0,99 €", "¥120".
  static std::string getLocalizedPrice(const Product& product);
  // The store receipt as Base64 text, none without one.
  std::optional<std::string> getReceipt();
  static std::string base64(const std::string& bytes);

  void paymentQueueUpdatedTransactions(const std::vector<PaymentTransaction>& transactions) override;
  void productsRequestDidReceiveResponse(const std::shared_ptr<ProductsRequest>& request,
                                         const ProductsResponse& response) override;
  void productsRequestDidFail(const std::shared_ptr<ProductsRequest>& request, const std::string& error) override;

 private:
  CorvaneSDKStoreKitCapturer(std::shared_ptr<CorvaneSDKPurchaseSink> sink, std::shared_ptr<StoreKitPort> storeKit);
  using Delivery = std::vector<std::function<void(CorvaneSDKPurchaseSink&)>>;
  void capture(const PaymentTransaction& transaction, const Product* product, Delivery& out);
  // Removes every entry whose look-up is `request` and asked for one of `missing`, capturing
  // its transactions without a product.
  void captureWithoutProduct(const std::shared_ptr<ProductsRequest>& request, const std::vector<std::string>& missing,
                             Delivery& out);
  void deliver(Delivery& delivery);

  const std::shared_ptr<CorvaneSDKPurchaseSink> sink_;
  const std::shared_ptr<StoreKitPort> storeKit_;
  std::mutex mutex_;
  bool hasStarted_ = false;
  std::map<std::string, CorvaneSDKStoreKitCaptureData> productRequests_;
};

}  // namespace Mobile
}  // namespace CorvaneSDK
