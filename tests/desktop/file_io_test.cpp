// Tests of the file I/O layer: positioned unbuffered access, whole-file helpers, atomic
// replacement and the fault injector.
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "FileIO.h"
#include "TempDir.h"
#include "TestEnv.h"

namespace CorvaneSDK {
namespace {

using Test::ReadFileBytes;
using Test::TempDir;
using Test::WriteFileBytes;

// Installs an injector for the scope of a test and always restores normal behaviour.
class InjectorScope {
 public:
  explicit InjectorScope(std::function<bool(FileOp, const std::string&)> f) {
    ::CorvaneSDK::Test::ProcessEnv().SetFileFaultInjector(std::move(f));
  }
  ~InjectorScope() { ::CorvaneSDK::Test::ProcessEnv().SetFileFaultInjector({}); }
};

std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    names.push_back(e.path().filename().string());
  }
  return names;
}

TEST(FileIO, OpenCreatesAMissingFileOnlyWhenAsked) {
  TempDir dir;
  const std::string path = dir.File("a.bin");
  bool created = true;
  EXPECT_EQ(RandomAccessFile::Open(path, false, &created), nullptr);
  EXPECT_FALSE(created);
  EXPECT_FALSE(FileExists(path));

  auto file = RandomAccessFile::Open(path, true, &created);
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(created);
  EXPECT_EQ(file->Size(), 0);
  EXPECT_EQ(file->Path(), path);
  file.reset();

  file = RandomAccessFile::Open(path, true, &created);
  ASSERT_NE(file, nullptr);
  EXPECT_FALSE(created);
  EXPECT_NE(RandomAccessFile::Open(path, true, nullptr), nullptr);
}

TEST(FileIO, OpenFailsInAMissingFolderAndOnAFolder) {
  TempDir dir;
  EXPECT_EQ(RandomAccessFile::Open(JoinPath(dir.path(), "no/such/x"), true, nullptr), nullptr);
  EXPECT_EQ(RandomAccessFile::Open(dir.path(), true, nullptr), nullptr);
}

TEST(FileIO, PathKindRenameAndListingSeeEntriesThemselves) {
  TempDir dir;
  const std::string file = dir.File("f");
  ASSERT_TRUE(WriteFileBytes(file, "x"));
  EXPECT_EQ(GetPathKind(file), PathKind::Regular);
  EXPECT_EQ(GetPathKind(dir.path()), PathKind::Other);
  EXPECT_EQ(GetPathKind(dir.File("missing")), PathKind::Missing);
  ASSERT_TRUE(WriteFileBytes(dir.File("g"), "old"));
  EXPECT_TRUE(RenameFile(file, dir.File("g")));  // replaces
  EXPECT_EQ(ReadFileBytes(dir.File("g")), "x");
  EXPECT_EQ(ListFolder(dir.path()), std::vector<std::string>{"g"});
  EXPECT_TRUE(ListFolder(dir.File("missing")).empty());
  InjectorScope scope([](FileOp op, const std::string&) { return op == FileOp::Rename; });
  EXPECT_FALSE(RenameFile(dir.File("g"), file));
}

#ifndef _WIN32
TEST(FileIO, OpenRefusesLinksAndFifosWithoutBlocking) {
  TempDir dir;
  const std::string target = dir.File("target");
  ASSERT_TRUE(WriteFileBytes(target, "kept"));
  const std::string link = dir.File("link");
  ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
  EXPECT_EQ(RandomAccessFile::Open(link, true, nullptr), nullptr);
  EXPECT_EQ(GetPathKind(link), PathKind::Other);
  const std::string fifo = dir.File("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(RandomAccessFile::Open(fifo, true, nullptr), nullptr);
  EXPECT_EQ(GetPathKind(fifo), PathKind::Other);
  // A link is renamed itself; its target stays where it is.
  EXPECT_TRUE(RenameFile(link, dir.File("moved")));
  EXPECT_EQ(ReadFileBytes(target), "kept");
}
#endif

TEST(FileIO, WriteAtReadAtAndSize) {
  TempDir dir;
  auto file = RandomAccessFile::Open(dir.File("a.bin"), true, nullptr);
  ASSERT_NE(file, nullptr);
  ASSERT_TRUE(file->WriteAt(10, "hello", 5));
  EXPECT_EQ(file->Size(), 15);
  char buf[16] = {};
  ASSERT_TRUE(file->ReadAt(0, buf, 15));
  EXPECT_EQ(std::string(buf, 10), std::string(10, '\0'));  // the gap reads as zeros
  EXPECT_EQ(std::string(buf + 10, 5), "hello");
  EXPECT_FALSE(file->ReadAt(12, buf, 5));  // short read
  EXPECT_FALSE(file->ReadAt(100, buf, 1));
  EXPECT_TRUE(file->ReadAt(15, buf, 0));
  ASSERT_TRUE(file->WriteAt(11, "EL", 2));
  ASSERT_TRUE(file->ReadAt(10, buf, 5));
  EXPECT_EQ(std::string(buf, 5), "hELlo");
}

TEST(FileIO, WritesReachTheOsBeforeFlushOrClose) {
  // What another reader sees at once also survives the process being killed.
  TempDir dir;
  const std::string path = dir.File("a.bin");
  auto file = RandomAccessFile::Open(path, true, nullptr);
  ASSERT_NE(file, nullptr);
  ASSERT_TRUE(file->WriteAt(0, "abc", 3));
  EXPECT_EQ(ReadFileBytes(path), "abc");
  ASSERT_TRUE(file->WriteAt(1, "Z", 1));
  EXPECT_EQ(ReadFileBytes(path), "aZc");
  EXPECT_TRUE(file->Flush());
  EXPECT_TRUE(file->Sync());
}

TEST(FileIO, ReopeningKeepsTheContent) {
  TempDir dir;
  const std::string path = dir.File("a.bin");
  ASSERT_TRUE(WriteFileBytes(path, "0123456789"));
  auto file = RandomAccessFile::Open(path, true, nullptr);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->Size(), 10);
  char buf[4];
  ASSERT_TRUE(file->ReadAt(6, buf, 4));
  EXPECT_EQ(std::string(buf, 4), "6789");
}

