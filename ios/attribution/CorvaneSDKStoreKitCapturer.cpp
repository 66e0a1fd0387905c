// Purchase capture over the StoreKit port.
#include "CorvaneSDKStoreKitCapturer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

#include "AttributionPlatform.h"
#include "CorvaneSDKLog.h"

namespace CorvaneSDK {
namespace Mobile {

std::shared_ptr<CorvaneSDKStoreKitCapturer> CorvaneSDKStoreKitCapturer::captureTransactions(
    std::shared_ptr<CorvaneSDKPurchaseSink> sink, std::shared_ptr<StoreKitPort> storeKit) {
  if (!storeKit) {
    auto ports = AttributionPlatform::current();
    if (ports) storeKit = ports->storeKit;
  }
  return std::shared_ptr<CorvaneSDKStoreKitCapturer>(new CorvaneSDKStoreKitCapturer(std::move(sink), std::move(storeKit)));
}

CorvaneSDKStoreKitCapturer::CorvaneSDKStoreKitCapturer(std::shared_ptr<CorvaneSDKPurchaseSink> sink,
                                                       std::shared_ptr<StoreKitPort> storeKit)
    : sink_(std::move(sink)), storeKit_(std::move(storeKit)) {}

CorvaneSDKStoreKitCapturer::~CorvaneSDKStoreKitCapturer() {
  // weak_from_this is gone by now; the port forgets us by address.
  bool started;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    started = hasStarted_;
    hasStarted_ = false;
  }
  if (started && storeKit_) storeKit_->removeTransactionObserver(this);
}

void CorvaneSDKStoreKitCapturer::start() {
  if (!storeKit_ || !storeKit_->classPresent()) {
    CorvaneSDKLog::debug("StoreKit is not available; in-app purchases are not captured");
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (hasStarted_) return;
    hasStarted_ = true;
  }
  storeKit_->addTransactionObserver(weak_from_this());
}

void CorvaneSDKStoreKitCapturer::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!hasStarted_) return;
    hasStarted_ = false;
  }
  storeKit_->removeTransactionObserver(this);
}

bool CorvaneSDKStoreKitCapturer::hasStarted() {
  std::lock_guard<std::mutex> lock(mutex_);
  return hasStarted_;
}

std::vector<std::string> CorvaneSDKStoreKitCapturer::pendingProducts() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> ids;
  for (const auto& entry : productRequests_) ids.push_back(entry.first);
  return ids;
}

void CorvaneSDKStoreKitCapturer::paymentQueueUpdatedTransactions(const std::vector<PaymentTransaction>& transactions) {
  Delivery delivery;
  std::vector<std::shared_ptr<ProductsRequest>> toStart;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& transaction : transactions) {
      if (transaction.state < kTransactionStatePurchasing || transaction.state > kTransactionStateRestored) continue;
      const std::string& productId = transaction.productIdentifier;
      auto entry = productRequests_.find(productId);
      if (entry != productRequests_.end()) {
        entry->second.transactions.push_back(transaction);  // joins the pending look-up
        continue;
      }
      // No product to look up, or no way to look it up: what needs no product goes now.
      std::shared_ptr<ProductsRequest> request;
      if (!productId.empty() && storeKit_) {
        try {
          request = storeKit_->makeProductsRequest({productId});
        } catch (...) {
          request = nullptr;
        }
      }
      if (!request) {
        CorvaneSDKLog::debug("Cannot look up product '" + productId + "'");
        capture(transaction, nullptr, delivery);
        continue;
      }
      CorvaneSDKStoreKitCaptureData data;
      data.productRequest = request;
      data.transactions.push_back(transaction);
      productRequests_.emplace(productId, std::move(data));
      toStart.push_back(std::move(request));
    }
  }
  // Started outside the lock: a port may answer on this thread.
  for (auto& request : toStart) {
    request->setDelegate(weak_from_this());
    request->start();
  }
  deliver(delivery);
}

void CorvaneSDKStoreKitCapturer::productsRequestDidReceiveResponse(const std::shared_ptr<ProductsRequest>& request,
                                                                   const ProductsResponse& response) {
  Delivery delivery;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    std::set<std::string> answered;
    for (const auto& product : response.products) {
      auto entry = productRequests_.find(product.productIdentifier);
      if (entry == productRequests_.end()) continue;
      answered.insert(product.productIdentifier);
      for (const auto& transaction : entry->second.transactions) capture(transaction, &product, delivery);
      productRequests_.erase(entry);
    }
    std::vector<std::string> missing;
    if (request) {
      for (const auto& id : request->productIdentifiers())
        if (!answered.count(id)) missing.push_back(id);
    }
    for (const auto& id : response.invalidProductIdentifiers)
      if (!answered.count(id)) missing.push_back(id);
    if (!missing.empty()) captureWithoutProduct(request, missing, delivery);
  }
  deliver(delivery);
}

void CorvaneSDKStoreKitCapturer::productsRequestDidFail(const std::shared_ptr<ProductsRequest>& request,
                                                        const std::string& error) {
  Delivery delivery;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    CorvaneSDKLog::debug("Products request failed: " + error);
    std::vector<std::string> missing;
    if (request) missing.assign(request->productIdentifiers().begin(), request->productIdentifiers().end());
    captureWithoutProduct(request, missing, delivery);
  }
  deliver(delivery);
}

