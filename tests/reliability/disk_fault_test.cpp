// Disk faults under the running SDK: an unwritable save folder, one removed while it runs and
// a full one (128 KiB tmpfs, or the file fault injector): no crash, a clear Error line, every
// event delivered once from memory, and a working queue file at the next start.
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "FileIO.h"
#include "QueueFile.h"
#include "LogCapture.h"
#include "TestEnv.h"
#include "sdk_harness.h"

namespace CorvaneSDK {
namespace Test {
namespace {

namespace fs = std::filesystem;

class DiskFaultTest : public SdkHarness {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.Start()); }
  void TearDown() override {
    SdkHarness::TearDown();
    ::CorvaneSDK::Test::ProcessEnv().SetFileFaultInjector(nullptr);
    if (mounted_) ::umount2(SaveDir().c_str(), MNT_DETACH);
    std::error_code ec;
    fs::permissions(SaveDir(), fs::perms::owner_all, ec);
  }

  // Recovery at the next start: events logged while the server fails land in the queue
  // file, survive a restart, and arrive once the server accepts them.
  void ExpectFileWorksAtNextStart(const char* what) {
    CorvaneSDKManager_Destroy();
    server_.SetStatus(503);
    Init(Data(server_.Url()));
    const auto kept = Log("next-start-", 4);
    const QueueHeader header = ReadQueueHeader(QueuePath());
    EXPECT_TRUE(header.present) << what << ": no queue file at the next start";
    EXPECT_GE(header.count, 4u) << what;
    CorvaneSDKManager_Destroy();
    server_.SetStatus(204);
    Init(Data(server_.Url()));
    EXPECT_TRUE(WaitUntil([&] { return server_.ledger().Has(kept); })) << what;
    EXPECT_EQ(server_.ledger().Duplicates(), 0) << what;
    std::printf("%s: next start keeps %u events in the queue file and delivers them once after "
                "a restart\n",
                what, header.count);
  }