TEST(FileIO, AClosedFileRefusesEverything) {
  TempDir dir;
  auto file = RandomAccessFile::Open(dir.File("a.bin"), true, nullptr);
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(file->IsOpen());
  EXPECT_TRUE(file->Close());
  EXPECT_FALSE(file->IsOpen());
  char c = 0;
  EXPECT_FALSE(file->WriteAt(0, "x", 1));
  EXPECT_FALSE(file->ReadAt(0, &c, 1));
  EXPECT_EQ(file->Size(), -1);
  EXPECT_FALSE(file->Flush());
  EXPECT_FALSE(file->Close());
}

TEST(FileIO, LargeTransfersRoundTrip) {
  TempDir dir;
  auto file = RandomAccessFile::Open(dir.File("big.bin"), true, nullptr);
  ASSERT_NE(file, nullptr);
  std::string data(3 * 1024 * 1024 + 7, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 131 + 7);
  ASSERT_TRUE(file->WriteAt(5, data.data(), data.size()));
  std::string back(data.size(), '\0');
  ASSERT_TRUE(file->ReadAt(5, &back[0], back.size()));
  EXPECT_EQ(back, data);
}

TEST(FileIO, Utf8PathsWork) {
  TempDir dir;
  const std::string path = JoinPath(dir.path(), "\xC3\xA9v\xC3\xA9nement-\xE2\x9C\x93.bin");
  auto file = RandomAccessFile::Open(path, true, nullptr);
  ASSERT_NE(file, nullptr);
  ASSERT_TRUE(file->WriteAt(0, "ok", 2));
  file.reset();
  EXPECT_TRUE(FileExists(path));
  std::string text;
  ASSERT_TRUE(ReadWholeFile(path, text, 100));
  EXPECT_EQ(text, "ok");
  ASSERT_TRUE(WriteFileAtomically(path, "new"));
  ASSERT_TRUE(ReadWholeFile(path, text, 100));
  EXPECT_EQ(text, "new");
  EXPECT_TRUE(RemoveFile(path));
  EXPECT_FALSE(FileExists(path));
}

TEST(FileIO, FileExistsAndRemoveFile) {
  TempDir dir;
  const std::string path = dir.File("a.txt");
  EXPECT_FALSE(FileExists(path));
  EXPECT_TRUE(RemoveFile(path));  // already gone counts as removed
  ASSERT_TRUE(WriteFileBytes(path, "x"));
  EXPECT_TRUE(FileExists(path));
  EXPECT_TRUE(FileExists(dir.path()));
  EXPECT_TRUE(RemoveFile(path));
  EXPECT_FALSE(FileExists(path));
}

TEST(FileIO, ReadWholeFileHonoursItsBound) {
  TempDir dir;
  const std::string path = dir.File("a.txt");
  std::string out = "stale";
  EXPECT_FALSE(ReadWholeFile(path, out, 100));  // missing
  EXPECT_TRUE(out.empty());
  ASSERT_TRUE(WriteFileBytes(path, std::string(100, 'x')));
  EXPECT_TRUE(ReadWholeFile(path, out, 100));
  EXPECT_EQ(out, std::string(100, 'x'));
  out = "stale";
  EXPECT_FALSE(ReadWholeFile(path, out, 99));
  EXPECT_TRUE(out.empty());
  ASSERT_TRUE(WriteFileBytes(path, ""));
  EXPECT_TRUE(ReadWholeFile(path, out, 0));
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(ReadWholeFile(dir.path(), out, 1000));  // a folder is not a file
}

