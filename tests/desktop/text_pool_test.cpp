// Recycled storage of queued texts: what comes back is reused, what is kept is bounded, and
// texts may outlive the pool's owner and move between threads.
#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TextPool.h"

using CorvaneSDK::TextPool;

namespace {

std::shared_ptr<const std::string> Shared(TextPool& pool, const std::string& text) {
  std::string s = pool.Take();
  s.append(text);
  return pool.Share(std::move(s));
}

TEST(TextPool, ATextLetGoIsWrittenIntoAgainWithItsCapacityAndBlock) {
  auto pool = TextPool::Create();
  auto text = Shared(*pool, std::string(300, 'a'));
  const char* storage = text->data();
  EXPECT_EQ(*text, std::string(300, 'a'));
  EXPECT_EQ(pool->KeptTexts(), 0u);
  text.reset();
  EXPECT_EQ(pool->KeptTexts(), 1u);
  EXPECT_EQ(pool->KeptBlocks(), 1u);
  EXPECT_GE(pool->KeptBytes(), 300u);

  std::string again = pool->Take();
  EXPECT_EQ(again.data(), storage);
  EXPECT_TRUE(again.empty());
  EXPECT_GE(again.capacity(), 300u);
  again.append("short");
  auto second = pool->Share(std::move(again));
  EXPECT_EQ(*second, "short");
  EXPECT_EQ(pool->KeptTexts(), 0u);
  EXPECT_EQ(pool->KeptBlocks(), 0u);  // the count block was reused too
}

TEST(TextPool, StorageGivenBackIsKeptAndCopiesAreSharedInIt) {
  auto pool = TextPool::Create();
  pool->Give(std::string(100, 'x'));
  pool->Give(std::string("tiny"));  // no storage of its own
  EXPECT_EQ(pool->KeptTexts(), 1u);
  const std::string original = "copied";
  auto copy = pool->Share(original);
  EXPECT_EQ(*copy, "copied");
  EXPECT_EQ(pool->KeptTexts(), 0u);
}

TEST(TextPool, WhatIsKeptIsBoundedByCountBytesAndTextSize) {
  TextPool::Limits limits;
  limits.maxTexts = 3;
  limits.maxBytes = 1000;
  limits.maxTextBytes = 400;
  auto pool = TextPool::Create(limits);
  std::vector<std::shared_ptr<const std::string>> texts;
  for (int i = 0; i < 5; ++i) texts.push_back(Shared(*pool, std::string(100, 'a')));
  texts.clear();
  EXPECT_EQ(pool->KeptTexts(), 3u);
  EXPECT_LE(pool->KeptBlocks(), 3u);

  auto large = Shared(*pool, std::string(5000, 'b'));  // takes a kept one and grows it
  large.reset();
  EXPECT_EQ(pool->KeptTexts(), 2u);  // too large to keep

  TextPool::Limits bytes;
  bytes.maxBytes = 700;
  auto byBytes = TextPool::Create(bytes);
  for (int i = 0; i < 5; ++i) texts.push_back(Shared(*byBytes, std::string(300, 'c')));
  texts.clear();
  EXPECT_LE(byBytes->KeptBytes(), 700u);
  EXPECT_GE(byBytes->KeptTexts(), 1u);
}

TEST(TextPool, TextsOutliveTheirPoolsOwner) {
  auto pool = TextPool::Create();
  std::weak_ptr<TextPool> watch = pool;
  auto text = Shared(*pool, "kept alive, and long enough to have storage of its own");
  pool->Give(std::string(200, 'k'));
  pool.reset();
  EXPECT_FALSE(watch.expired());
  EXPECT_EQ(*text, "kept alive, and long enough to have storage of its own");
  auto copy = text;
  text.reset();
  EXPECT_EQ(*copy, "kept alive, and long enough to have storage of its own");
  copy.reset();
  EXPECT_TRUE(watch.expired());
}

// Host threads write, another thread lets go, as the sending thread does: every text reads
// back whole while its storage goes round.
TEST(TextPool, TextsWrittenOnSomeThreadsAndLetGoOnAnotherStayWhole) {
  TextPool::Limits limits;
  limits.maxTexts = 64;
  auto pool = TextPool::Create(limits);
  std::mutex mutex;
  std::deque<std::pair<std::string, std::shared_ptr<const std::string>>> queued;
  std::atomic<int> writers{3};
  std::atomic<int> bad{0};
  std::vector<std::thread> threads;
  for (int w = 0; w < 3; ++w) {
    threads.emplace_back([&, w] {
      for (int i = 0; i < 5000; ++i) {
        const std::string expected =
            "w" + std::to_string(w) + "-" + std::to_string(i) + std::string(i % 97, 'z');
        auto text = Shared(*pool, expected);
        std::lock_guard<std::mutex> lock(mutex);
        queued.emplace_back(expected, std::move(text));
      }
      --writers;
    });
  }
  int checked = 0;
  for (;;) {
    std::deque<std::pair<std::string, std::shared_ptr<const std::string>>> batch;
    {
      std::lock_guard<std::mutex> lock(mutex);
      batch.swap(queued);
    }
    for (auto& q : batch) {
      if (*q.second != q.first) ++bad;
      ++checked;
    }
    batch.clear();  // let go here, on this thread
    if (writers == 0) {
      std::lock_guard<std::mutex> lock(mutex);
      if (queued.empty()) break;
    }
    std::this_thread::yield();
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(checked, 15000);
  EXPECT_EQ(bad, 0);
  EXPECT_LE(pool->KeptTexts(), 64u);
  EXPECT_GT(pool->KeptTexts(), 0u);
}

}  // namespace
