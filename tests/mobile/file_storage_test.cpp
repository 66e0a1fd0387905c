// File storage on real files in a temp folder: the queue round trip, backup exclusion, the
// property-list conversion, encryption, damaged and planted files, failing and full disks.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "CorvaneSDKConfiguration.h"
#include "CorvaneSDKCrypto.h"
#include "CorvaneSDKFileStorage.h"
#include "CorvaneSDKUserDefaultsStorage.h"
#include "MobileTestSupport.h"
#include "PropertyList.h"
#include "TempDir.h"

namespace CorvaneSDK {
namespace Mobile {
namespace {

using CorvaneSDK::Test::ReadFileBytes;
using CorvaneSDK::Test::WriteFileBytes;
namespace fs = std::filesystem;

const char* const kQueueKey = "corvane.sdk.queue.plist";

Value sampleQueue(int n) {
  Value queue = Value::array();
  for (int i = 0; i < n; ++i) {
    queue.push_back(Value{{"eId", "e" + std::to_string(i)}, {"id", "s"}, {"timeInMs", 1765000000000LL + i},
                          {"cfgId", "default"}, {"eventName", "qvsdk_level_attempt"},
                          {"value", Value{{"level", i}, {"name", "level"}}}});
  }
  return queue;
}

class MobileFileStorage : public ::testing::Test {
 protected:
  std::shared_ptr<CorvaneSDKFileStorage> storage(std::shared_ptr<CorvaneSDKCrypto> crypto = nullptr) {
    return std::make_shared<CorvaneSDKFileStorage>(CorvaneSDKFileStorage::applicationSupportDirectoryURL(), crypto);
  }
  Testing::TestPorts ports_;
};

TEST_F(MobileFileStorage, FolderIsApplicationSupportPlusBundleIdentifier) {
  EXPECT_EQ(CorvaneSDKFileStorage::applicationSupportDirectoryURL(),
            ports_.root() + "/Library/Application Support/com.example.game");
  EXPECT_EQ(CorvaneSDKFileStorage::cachesDirectoryURL(), ports_.root() + "/Library/Caches/com.example.game");
  auto s = storage();
  EXPECT_TRUE(fs::is_directory(s->folderURL()));
  EXPECT_EQ(s->urlForKey(kQueueKey), s->folderURL() + "/" + kQueueKey);
}

TEST_F(MobileFileStorage, QueueRoundTripsAndIsExcludedFromBackup) {
  auto s = storage();
  const Value queue = sampleQueue(30);
  s->setArray(queue, kQueueKey);
  auto back = s->arrayForKey(kQueueKey);
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, queue);
  EXPECT_TRUE(ports_.files->isExcludedFromBackup(s->urlForKey(kQueueKey)));
  Value onDisk;
  ASSERT_TRUE(parseJson(ReadFileBytes(s->urlForKey(kQueueKey)), onDisk)) << "the queue file holds JSON despite its name";
  EXPECT_EQ(onDisk, queue);
  EXPECT_FALSE(s->dictionaryForKey(kQueueKey)) << "an array is not a dictionary";
}

TEST_F(MobileFileStorage, PropertyListQueueIsReadAndRewrittenAsJson) {
  auto s = storage();
  const Value queue = sampleQueue(3);
  for (bool binary : {false, true}) {
    auto plist = binary ? PropertyList::writeBinary(queue) : PropertyList::writeXml(queue);
    ASSERT_TRUE(WriteFileBytes(s->urlForKey(kQueueKey), *plist));
    auto back = s->arrayForKey(kQueueKey);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, queue);
    Value onDisk;
    EXPECT_TRUE(parseJson(ReadFileBytes(s->urlForKey(kQueueKey)), onDisk)) << "still a property list on disk";
    EXPECT_EQ(onDisk, queue);
  }
}

TEST_F(MobileFileStorage, PropertyListThatJsonCannotHoldIsAnsweredAndKept) {
  auto s = storage();
  const Value withData = Value::array({makeData("raw")});
  const std::string plist = *PropertyList::writeXml(withData);
  ASSERT_TRUE(WriteFileBytes(s->urlForKey("legacy"), plist));
  auto back = s->jsonForKey("legacy");
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, withData);
  EXPECT_EQ(ReadFileBytes(s->urlForKey("legacy")), plist) << "the file was changed or lost";
  EXPECT_TRUE(ports_.log->contains("Unable to serialize data from json object;"));
}

