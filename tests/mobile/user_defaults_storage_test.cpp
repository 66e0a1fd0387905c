// User-defaults storage, plain and encrypted, over the in-memory and the file-backed store.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "CorvaneSDKCrypto.h"
#include "CorvaneSDKUserDefaultsStorage.h"
#include "MobileTestSupport.h"
#include "PropertyList.h"
#include "TempDir.h"

namespace CorvaneSDK {
namespace Mobile {
namespace {

class MobileUserDefaultsStorage : public ::testing::Test {
 protected:
  Testing::TestPorts ports_{Testing::TestPortsOptions{false, true}};
};

TEST_F(MobileUserDefaultsStorage, NamespacedKeysAndPlainValues) {
  auto store = ports_.defaults->standard();
  CorvaneSDKUserDefaultsStorage prefixed(store, std::string("corvane"), nullptr);
  CorvaneSDKUserDefaultsStorage bare(store, std::nullopt, nullptr);
  EXPECT_EQ(prefixed.namespacedKey("userId"), "corvane.userId");
  EXPECT_EQ(bare.namespacedKey("userId"), "userId");
  prefixed.setString("u1", "userId");
  EXPECT_EQ(*store->objectForKey("corvane.userId"), "u1");
  bare.setBool(true, "flag");
  bare.setUnsignedLongLong(1234567890123ull, "time");
  bare.setDictionary(Value{{"k", "v"}}, "dict");
  bare.setArray(Value::array({1, 2}), "list");
  bare.setData(std::string("\x01\x02", 2), "bytes");
  EXPECT_EQ(*prefixed.stringForKey("userId"), "u1");
  EXPECT_TRUE(bare.boolForKey("flag"));
  EXPECT_EQ(bare.unsignedLongLongForKey("time"), 1234567890123ull);
  EXPECT_EQ(*bare.dictionaryForKey("dict"), (Value{{"k", "v"}}));
  EXPECT_EQ(*bare.arrayForKey("list"), Value::array({1, 2}));
  EXPECT_EQ(*bare.dataForKey("bytes"), std::string("\x01\x02", 2));
  EXPECT_FALSE(bare.stringForKey("flag"));
  prefixed.resetAll();
  EXPECT_FALSE(store->objectForKey("corvane.userId"));
  EXPECT_TRUE(store->objectForKey("flag")) << "resetAll with a prefix touched other keys";
  bare.resetAll();
  EXPECT_TRUE(store->keys().empty());
}

TEST_F(MobileUserDefaultsStorage, EncryptedValuesAreStoredAsDataAndReadBack) {
  auto store = ports_.defaults->standard();
  auto crypto = CorvaneSDKAES256Crypto::initWithPassword("pw", "saltsalt", "0123456789abcdef");
  CorvaneSDKUserDefaultsStorage s(store, std::nullopt, crypto);
  s.setDictionary(Value{{"currency", "EUR"}}, "config");
  auto raw = store->objectForKey("config");
  ASSERT_TRUE(raw && isData(*raw));
  EXPECT_EQ(dataBytes(*raw).find("EUR"), std::string::npos);
  EXPECT_EQ(*s.dictionaryForKey("config"), (Value{{"currency", "EUR"}}));
  EXPECT_EQ(*s.plistForKey("config"), (Value{{"currency", "EUR"}}));
  s.setObject(nullptr, "config");
  EXPECT_FALSE(store->objectForKey("config"));
  // A plain value under the key (written before encryption was switched on) reads as absent.
  store->setObject("plain", "text");
  EXPECT_FALSE(s.stringForKey("plain"));
  EXPECT_TRUE(ports_.log->contains("does not hold encrypted data"));
  CorvaneSDKUserDefaultsStorage wrong(store, std::nullopt, CorvaneSDKAES256Crypto::initWithPassword("other"));
  s.setString("secret", "k");
  EXPECT_FALSE(wrong.stringForKey("k"));
  EXPECT_TRUE(store->objectForKey("k")) << "an unreadable value was deleted";
}

TEST_F(MobileUserDefaultsStorage, ValuesAPropertyListCannotHoldAreRefusedWithALine) {
  CorvaneSDKUserDefaultsStorage s(ports_.defaults->standard(), std::nullopt, nullptr);
  s.setArray(Value::array({1, nullptr}), "list");
  EXPECT_FALSE(s.arrayForKey("list"));
  EXPECT_TRUE(ports_.log->contains("Unable to serialize data from plist object; Error:"));
  CorvaneSDKUserDefaultsStorage enc(ports_.defaults->standard(), std::nullopt,
                                    CorvaneSDKAES256Crypto::initWithPassword("pw"));
  ports_.log->clear();
  enc.setArray(Value::array({nullptr}), "list");
  EXPECT_TRUE(ports_.log->contains("Unable to serialize data from plist object; Error: a property list cannot hold null"));
}

TEST_F(MobileUserDefaultsStorage, FileBackedSuitePersistsAcrossInstances) {
  {
    CorvaneSDKUserDefaultsStorage s(ports_.defaults->suite("com.example.suite"), std::nullopt, nullptr);
    s.setString("kept", "k");
    s.setUnsignedLongLong(7, "n");
  }
  FileUserDefaultsProvider again(ports_.files);
  auto store = again.suite("com.example.suite");
  EXPECT_EQ(*store->objectForKey("k"), "kept");
  EXPECT_EQ(store->objectForKey("n")->get<int64_t>(), 7);
  const std::string path = ports_.root() + "/Library/Preferences/com.example.suite.plist";
  EXPECT_TRUE(PropertyList::read(CorvaneSDK::Test::ReadFileBytes(path)));
}

TEST_F(MobileUserDefaultsStorage, DamagedDefaultsFileStartsEmptyAndIsReplacedOnWrite) {
  const std::string folder = ports_.root() + "/Library/Preferences";
  std::filesystem::create_directories(folder);
  ASSERT_TRUE(CorvaneSDK::Test::WriteFileBytes(folder + "/standard.plist", "<plist><dict><key>a</key>"));
  FileUserDefaults store(ports_.files, folder + "/standard.plist");
  EXPECT_TRUE(store.keys().empty());
  EXPECT_NE(store.lastError().find("unreadable defaults file"), std::string::npos);
  store.setObject("a", 1);
  FileUserDefaults reread(ports_.files, folder + "/standard.plist");
  EXPECT_EQ(reread.objectForKey("a")->get<int64_t>(), 1);
}

TEST(MobileUserDefaultsThreads, ConcurrentWritersAndReadersKeepEveryValue) {
  Testing::TestPorts ports{Testing::TestPortsOptions{false, true}};
  auto store = ports.defaults->suite("threads");
  CorvaneSDKUserDefaultsStorage s(store, std::string("t"), nullptr);
  std::vector<std::thread> threads;
  std::atomic<int> misreads{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        const std::string key = "k" + std::to_string(t) + "-" + std::to_string(i);
        s.setUnsignedLongLong(static_cast<uint64_t>(t * 1000 + i), key);
        if (s.unsignedLongLongForKey(key) != static_cast<uint64_t>(t * 1000 + i)) ++misreads;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(misreads.load(), 0);
  FileUserDefaultsProvider reread(ports.files);
  EXPECT_EQ(reread.suite("threads")->keys().size(), 200u);
}

}  // namespace
}  // namespace Mobile
}  // namespace CorvaneSDK
