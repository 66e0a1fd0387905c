// Recycled storage for the queued event texts. When the last holder of a shared text lets go,
// its string storage and its reference-count block come back here, and a later event is
// written into them. In a steady flow the host's calling thread then allocates nothing per
// event, and the sending thread, which lets go of uploaded texts fifty at a time, frees
// nothing a host thread allocated: with glibc, thousands of such frees made the host thread's
// next allocation sort them all first, 100-400 us inside a host call.
// What is kept is bounded (texts and bytes); the rest is freed as usual. Thread-safe.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "BriefMutex.h"

namespace CorvaneSDK {

class TextPool : public std::enable_shared_from_this<TextPool> {
 public:
  struct Limits {
    size_t maxTexts = 4096;
    size_t maxBytes = 1024 * 1024;    // string capacity kept in all
    size_t maxTextBytes = 16 * 1024;  // a larger string is not kept
  };

  static std::shared_ptr<TextPool> Create(Limits limits);
  static std::shared_ptr<TextPool> Create() { return Create(Limits()); }
  ~TextPool();
  TextPool(const TextPool&) = delete;
  TextPool& operator=(const TextPool&) = delete;

  // An empty string to write a text into; recycled storage keeps its capacity.
  std::string Take();
  // Shares `text`; its storage comes back here when the last holder lets go. The pool lives
  // on while any shared text does.
  std::shared_ptr<const std::string> Share(std::string&& text);
  // Shares a copy of `text`, in recycled storage when some is kept.
  std::shared_ptr<const std::string> Share(const std::string& text);
  // Keeps `text`'s storage for a later Take, or frees it beyond the bounds.
  void Give(std::string&& text);

  size_t KeptTexts() const;
  size_t KeptBytes() const;
  size_t KeptBlocks() const;

 private:
  template <typename T>
  struct BlockAllocator;
  // A shared text and its reference counts live in one block.
  struct Holder {
    Holder(std::string&& t, TextPool* p) : text(std::move(t)), pool(p) {}
    ~Holder() { pool->Give(std::move(text)); }
    std::string text;
    TextPool* pool;
  };

  explicit TextPool(Limits limits);
  void* AllocateBlock(size_t size);
  void FreeBlock(void* block, size_t size);

  const Limits limits_;
  // A leaf: nothing else is taken or called while it is held. Brief: the sending thread gives
  // back a batch's texts while host calls take theirs, and a waiter spins before it sleeps.
  mutable BriefMutex mutex_;
  std::vector<std::string> texts_;
  size_t keptBytes_ = 0;
  // Blocks of shared texts; all of one size, that of the first asked for.
  std::vector<void*> blocks_;
  size_t blockSize_ = 0;
};

}  // namespace CorvaneSDK