  SwitchServer server_;
  bool mounted_ = false;
  std::atomic<int> queueWrites_{0};
};

TEST_F(DiskFaultTest, UnwritableSaveFolderRunsInMemoryAndRecoversAtNextStart) {
  ASSERT_TRUE(fs::create_directories(SaveDir()));
  fs::permissions(SaveDir(), fs::perms::owner_read | fs::perms::owner_exec);
  // Root ignores permission bits (CAP_DAC_OVERRIDE): when a file can still be created, the
  // fault injector refuses every file operation in the folder instead.
  const std::string probe = SaveDir() + "/probe";
  FILE* f = std::fopen(probe.c_str(), "w");
  const bool permissionsBind = f == nullptr;
  if (f != nullptr) {
    std::fclose(f);
    std::remove(probe.c_str());
    const std::string folder = SaveDir();
    ::CorvaneSDK::Test::ProcessEnv().SetFileFaultInjector([folder](FileOp op, const std::string& path) {
      return op != FileOp::Read && path.rfind(folder, 0) == 0;
    });
  }
  LogCapture capture(kLogError);
  server_.SetStatus(503);
  Init(Data(server_.Url()));
  const auto labels = Log("unwritable-", 6);
  EXPECT_TRUE(capture.Contains("Cannot init queue file")) << "no Error line for the queue file";
  EXPECT_FALSE(ReadQueueHeader(QueuePath()).present);
  ASSERT_TRUE(WaitUntil([&] { return server_.Requests() >= 4; }));
  server_.SetStatus(204);  // kept in memory through the failures, delivered now
  ASSERT_TRUE(WaitUntil([&] { return server_.ledger().Has(labels); }));
  EXPECT_EQ(server_.ledger().Duplicates(), 0);
  CorvaneSDKManager_Destroy();
  EXPECT_TRUE(capture.Contains("Cannot write properties file"));
  std::printf("unwritable folder (%s): Error \"Cannot init queue file\"; %zu/%zu events "
              "delivered once from memory after %d refused uploads\n",
              permissionsBind ? "chmod 0500" : "running as root, so the fault injector refuses writes",
              labels.size() - server_.ledger().Missing(labels), labels.size(), server_.Refused());

  ::CorvaneSDK::Test::ProcessEnv().SetFileFaultInjector(nullptr);
  fs::permissions(SaveDir(), fs::perms::owner_all);
  ExpectFileWorksAtNextStart("unwritable folder");
}

TEST_F(DiskFaultTest, SaveFolderRemovedWhileRunningContinuesInMemoryAndRecoversAtNextStart) {
  LogCapture capture(kLogError);
  server_.SetStatus(503);
  Init(Data(server_.Url()));
  auto labels = Log("before-", 5);
  ASSERT_EQ(ReadQueueHeader(QueuePath()).count, 5u);
  std::error_code ec;
  fs::remove_all(SaveDir(), ec);
  ASSERT_FALSE(ec) << ec.message();
  const auto after = Log("after-", 5);
  labels.insert(labels.end(), after.begin(), after.end());
  ASSERT_TRUE(WaitUntil([&] { return server_.Requests() >= 4; }));
  server_.SetStatus(204);
  ASSERT_TRUE(WaitUntil([&] { return server_.ledger().Has(labels); }));
  // Emptying the queue recreates the file, which cannot happen in a missing folder.
  EXPECT_TRUE(WaitUntil([&] { return capture.Contains("continuing in memory only"); }))
      << "no Error line once the queue file could not be recreated";
  // Memory only from here on: later events still go out.
  server_.SetStatus(503);
  const auto memoryOnly = Log("memory-", 3);
  ASSERT_TRUE(WaitUntil([&] { return server_.Requests() >= 12; }));
  server_.SetStatus(204);
  ASSERT_TRUE(WaitUntil([&] { return server_.ledger().Has(memoryOnly); }));
  EXPECT_EQ(server_.ledger().Duplicates(), 0);
  EXPECT_FALSE(fs::exists(SaveDir())) << "the folder was recreated behind the host's back";
  const auto errors = capture.Lines();
  std::printf("folder removed while running: %zu/%zu events delivered once (%zu logged after "
              "the removal, %zu once memory-only); Error lines: %zu, first: \"%s\"\n",
              labels.size() + memoryOnly.size() - server_.ledger().Missing(labels) -
                  server_.ledger().Missing(memoryOnly),
              labels.size() + memoryOnly.size(), after.size(), memoryOnly.size(), errors.size(),
              errors.empty() ? "" : errors[0].c_str());
  ExpectFileWorksAtNextStart("folder removed");
}

TEST_F(DiskFaultTest, FullDiskContinuesInMemoryAndRecoversAtNextStart) {
  ASSERT_TRUE(fs::create_directories(SaveDir()));
  mounted_ = ::mount("tmpfs", SaveDir().c_str(), "tmpfs", 0, "size=128k,mode=0700") == 0;
  const int mountErrno = errno;
  if (!mounted_) {
    // No mount permitted: the queue file's writes start failing after about 128 KiB.
    ::CorvaneSDK::Test::ProcessEnv().SetFileFaultInjector([this](FileOp op, const std::string& path) {
      return op == FileOp::Write && path.find(".event_queue") != std::string::npos &&
             ++queueWrites_ > 80;
    });
  }
  LogCapture capture(kLogError);
  server_.SetStatus(503);
  Init(Data(server_.Url()));
  std::vector<std::string> labels;
  for (int round = 0; round < 40 && !capture.Contains("continuing in memory only"); ++round) {
    const auto more = Log("full-" + std::to_string(round) + "-", 4, 2000);
    labels.insert(labels.end(), more.begin(), more.end());
  }
  EXPECT_TRUE(capture.Contains("continuing in memory only")) << "the disk never filled up";
  const auto inMemory = Log("memory-", 4, 2000);
  labels.insert(labels.end(), inMemory.begin(), inMemory.end());
  ASSERT_TRUE(WaitUntil([&] { return server_.Requests() >= 4; }));
  server_.SetStatus(204);
  ASSERT_TRUE(WaitUntil([&] { return server_.ledger().Has(labels); }));
  EXPECT_EQ(server_.ledger().Duplicates(), 0);
  const auto errors = capture.Lines();
  std::printf("full disk (%s): %zu/%zu events (2 KB each) delivered once; Error lines: %zu, "
              "first: \"%s\"\n",
              mounted_ ? "128 KiB tmpfs" : ("mount refused: " + std::string(std::strerror(mountErrno)) +
                                            "; fault injector").c_str(),
              labels.size() - server_.ledger().Missing(labels), labels.size(), errors.size(),
              errors.empty() ? "" : errors[0].c_str());
  ::CorvaneSDK::Test::ProcessEnv().SetFileFaultInjector(nullptr);
  ExpectFileWorksAtNextStart("full disk");
  // The properties file is replaced atomically, so the user id survived the full disk.
  EXPECT_EQ(server_.ledger().UserIds().size(), 1u);
}

TEST_F(DiskFaultTest, FullDiskKeepsTheSavedQueueForTheNextStart) {
  ASSERT_TRUE(fs::create_directories(SaveDir()));
  mounted_ = ::mount("tmpfs", SaveDir().c_str(), "tmpfs", 0, "size=256k,mode=0700") == 0;
  server_.SetStatus(503);
  Init(Data(server_.Url()));
  const auto saved = Log("saved-", 100);
  CorvaneSDKManager_Destroy();
  ASSERT_GE(ReadQueueHeader(QueuePath()).count, 100u);

  // The next run finds the disk full.
  const std::string filler = SaveDir() + "/filler";
  if (mounted_) {
    FILE* f = std::fopen(filler.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    const std::string block(4096, 'f');
    while (std::fwrite(block.data(), 1, block.size(), f) == block.size() && std::fflush(f) == 0) {
    }
    std::fclose(f);
  } else {
    ::CorvaneSDK::Test::ProcessEnv().SetFileFaultInjector([](FileOp op, const std::string& path) {
      return op == FileOp::Write && path.find(".event_queue") != std::string::npos;
    });
  }
  LogCapture capture(kLogError);
  Init(Data(server_.Url()));
  for (int round = 0; round < 40 && !capture.Contains("continuing in memory only"); ++round) {
    Log("full-" + std::to_string(round) + "-", 4, 2000);
  }
  EXPECT_TRUE(capture.Contains("continuing in memory only")) << "the disk never filled up";
  CorvaneSDKManager_Destroy();
  EXPECT_GE(ReadQueueHeader(QueuePath()).count, 100u) << "the saved queue must survive";

  // Space comes back: the events saved before the full disk arrive, once.
  std::remove(filler.c_str());
  ::CorvaneSDK::Test::ProcessEnv().SetFileFaultInjector(nullptr);
  server_.SetStatus(204);
  Init(Data(server_.Url()));
  EXPECT_TRUE(WaitUntil([&] { return server_.ledger().Has(saved); }))
      << server_.ledger().Missing(saved) << " of " << saved.size() << " saved events lost";
  EXPECT_EQ(server_.ledger().Duplicates(), 0);
  std::printf("full disk on a later run (%s): %zu/%zu events saved before it delivered at the "
              "start after\n",
              mounted_ ? "256 KiB tmpfs" : "fault injector",
              saved.size() - server_.ledger().Missing(saved), saved.size());
}

TEST_F(DiskFaultTest, OfflineQueueAtItsCapDropsTheOldestWhileTheOpenEventIsPending) {
  ::InitializationData* data = Data(server_.Url());
  InitializationData_SetOffline(data, 1);
  Init(data);
  LogCapture capture(kLogWarning);
  const auto labels = Log("capped-", 5010);
  EXPECT_EQ(capture.CountContaining("Event queue full"), 1) << "one counted line per 10 s";
  CorvaneSDKManager_SetOffline(CorvaneSDKManager_GetInstance(), 0);
  const std::vector<std::string> newest(labels.end() - 10, labels.end());
  EXPECT_TRUE(WaitUntil([&] { return server_.ledger().Has(newest); })) << "the newest were dropped";
  EXPECT_EQ(server_.ledger().Missing({labels.front()}), 1) << "the oldest should go first";
}

// On a real full disk the mapped queue file fails where it grows (its reservation), never
// with a fault on a store, and keeps what it committed. A file that an earlier writer left
// with holes is not mapped when its blocks cannot be had, and its writes fail as errors.
TEST_F(DiskFaultTest, FullDiskFailsTheGrowthOfTheMappedQueueFileAsAnError) {
  ASSERT_TRUE(fs::create_directories(SaveDir()));
  mounted_ = ::mount("tmpfs", SaveDir().c_str(), "tmpfs", 0, "size=64k,mode=0700") == 0;
  if (!mounted_) GTEST_SKIP() << "no tmpfs mount permitted";
  const std::string holes = SaveDir() + "/.event_queue.holes";
  {
    // An earlier writer's grown file: header and elements at the start, the rest a hole.
    QueueFile earlier(holes);
    ASSERT_TRUE(earlier.Init());
    ASSERT_TRUE(earlier.Add("abc", 3));
    ASSERT_TRUE(earlier.Close());
    std::string bytes;
    ASSERT_TRUE(ReadWholeFile(holes, bytes, 4096));
    bytes[2] = 0x20;  // file length 8192
    ASSERT_EQ(::truncate(holes.c_str(), 8192), 0);
    FILE* f = std::fopen(holes.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, 16, f), 16u);
    std::fclose(f);
  }
  QueueFile q(QueuePath());
  ASSERT_TRUE(q.Init());
  EXPECT_TRUE(q.Mapped());
  const std::string filler = SaveDir() + "/filler";
  FILE* f = std::fopen(filler.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  const std::string block(4096, 'f');
  while (std::fwrite(block.data(), 1, block.size(), f) == block.size() && std::fflush(f) == 0) {
  }
  std::fclose(f);

  const std::string element(1000, 'e');
  int added = 0;
  while (q.Add(element.data(), 1000)) ++added;
  EXPECT_EQ(added, 4);  // the fifth needs the ring to grow
  EXPECT_NE(q.LastFailure().find("No space"), std::string::npos) << q.LastFailure();
  EXPECT_EQ(q.Count(), 4u);
  EXPECT_EQ(q.FileLength(), 4096u);
  q.Close();
  QueueFile again(QueuePath());
  ASSERT_TRUE(again.Init());
  std::vector<std::string> texts;
  EXPECT_TRUE(again.ReadAll(texts, nullptr));
  EXPECT_EQ(texts, std::vector<std::string>(4, element));
  again.Close();

  QueueFile old(holes);
  ASSERT_TRUE(old.Init());
  EXPECT_TRUE(old.ValidateHeader(nullptr));
  EXPECT_FALSE(old.Mapped());
  while (old.Add(element.data(), 1000)) {
  }
  EXPECT_NE(old.LastFailure().find("No space"), std::string::npos) << old.LastFailure();
  EXPECT_GE(old.Count(), 1u);
}

}  // namespace
}  // namespace Test
}  // namespace CorvaneSDK
