// The portable payment queue and products requests, driven by the host program.
#include "StoreKit.h"

#include <algorithm>

#include "Platform.h"

namespace CorvaneSDK {
namespace Mobile {

bool StoreKitPort::classPresent() {
  std::call_once(lookedUp_, [this] {
    try {
      present_ = lookUpClass();
    } catch (...) {
      present_ = false;
    }
  });
  return present_;
}

class SettableProductsRequest : public ProductsRequest,
                                public std::enable_shared_from_this<SettableProductsRequest> {
 public:
  SettableProductsRequest(std::weak_ptr<SettableStoreKit> store, std::set<std::string> ids)
      : store_(std::move(store)), ids_(std::move(ids)) {}
  const std::set<std::string>& productIdentifiers() const override { return ids_; }
  void setDelegate(std::weak_ptr<ProductsRequestDelegate> delegate) override {
    std::lock_guard<std::mutex> lock(mutex_);
    delegate_ = std::move(delegate);
  }
  void start() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (started_) return;
      started_ = true;
    }
    if (auto store = store_.lock()) store->started(shared_from_this());
  }
  void cancel() override {
    if (auto store = store_.lock()) store->cancelled(this);
  }
  std::shared_ptr<ProductsRequestDelegate> delegate() {
    std::lock_guard<std::mutex> lock(mutex_);
    return delegate_.lock();
  }

 private:
  std::weak_ptr<SettableStoreKit> store_;
  const std::set<std::string> ids_;
  std::mutex mutex_;
  std::weak_ptr<ProductsRequestDelegate> delegate_;
  bool started_ = false;
};

void SettableStoreKit::addTransactionObserver(std::weak_ptr<PaymentTransactionObserver> observer) {
  auto added = observer.lock();
  if (!added) return;
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& existing : observers_)
    if (existing.lock() == added) return;  // the platform keeps an observer once
  observers_.push_back(std::move(observer));
}

void SettableStoreKit::removeTransactionObserver(const PaymentTransactionObserver* observer) {
  std::lock_guard<std::mutex> lock(mutex_);
  // A released observer reads as null here, so expired entries go too.
  observers_.erase(std::remove_if(observers_.begin(), observers_.end(),
                                  [observer](const std::weak_ptr<PaymentTransactionObserver>& entry) {
                                    auto live = entry.lock();
                                    return !live || live.get() == observer;
                                  }),
                   observers_.end());
}

std::shared_ptr<ProductsRequest> SettableStoreKit::makeProductsRequest(const std::set<std::string>& identifiers) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++made_;
  }
  return std::make_shared<SettableProductsRequest>(weak_from_this(), identifiers);
}

std::optional<std::string> SettableStoreKit::appStoreReceipt() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (receiptSet_) return receipt_;
  }
  auto ports = Platform::current();
  if (!ports || !ports->device || !ports->fileSystem) return std::nullopt;
  auto bundle = ports->device->mainBundle();
  if (!bundle || bundle->receiptPath.empty()) return std::nullopt;
  std::string bytes;
  if (ports->fileSystem->read(bundle->receiptPath, bytes, nullptr) != FileSystem::Read::Ok) return std::nullopt;
  return bytes;
}

void SettableStoreKit::postTransactions(const std::vector<PaymentTransaction>& transactions) {
  std::vector<std::shared_ptr<PaymentTransactionObserver>> live;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& entry : observers_)
      if (auto observer = entry.lock()) live.push_back(std::move(observer));
  }
  for (auto& observer : live) {
    try {
      observer->paymentQueueUpdatedTransactions(transactions);
    } catch (...) {
    }
  }
}

std::vector<std::shared_ptr<SettableProductsRequest>> SettableStoreKit::takeOpen(const std::set<std::string>& wanted) {
  std::vector<std::shared_ptr<SettableProductsRequest>> taken;
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = open_.begin(); it != open_.end();) {
    const auto& ids = (*it)->productIdentifiers();
    bool asks = std::any_of(wanted.begin(), wanted.end(), [&ids](const std::string& id) { return ids.count(id) > 0; });
    if (asks) {
      taken.push_back(*it);
      it = open_.erase(it);
    } else {
      ++it;
    }
  }
  return taken;
}

int SettableStoreKit::respond(const std::vector<Product>& products) {
  std::set<std::string> wanted;
  for (const auto& product : products) wanted.insert(product.productIdentifier);
  auto requests = takeOpen(wanted);
  for (auto& request : requests) {
    ProductsResponse response;
    for (const auto& id : request->productIdentifiers()) {
      auto found = std::find_if(products.begin(), products.end(),
                                [&id](const Product& product) { return product.productIdentifier == id; });
      if (found != products.end()) {
        response.products.push_back(*found);
      } else {
        response.invalidProductIdentifiers.push_back(id);
      }
    }
    if (auto delegate = request->delegate()) {
      try {
        delegate->productsRequestDidReceiveResponse(request, response);
      } catch (...) {
      }
    }
  }
  return static_cast<int>(requests.size());
}

int SettableStoreKit::respondMissing(const std::string& productIdentifier) {
  auto requests = takeOpen({productIdentifier});
  for (auto& request : requests) {
    ProductsResponse response;
    response.invalidProductIdentifiers.assign(request->productIdentifiers().begin(), request->productIdentifiers().end());
    if (auto delegate = request->delegate()) {
      try {
        delegate->productsRequestDidReceiveResponse(request, response);
      } catch (...) {
      }
    }
  }
  return static_cast<int>(requests.size());
}

int SettableStoreKit::fail(const std::string& productIdentifier, const std::string& error) {
  auto requests = takeOpen({productIdentifier});
  for (auto& request : requests) {
    if (auto delegate = request->delegate()) {
      try {
        delegate->productsRequestDidFail(request, error);
      } catch (...) {
      }
    }
  }
  return static_cast<int>(requests.size());
}

void SettableStoreKit::setReceipt(std::optional<std::string> bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  receiptSet_ = true;
  receipt_ = std::move(bytes);
}

void SettableStoreKit::started(const std::shared_ptr<SettableProductsRequest>& request) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++started_;
  open_.push_back(request);
}

void SettableStoreKit::cancelled(const SettableProductsRequest* request) {
  std::lock_guard<std::mutex> lock(mutex_);
  open_.erase(std::remove_if(open_.begin(), open_.end(),
                             [request](const std::shared_ptr<SettableProductsRequest>& entry) {
                               return entry.get() == request;
                             }),
              open_.end());
}

int SettableStoreKit::observerCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  int n = 0;
  for (const auto& entry : observers_) n += entry.expired() ? 0 : 1;
  return n;
}

int SettableStoreKit::requestsMade() {
  std::lock_guard<std::mutex> lock(mutex_);
  return made_;
}

int SettableStoreKit::requestsStarted() {
  std::lock_guard<std::mutex> lock(mutex_);
  return started_;
}

std::vector<std::set<std::string>> SettableStoreKit::openRequests() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::set<std::string>> result;
  for (const auto& request : open_) result.push_back(request->productIdentifiers());
  return result;
}

}  // namespace Mobile
}  // namespace CorvaneSDK