TEST_F(MobileFileStorage, EncryptedFileIsNotTheJsonTextAndReadsBack) {
  auto crypto = CorvaneSDKAES256Crypto::initWithPassword("pw", "saltsalt", "0123456789abcdef");
  auto s = storage(crypto);
  const Value queue = sampleQueue(5);
  s->setArray(queue, kQueueKey);
  const std::string bytes = ReadFileBytes(s->urlForKey(kQueueKey));
  EXPECT_EQ(bytes.find("qvsdk_level_attempt"), std::string::npos);
  Value ignored;
  EXPECT_FALSE(parseJson(bytes, ignored));
  EXPECT_EQ(bytes.size() % 16, 0u);
  EXPECT_EQ(*s->arrayForKey(kQueueKey), queue);
  // The next launch makes its encryptor from the same values and reads it.
  auto again = storage(CorvaneSDKAES256Crypto::initWithPassword("pw", "saltsalt", "0123456789abcdef"));
  EXPECT_EQ(*again->arrayForKey(kQueueKey), queue);
}

TEST_F(MobileFileStorage, FileThatFailsToDecryptReadsAsAbsentAndIsKept) {
  auto s = storage(CorvaneSDKAES256Crypto::initWithPassword("right"));
  s->setArray(sampleQueue(2), kQueueKey);
  const std::string before = ReadFileBytes(s->urlForKey(kQueueKey));
  auto wrong = storage(CorvaneSDKAES256Crypto::initWithPassword("wrong"));
  EXPECT_FALSE(wrong->arrayForKey(kQueueKey));
  EXPECT_TRUE(ports_.log->contains("Unable to decrypt data for key corvane.sdk.queue.plist"));
  EXPECT_EQ(ReadFileBytes(s->urlForKey(kQueueKey)), before);
  auto plain = storage();
  EXPECT_FALSE(plain->arrayForKey(kQueueKey)) << "cipher text parsed as a queue";
  EXPECT_EQ(ReadFileBytes(s->urlForKey(kQueueKey)), before);
}

TEST_F(MobileFileStorage, DamagedFileReadsAsAbsentWithItsLineAndIsKept) {
  auto s = storage();
  for (const std::string& garbage : {std::string("[{\"eId\": 1,"), std::string("\x00\x01\x02", 3), std::string("bplist00xx"),
                                     std::string(100000, '['), std::string("<plist><array><string>x</array>")}) {
    ports_.log->clear();
    ASSERT_TRUE(WriteFileBytes(s->urlForKey(kQueueKey), garbage));
    EXPECT_FALSE(s->arrayForKey(kQueueKey));
    EXPECT_TRUE(ports_.log->contains("Unable to parse json from data {length = " + std::to_string(garbage.size())));
    EXPECT_EQ(ReadFileBytes(s->urlForKey(kQueueKey)), garbage);
  }
}

TEST_F(MobileFileStorage, MissingFileLogsItsWarning) {
  auto s = storage();
  EXPECT_FALSE(s->dataForKey("nothing"));
  EXPECT_TRUE(ports_.log->contains("WARNING: No data file for key nothing"));
  EXPECT_FALSE(s->boolForKey("nothing"));
  EXPECT_EQ(s->unsignedLongLongForKey("nothing"), 0u);
}

TEST_F(MobileFileStorage, ScalarKindsRoundTripAsPropertyLists) {
  auto s = storage();
  s->setString("user-1", "userId");
  s->setBool(true, "flag");
  s->setUnsignedLongLong(18446744073709551615ull, "big");
  s->setDictionary(Value{{"a", 1}}, "dict");
  EXPECT_EQ(*s->stringForKey("userId"), "user-1");
  EXPECT_TRUE(s->boolForKey("flag"));
  EXPECT_EQ(s->unsignedLongLongForKey("big"), 18446744073709551615ull);
  EXPECT_EQ(*s->dictionaryForKey("dict"), (Value{{"a", 1}}));
  EXPECT_TRUE(PropertyList::read(ReadFileBytes(s->urlForKey("userId"))));
  EXPECT_FALSE(s->stringForKey("flag")) << "a boolean is not a string";
}