TEST(FileIO, WriteFileAtomicallyCreatesAndReplacesWithoutLeftovers) {
  TempDir dir;
  const std::string path = dir.File("props.json");
  ASSERT_TRUE(WriteFileAtomically(path, "first"));
  EXPECT_EQ(ReadFileBytes(path), "first");
  ASSERT_TRUE(WriteFileAtomically(path, std::string(20000, 'y')));
  EXPECT_EQ(ReadFileBytes(path), std::string(20000, 'y'));
  ASSERT_TRUE(WriteFileAtomically(path, ""));
  EXPECT_EQ(ReadFileBytes(path), "");
  EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"props.json"});
}

TEST(FileIO, WriteFileAtomicallyFailureKeepsTheOldContent) {
  for (FileOp failing : {FileOp::Open, FileOp::Write, FileOp::Flush, FileOp::Rename}) {
    TempDir dir;
    const std::string path = dir.File("props.json");
    ASSERT_TRUE(WriteFileAtomically(path, "old"));
    std::vector<std::string> seen;
    {
      InjectorScope scope([&](FileOp op, const std::string& p) {
        seen.push_back(p);
        return op == failing;
      });
      EXPECT_FALSE(WriteFileAtomically(path, "new"));
    }
    EXPECT_EQ(ReadFileBytes(path), "old") << static_cast<int>(failing);
    EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"props.json"});
    ASSERT_FALSE(seen.empty());
    for (const auto& p : seen) EXPECT_EQ(p.rfind(path, 0), 0u) << p;  // target or its temp
  }
  TempDir dir;
  EXPECT_FALSE(WriteFileAtomically(JoinPath(dir.path(), "missing/x.json"), "x"));
}

TEST(FileIO, JoinPathUsesTheNativeSeparator) {
  const char sep = NativeSeparator();
  EXPECT_TRUE(sep == '/' || sep == '\\');
  EXPECT_EQ(JoinPath("folder", ".event_queue"), std::string("folder") + sep + ".event_queue");
  EXPECT_EQ(JoinPath("", "x"), std::string(1, sep) + "x");
}

TEST(FileIO, FaultInjectorFailsEachOperation) {
  TempDir dir;
  const std::string path = dir.File("a.bin");
  auto file = RandomAccessFile::Open(path, true, nullptr);
  ASSERT_NE(file, nullptr);
  ASSERT_TRUE(file->WriteAt(0, "abcd", 4));
  FileOp failing = FileOp::Open;
  std::vector<std::pair<FileOp, std::string>> calls;
  InjectorScope scope([&](FileOp op, const std::string& p) {
    calls.emplace_back(op, p);
    return op == failing;
  });
  char buf[4];
  std::string text;

  failing = FileOp::Open;
  EXPECT_EQ(RandomAccessFile::Open(path, true, nullptr), nullptr);
  EXPECT_FALSE(ReadWholeFile(path, text, 100));
  EXPECT_TRUE(file->ReadAt(0, buf, 4));

  failing = FileOp::Read;
  EXPECT_FALSE(file->ReadAt(0, buf, 4));
  EXPECT_EQ(file->Size(), -1);
  EXPECT_FALSE(ReadWholeFile(path, text, 100));
  EXPECT_TRUE(file->WriteAt(0, "x", 1));

  failing = FileOp::Write;
  EXPECT_FALSE(file->WriteAt(0, "y", 1));
  EXPECT_TRUE(file->ReadAt(0, buf, 4));
  EXPECT_EQ(std::string(buf, 4), "xbcd");  // the refused write changed nothing

  failing = FileOp::Flush;
  EXPECT_FALSE(file->Flush());
  EXPECT_FALSE(file->Sync());

  failing = FileOp::Remove;
  EXPECT_FALSE(RemoveFile(path));
  EXPECT_TRUE(FileExists(path));

  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.front(), std::make_pair(FileOp::Open, path));
  for (const auto& c : calls) EXPECT_EQ(c.second, path);

  // A failed close still releases the handle.
  failing = FileOp::Flush;
  EXPECT_FALSE(file->Close());
  EXPECT_FALSE(file->IsOpen());
}

TEST(FileIO, AnEmptyInjectorRestoresNormalBehaviour) {
  TempDir dir;
  const std::string path = dir.File("a.bin");
  ::CorvaneSDK::Test::ProcessEnv().SetFileFaultInjector([](FileOp, const std::string&) { return true; });
  EXPECT_EQ(RandomAccessFile::Open(path, true, nullptr), nullptr);
  ::CorvaneSDK::Test::ProcessEnv().SetFileFaultInjector({});
  auto file = RandomAccessFile::Open(path, true, nullptr);
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(file->WriteAt(0, "x", 1));
  EXPECT_TRUE(file->Flush());
  EXPECT_TRUE(RemoveFile(path));
}

}  // namespace
}  // namespace CorvaneSDK