void CorvaneSDKStoreKitCapturer::captureWithoutProduct(const std::shared_ptr<ProductsRequest>& request,
                                                       const std::vector<std::string>& missing, Delivery& out) {
  for (const auto& id : missing) {
    auto entry = productRequests_.find(id);
    // An entry of a newer look-up for the same product waits for its own answer.
    if (entry == productRequests_.end() || entry->second.productRequest != request) continue;
    CorvaneSDKLog::debug("Product '" + id + "' not found; capturing its transactions without it");
    for (const auto& transaction : entry->second.transactions) capture(transaction, nullptr, out);
    productRequests_.erase(entry);
  }
}

void CorvaneSDKStoreKitCapturer::capture(const PaymentTransaction& transaction, const Product* product,
                                         Delivery& out) {
  if (!transaction.transactionIdentifier) return;
  const std::string id = *transaction.transactionIdentifier;
  switch (transaction.state) {
    case kTransactionStatePurchased:
    case kTransactionStateRestored:
      out.push_back([id](CorvaneSDKPurchaseSink& sink) { sink.logIAPReceiptAppStoreServer(id); });
      break;
    case kTransactionStateFailed: {
      if (!product) {
        CorvaneSDKLog::debug("Dropping failed transaction " + id + ": product '" + transaction.productIdentifier +
                             "' not found");
        break;
      }
      std::string pack = product->productIdentifier;
      double price = std::isfinite(product->price) ? product->price : 0;
      int64_t quantity = transaction.quantity;
      std::string currency = getCurrency(*product);
      out.push_back([pack, price, quantity, currency](CorvaneSDKPurchaseSink& sink) {
        sink.logIAPResult(pack, price, quantity, currency, false);
      });
      break;
    }
    default:
      break;
  }
}

void CorvaneSDKStoreKitCapturer::deliver(Delivery& delivery) {
  if (!sink_) return;
  for (auto& call : delivery) {
    try {
      call(*sink_);
    } catch (...) {
      CorvaneSDKLog::debug("Purchase sink failed");
    }
  }
}

std::string CorvaneSDKStoreKitCapturer::getCurrency(const Product& product) { return product.currencyCode; }

std::string CorvaneSDKStoreKitCapturer::getLocalizedPrice(const Product& product) {
  static const std::map<std::string, std::pair<const char*, int>> kCurrencies{
      {"USD", {"$", 2}}, {"EUR", {"\u20ac", 2}}, {"GBP", {"\u00a3", 2}}, {"JPY", {"\u00a5", 0}},
      {"CNY", {"CN\u00a5", 2}}, {"KRW", {"\u20a9", 0}}, {"INR", {"\u20b9", 2}}, {"RUB", {"RUB", 2}},
      {"CAD", {"CA$", 2}}, {"AUD", {"A$", 2}}, {"CHF", {"CHF", 2}}, {"BRL", {"R$", 2}}};
  auto known = kCurrencies.find(product.currencyCode);
  std::string symbol = known != kCurrencies.end() ? known->second.first : product.currencyCode;
  int digits = known != kCurrencies.end() ? known->second.second : 2;
  double price = std::isfinite(product.price) ? product.price : 0;
  char number[64];
  std::snprintf(number, sizeof(number), "%.*f", digits, std::fabs(price));
  std::string text = number;
  const std::string& locale = product.priceLocaleIdentifier;
  std::string language = locale.substr(0, locale.find_first_of("_-"));
  static const std::set<std::string> kCommaLanguages{"de", "fr", "es", "it", "pt", "nl", "ru", "pl", "tr", "sv",
                                                     "da", "nb", "fi", "cs"};
  bool comma = kCommaLanguages.count(language) > 0;
  if (comma) std::replace(text.begin(), text.end(), '.', ',');
  std::string sign = price < 0 ? "-" : "";
  // Languages that write the decimal comma put the symbol after the number.
  return comma ? sign + text + "\u00a0" + symbol : sign + symbol + text;
}

std::optional<std::string> CorvaneSDKStoreKitCapturer::getReceipt() {
  if (!storeKit_) return std::nullopt;
  auto bytes = storeKit_->appStoreReceipt();
  if (!bytes) return std::nullopt;
  return base64(*bytes);
}

std::string CorvaneSDKStoreKitCapturer::base64(const std::string& bytes) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    uint32_t n = (uint8_t(bytes[i]) << 16) | (uint8_t(bytes[i + 1]) << 8) | uint8_t(bytes[i + 2]);
    out += kAlphabet[n >> 18];
    out += kAlphabet[(n >> 12) & 63];
    out += kAlphabet[(n >> 6) & 63];
    out += kAlphabet[n & 63];
  }
  if (i < bytes.size()) {
    uint32_t n = uint8_t(bytes[i]) << 16;
    if (i + 1 < bytes.size()) n |= uint8_t(bytes[i + 1]) << 8;
    out += kAlphabet[n >> 18];
    out += kAlphabet[(n >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(n >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

}  // namespace Mobile
}  // namespace CorvaneSDK