TEST_F(MobileFileStorage, ValuesJsonCannotHoldStoreNothing) {
  auto s = storage();
  s->setArray(Value::array({1}), "k");
  s->setJSON(Value::array({std::numeric_limits<double>::quiet_NaN()}), "k");
  EXPECT_TRUE(ports_.log->contains("Unable to serialize data from json object; a non-finite number"));
  s->setJSON(Value::array({makeData("x")}), "k");
  EXPECT_EQ(*s->arrayForKey("k"), Value::array({1})) << "a failed write replaced the old value";
  s->setArray(Value::object(), "k");
  EXPECT_EQ(*s->arrayForKey("k"), Value::array({1}));
}

TEST_F(MobileFileStorage, InvalidUtf8IsReplacedNotRefused) {
  auto s = storage();
  s->setArray(Value::array({std::string("ab\xff")}), "k");
  auto back = s->arrayForKey("k");
  ASSERT_TRUE(back);
  EXPECT_EQ((*back)[0], "ab\xEF\xBF\xBD");
}

TEST_F(MobileFileStorage, RemoveAndResetAll) {
  auto s = storage();
  s->setString("x", "a");
  s->setString("y", "b");
  s->removeKey("a");
  EXPECT_FALSE(fs::exists(s->urlForKey("a")));
  s->removeKey("a");
  EXPECT_TRUE(ports_.log->contains("Unable to remove key a - error removing file at path " + s->urlForKey("a")));
  s->setData(std::nullopt, "b");
  EXPECT_FALSE(fs::exists(s->urlForKey("b")));
  s->setString("z", "c");
  s->resetAll();
  EXPECT_TRUE(fs::is_directory(s->folderURL()));
  EXPECT_TRUE(fs::is_empty(s->folderURL()));
  ports_.files->setInjector([](const std::string& op, const std::string&) { return op == "removeDirectory"; });
  s->resetAll();
  EXPECT_TRUE(ports_.log->contains("ERROR: Unable to reset file storage. Path cannot be removed - " + s->folderURL()));
}

TEST_F(MobileFileStorage, KeysThatLeaveTheFolderAreRefused) {
  auto s = storage();
  for (const std::string& key : std::vector<std::string>{"../escape", "..", ".", "", "a/b", std::string("a\0b", 3)}) {
    s->setString("x", key);
    EXPECT_FALSE(s->stringForKey(key));
  }
  EXPECT_FALSE(fs::exists(ports_.root() + "/Library/Application Support/escape"));
  EXPECT_TRUE(ports_.log->contains("Refusing storage key"));
}

TEST_F(MobileFileStorage, PlantedFolderOrFifoUnderAKeyIsNotRead) {
  auto s = storage();
  fs::create_directories(s->urlForKey("dir"));
  EXPECT_FALSE(s->dataForKey("dir"));
  ASSERT_EQ(::mkfifo(s->urlForKey("fifo").c_str(), 0600), 0);
  EXPECT_FALSE(s->dataForKey("fifo")) << "a FIFO would have blocked the reader";
  EXPECT_TRUE(ports_.log->contains("is not a regular file"));
}

TEST_F(MobileFileStorage, TenMegabyteValuesRoundTrip) {
  auto s = storage();
  const std::string big(10u << 20, 'x');
  s->setArray(Value::array({big}), "big");
  auto back = s->arrayForKey("big");
  ASSERT_TRUE(back);
  EXPECT_EQ((*back)[0].get_ref<const std::string&>().size(), big.size());
}

