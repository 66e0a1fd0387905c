#include "TextPool.h"

#include <new>
#include <utility>

namespace CorvaneSDK {

// Allocates the shared texts' blocks from the pool. It holds the pool strongly: the block
// that ends the last text is freed through a copy of its allocator, after the block itself
// is gone.
template <typename T>
struct TextPool::BlockAllocator {
  using value_type = T;
  std::shared_ptr<TextPool> pool;

  explicit BlockAllocator(std::shared_ptr<TextPool> p) : pool(std::move(p)) {}
  template <typename U>
  BlockAllocator(const BlockAllocator<U>& other) : pool(other.pool) {}

  T* allocate(size_t n) { return static_cast<T*>(pool->AllocateBlock(n * sizeof(T))); }
  void deallocate(T* block, size_t n) { pool->FreeBlock(block, n * sizeof(T)); }

  template <typename U>
  bool operator==(const BlockAllocator<U>& other) const {
    return pool == other.pool;
  }
  template <typename U>
  bool operator!=(const BlockAllocator<U>& other) const {
    return pool != other.pool;
  }
};

TextPool::TextPool(Limits limits) : limits_(limits) {
  // Room for all that may be kept, so that keeping never allocates.
  texts_.reserve(limits_.maxTexts);
  blocks_.reserve(limits_.maxTexts);
}

std::shared_ptr<TextPool> TextPool::Create(Limits limits) {
  return std::shared_ptr<TextPool>(new TextPool(limits));
}

TextPool::~TextPool() {
  for (void* block : blocks_) ::operator delete(block);
}

std::string TextPool::Take() {
  std::string text;
  std::lock_guard<BriefMutex> lock(mutex_);
  if (!texts_.empty()) {
    text.swap(texts_.back());
    texts_.pop_back();
    keptBytes_ -= text.capacity();
  }
  return text;
}

std::shared_ptr<const std::string> TextPool::Share(std::string&& text) {
  std::shared_ptr<Holder> holder = std::allocate_shared<Holder>(
      BlockAllocator<Holder>(shared_from_this()), std::move(text), this);
  return std::shared_ptr<const std::string>(holder, &holder->text);
}

std::shared_ptr<const std::string> TextPool::Share(const std::string& text) {
  std::string copy = Take();
  copy.assign(text);
  return Share(std::move(copy));
}

void TextPool::Give(std::string&& text) {
  const size_t bytes = text.capacity();
  // Storage inside the string object itself is not worth keeping.
  if (bytes <= std::string().capacity() || bytes > limits_.maxTextBytes) return;
  std::string kept;
  kept.swap(text);
  kept.clear();
  {
    std::lock_guard<BriefMutex> lock(mutex_);
    if (texts_.size() < limits_.maxTexts && keptBytes_ + bytes <= limits_.maxBytes) {
      texts_.push_back(std::move(kept));
      keptBytes_ += bytes;
      return;
    }
  }
  // `kept` is freed here, outside the lock.
}

void* TextPool::AllocateBlock(size_t size) {
  {
    std::lock_guard<BriefMutex> lock(mutex_);
    if (blockSize_ == 0) blockSize_ = size;
    if (size == blockSize_ && !blocks_.empty()) {
      void* block = blocks_.back();
      blocks_.pop_back();
      return block;
    }
  }
  return ::operator new(size);
}

void TextPool::FreeBlock(void* block, size_t size) {
  if (block == nullptr) return;
  {
    std::lock_guard<BriefMutex> lock(mutex_);
    if (size == blockSize_ && blocks_.size() < limits_.maxTexts) {
      blocks_.push_back(block);
      return;
    }
  }
  ::operator delete(block);
}

size_t TextPool::KeptTexts() const {
  std::lock_guard<BriefMutex> lock(mutex_);
  return texts_.size();
}

size_t TextPool::KeptBytes() const {
  std::lock_guard<BriefMutex> lock(mutex_);
  return keptBytes_;
}

size_t TextPool::KeptBlocks() const {
  std::lock_guard<BriefMutex> lock(mutex_);
  return blocks_.size();
}

}  // namespace CorvaneSDK