TEST_F(MobileFileStorage, FailedWriteLeavesThePreviousFileWhole) {
  auto s = storage();
  s->setArray(sampleQueue(3), kQueueKey);
  const std::string before = ReadFileBytes(s->urlForKey(kQueueKey));
  ports_.files->setInjector([](const std::string& op, const std::string&) { return op == "write"; });
  s->setArray(sampleQueue(4), kQueueKey);
  EXPECT_TRUE(ports_.log->contains("Unable to write data for key corvane.sdk.queue.plist"));
  EXPECT_EQ(ReadFileBytes(s->urlForKey(kQueueKey)), before);
  ports_.files->setInjector([](const std::string& op, const std::string&) { return op == "exclude"; });
  s->setArray(sampleQueue(4), kQueueKey);
  EXPECT_TRUE(ports_.log->contains("Error excluding corvane.sdk.queue.plist from backup"));
  EXPECT_EQ(s->arrayForKey(kQueueKey)->size(), 4u);
}

TEST_F(MobileFileStorage, FullDiskKeepsTheLastWholeFile) {
  auto s = storage();
  bool mounted = false;
  std::string how;
  if (::geteuid() == 0) {
    mounted = ::mount("tmpfs", s->folderURL().c_str(), "tmpfs", 0, "size=64k") == 0;
    how = mounted ? "64 KiB tmpfs" : std::string("mount refused: ") + std::strerror(errno);
  } else {
    how = "not root";
  }
  if (!mounted) {
    // The fault injector plays the full disk: writes beyond 64 KiB fail.
    ports_.files->setInjector([](const std::string&, const std::string&) { return false; });
  }
  struct Unmount {
    bool on;
    std::string path;
    ~Unmount() {
      if (on) ::umount2(path.c_str(), MNT_DETACH);
    }
  } unmount{mounted, s->folderURL()};
  const Value small = sampleQueue(50);  // about 9 KB
  s->setArray(small, kQueueKey);
  ASSERT_EQ(*s->arrayForKey(kQueueKey), small);
  const Value huge = sampleQueue(1000);  // about 180 KB: cannot fit
  if (!mounted) {
    ports_.files->setInjector([](const std::string& op, const std::string&) { return op == "write"; });
  }
  ports_.log->clear();
  s->setArray(huge, kQueueKey);
  EXPECT_TRUE(ports_.log->contains("Unable to write data for key corvane.sdk.queue.plist")) << how;
  EXPECT_EQ(*s->arrayForKey(kQueueKey), small) << how << ": the old queue was damaged";
  std::error_code ec;
  size_t leftovers = 0;
  for (const auto& entry : fs::directory_iterator(s->folderURL(), ec)) {
    leftovers += entry.path().filename().string().find(".tmp-") != std::string::npos ? 1 : 0;
  }
  EXPECT_EQ(leftovers, 0u) << "a temp file was left behind";
  std::printf("full disk (%s): the write failed with its line and the previous queue reads whole\n", how.c_str());
}

TEST_F(MobileFileStorage, ConfigurationCryptoIsUsedByBothStorages) {
  CorvaneSDKConfiguration config("app", "secret");
  config.crypto = CorvaneSDKAES256Crypto::initWithPassword("host password");
  auto files = CorvaneSDKFileStorage::forConfiguration(config);
  EXPECT_EQ(files->crypto(), config.crypto);
  files->setArray(sampleQueue(1), kQueueKey);
  EXPECT_EQ(ReadFileBytes(files->urlForKey(kQueueKey)).compare(0, 4, "CVNE"), 0);
  auto defaults = CorvaneSDKUserDefaultsStorage::forConfiguration(config);
  EXPECT_EQ(defaults->crypto(), config.crypto);
  defaults->setString("user-1", "CorvaneSDKUserId");
  auto stored = ports_.defaults->standard()->objectForKey("CorvaneSDKUserId");
  ASSERT_TRUE(stored);
  ASSERT_TRUE(isData(*stored)) << "stored in the clear: " << dumpJson(*stored);
  EXPECT_EQ(dataBytes(*stored).compare(0, 4, "CVNE"), 0);
  EXPECT_EQ(*defaults->stringForKey("CorvaneSDKUserId"), "user-1");
  // Without a crypto object in the configuration both store in the clear.
  CorvaneSDKConfiguration plain("app", "secret");
  EXPECT_FALSE(CorvaneSDKFileStorage::forConfiguration(plain)->crypto());
  EXPECT_FALSE(CorvaneSDKUserDefaultsStorage::forConfiguration(plain)->crypto());
}

}  // namespace
}  // namespace Mobile
}  // namespace CorvaneSDK
