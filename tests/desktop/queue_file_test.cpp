// Tests of QueueFile: the byte format against hand-built images (what any conforming
// reader or writer of the ring format produces), corrupt headers, injected disk faults,
// the size bound, and a randomized comparison with a std::deque.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "FileIO.h"
#include "LogCapture.h"
#include "QueueFile.h"
#include "TempDir.h"
#include "TestEnv.h"

namespace CorvaneSDK {
namespace {

using Test::LogCapture;
using Test::ReadFileBytes;
using Test::TempDir;
using Test::WriteFileBytes;

std::string BE(uint32_t v) {
  std::string s(4, '\0');
  s[0] = static_cast<char>(v >> 24);
  s[1] = static_cast<char>(v >> 16);
  s[2] = static_cast<char>(v >> 8);
  s[3] = static_cast<char>(v);
  return s;
}

uint32_t GetBE(const std::string& s, size_t at) {
  return (static_cast<uint32_t>(static_cast<unsigned char>(s[at])) << 24) |
         (static_cast<uint32_t>(static_cast<unsigned char>(s[at + 1])) << 16) |
         (static_cast<uint32_t>(static_cast<unsigned char>(s[at + 2])) << 8) |
         static_cast<uint32_t>(static_cast<unsigned char>(s[at + 3]));
}

// Deterministic element content, distinct per seed.
std::string Data(size_t n, int seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('A' + (seed * 7 + i * 13) % 53);
  return s;
}

// A queue file image built by hand from the format description.
struct Image {
  std::string bytes;
  explicit Image(uint32_t length) : bytes(length, '\0') { Header(length, 0, 0, 0); }
  void Header(uint32_t length, uint32_t count, uint32_t first, uint32_t last) {
    bytes.replace(0, 16, BE(length) + BE(count) + BE(first) + BE(last));
  }
  // Writes `b` at `position`, continuing at offset 16 past the end.
  void Put(uint64_t position, const std::string& b) {
    const uint64_t length = bytes.size();
    for (size_t i = 0; i < b.size(); ++i) {
      uint64_t p = position + i;
      if (p >= length) p = 16 + p - length;
      bytes[p] = b[i];
    }
  }
  void Element(uint32_t position, const std::string& data) {
    Put(position, BE(static_cast<uint32_t>(data.size())));
    Put(position + 4, data);
  }
};

std::string FreshImage() {
  return Image(4096).bytes;
}

// Compares two images and names the first differing offset instead of dumping megabytes.
::testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected) {
  if (actual == expected) return ::testing::AssertionSuccess();
  size_t i = 0;
  while (i < actual.size() && i < expected.size() && actual[i] == expected[i]) ++i;
  auto at = [](const std::string& s, size_t k) {
    return k < s.size() ? std::to_string(static_cast<unsigned char>(s[k])) : std::string("end");
  };
  return ::testing::AssertionFailure()
         << "sizes " << actual.size() << " and " << expected.size() << "; first difference at " << i
         << ": " << at(actual, i) << " instead of " << at(expected, i);
}

class InjectorScope {
 public:
  explicit InjectorScope(std::function<bool(FileOp, const std::string&)> f) {
    ::CorvaneSDK::Test::ProcessEnv().SetFileFaultInjector(std::move(f));
  }
  ~InjectorScope() { ::CorvaneSDK::Test::ProcessEnv().SetFileFaultInjector({}); }
};

class QueueFileTest : public ::testing::Test {
 protected:
  void TearDown() override { ::CorvaneSDK::Test::ProcessEnv().SetFileFaultInjector({}); }

  std::string Bytes() const { return ReadFileBytes(path_); }
  bool AddText(QueueFile& q, const std::string& s) {
    return q.Add(s.data(), static_cast<uint32_t>(s.size()));
  }
  std::vector<std::string> ReadBack() {
    QueueFile q(path_);
    EXPECT_TRUE(q.Init());
    std::string why;
    EXPECT_TRUE(q.ValidateHeader(&why)) << why;
    std::vector<std::string> out;
    EXPECT_TRUE(q.ReadAll(out, &why)) << why;
    q.Close();
    return out;
  }
  // The object's header must equal the one in the file: failures never let them drift.
  void ExpectMemoryMatchesDisk(const QueueFile& q) {
    const std::string bytes = Bytes();
    ASSERT_GE(bytes.size(), 16u);
    EXPECT_EQ(q.FileLength(), GetBE(bytes, 0));
    EXPECT_EQ(q.Count(), GetBE(bytes, 4));
    EXPECT_EQ(q.First().position, GetBE(bytes, 8));
    EXPECT_EQ(q.Last().position, GetBE(bytes, 12));
  }

  TempDir dir_;
  std::string path_ = JoinPath(dir_.path(), ".event_queue");
};

// One suite per concern, all sharing the fixture.
class QueueFileFormat : public QueueFileTest {};
class QueueFileRemove : public QueueFileTest {};
class QueueFileRoundTrip : public QueueFileTest {};
class QueueFileModel : public QueueFileTest {};
class QueueFileCorruption : public QueueFileTest {};
class QueueFileInit : public QueueFileTest {};
class QueueFileFaults : public QueueFileTest {};
class QueueFileLimits : public QueueFileTest {};
class QueueFileMapping : public QueueFileTest {};

// ---------------------------------------------------------------- format

TEST_F(QueueFileFormat, FreshFileImage) {
  QueueFile q(path_);
  EXPECT_EQ(q.Path(), path_);
  EXPECT_FALSE(FileExists(path_));  // construction touches nothing
  ASSERT_TRUE(q.Init());
  const std::string bytes = Bytes();
  ASSERT_EQ(bytes.size(), 4096u);
  EXPECT_EQ(bytes.substr(0, 4), std::string("\x00\x00\x10\x00", 4));
  EXPECT_TRUE(SameBytes(bytes, FreshImage()));
  EXPECT_EQ(q.FileLength(), 4096u);
  EXPECT_EQ(q.Count(), 0u);
  EXPECT_EQ(q.First().position, 0u);
  EXPECT_EQ(q.Last().position, 0u);
  EXPECT_EQ(q.UsedBytes(), 16u);
  EXPECT_EQ(q.RemainingBytes(), 4080u);
  std::string why;
  EXPECT_TRUE(q.ValidateHeader(&why)) << why;
}

TEST_F(QueueFileFormat, FirstElementAt16And100BytesLeaveTheNextAt120) {
  QueueFile q(path_);
  ASSERT_TRUE(q.Init());
  const std::string a = Data(100, 1), b = Data(7, 2);
  ASSERT_TRUE(AddText(q, a));
  EXPECT_EQ(q.First().position, 16u);
  EXPECT_EQ(q.First().length, 100u);
  ASSERT_TRUE(AddText(q, b));
  EXPECT_EQ(q.Last().position, 120u);
  EXPECT_EQ(q.Last().length, 7u);
  EXPECT_EQ(q.First().position, 16u);
  EXPECT_EQ(q.Count(), 2u);

  Image expected(4096);
  expected.Header(4096, 2, 16, 120);
  expected.Element(16, a);
  expected.Element(120, b);
  EXPECT_TRUE(SameBytes(Bytes(), expected.bytes));

  std::string data;
  uint32_t length = 0;
  ASSERT_TRUE(q.ReadElement(120, data, &length));
  EXPECT_EQ(length, 7u);
  EXPECT_EQ(data, b);
  ASSERT_TRUE(q.ReadElement(16, data, nullptr));
  EXPECT_EQ(data, a);
}

TEST_F(QueueFileFormat, FiveThousandBytesExpandAFreshFileTo8192) {
  LogCapture logs(kLogDebug);
  QueueFile q(path_);
  ASSERT_TRUE(q.Init());
  const std::string big = Data(5000, 3);
  ASSERT_TRUE(AddText(q, big));
  EXPECT_TRUE(
      logs.Contains("Expand: previousLength=4096, elementLength=5004, remainingBytes=4080"));
  EXPECT_EQ(logs.CountContaining("Expand: "), 1);
  EXPECT_EQ(q.FileLength(), 8192u);
  Image expected(8192);
  expected.Header(8192, 1, 16, 16);
  expected.Element(16, big);
  EXPECT_TRUE(SameBytes(Bytes(), expected.bytes));
  EXPECT_EQ(ReadBack(), std::vector<std::string>{big});
}

// B at 3020 and C at 3924, whose data wraps to offset 16: built by Add/Remove and by hand.
TEST_F(QueueFileFormat, WrappedElementIsWrittenAndReadInTwoPieces) {
  const std::string a = Data(3000, 1), b = Data(900, 2), c = Data(500, 3);
  QueueFile q(path_);
  ASSERT_TRUE(q.Init());
  ASSERT_TRUE(AddText(q, a));
  ASSERT_TRUE(AddText(q, b));
  ASSERT_TRUE(q.Remove(1));
  ASSERT_TRUE(AddText(q, c));
  EXPECT_EQ(q.FileLength(), 4096u);
  EXPECT_EQ(q.First().position, 3020u);
  EXPECT_EQ(q.Last().position, 3924u);

  Image expected(4096);
  expected.Header(4096, 2, 3020, 3924);
  expected.Element(3020, b);
  expected.Element(3924, c);  // 168 data bytes at 3928, the other 332 at 16
  EXPECT_TRUE(SameBytes(Bytes(), expected.bytes));
  EXPECT_EQ(Bytes().substr(3928, 168) + Bytes().substr(16, 332), c);

  std::string data;
  ASSERT_TRUE(q.ReadElement(3924, data, nullptr));
  EXPECT_EQ(data, c);
  q.Close();

  // The hand-built image reads back the same way.
  ASSERT_TRUE(RemoveFile(path_));
  ASSERT_TRUE(WriteFileBytes(path_, expected.bytes));
  EXPECT_EQ(ReadBack(), (std::vector<std::string>{b, c}));
}

TEST_F(QueueFileFormat, LengthStraddlingTheEndIsSplit) {
  const std::string a = Data(3000, 1), b = Data(1070, 2), c = Data(300, 3);
  QueueFile q(path_);
  ASSERT_TRUE(q.Init());
  ASSERT_TRUE(AddText(q, a));
  ASSERT_TRUE(AddText(q, b));  // ends at 4094
  ASSERT_TRUE(q.Remove(1));
  ASSERT_TRUE(AddText(q, c));
  EXPECT_EQ(q.Last().position, 4094u);
  EXPECT_EQ(q.Last().length, 300u);

  Image expected(4096);
  expected.Header(4096, 2, 3020, 4094);
  expected.Element(3020, b);
  expected.Element(4094, c);
  const std::string bytes = Bytes();
  EXPECT_TRUE(SameBytes(bytes, expected.bytes));
  EXPECT_EQ(bytes.substr(4094, 2) + bytes.substr(16, 2), BE(300));
  EXPECT_EQ(bytes.substr(18, 300), c);
  q.Close();

  Image hand(4096);  // the same state from another writer
  hand.Header(4096, 2, 3020, 4094);
  hand.Element(3020, b);
  hand.Element(4094, c);
  ASSERT_TRUE(WriteFileBytes(path_, hand.bytes));
  QueueFile r(path_);
  ASSERT_TRUE(r.Init());
  EXPECT_EQ(r.Last().length, 300u);
  std::string data;
  uint32_t length = 0;
  ASSERT_TRUE(r.ReadElement(4094, data, &length));
  EXPECT_EQ(length, 300u);
  EXPECT_EQ(data, c);
  std::vector<std::string> all;
  std::string why;
  ASSERT_TRUE(r.ReadAll(all, &why)) << why;
  EXPECT_EQ(all, (std::vector<std::string>{b, c}));
}

TEST_F(QueueFileFormat, ExpansionOfAWrappedRing) {
  const std::string a = Data(3000, 1), b = Data(900, 2), c = Data(500, 3), e = Data(100, 4),
                    d = Data(3000, 5);
  LogCapture logs(kLogDebug);
  QueueFile q(path_);
  ASSERT_TRUE(q.Init());
  ASSERT_TRUE(AddText(q, a));
  ASSERT_TRUE(AddText(q, b));
  ASSERT_TRUE(q.Remove(1));
  ASSERT_TRUE(AddText(q, c));  // wraps: ends at 348
  ASSERT_TRUE(AddText(q, e));  // at 348: now last < first
  EXPECT_EQ(q.Last().position, 348u);
  EXPECT_EQ(q.RemainingBytes(), 2568u);
  ASSERT_TRUE(AddText(q, d));
  EXPECT_TRUE(
      logs.Contains("Expand: previousLength=4096, elementLength=3004, remainingBytes=2568"));
  EXPECT_EQ(q.FileLength(), 8192u);
  // e moved from 348 by 4096 - 16 to 4428; d follows it.
  EXPECT_EQ(q.Last().position, 4428u + 104u);
  EXPECT_EQ(q.First().position, 3020u);

  Image expected(8192);
  expected.Header(8192, 4, 3020, 4532);
  expected.Element(3020, b);
  expected.Element(3924, c);
  expected.Element(4428, e);
  expected.Element(4532, d);
  // The wrapped bytes were copied, not moved: the originals stay at 16..452.
  expected.bytes.replace(16, 436, expected.bytes.substr(4096, 436));
  EXPECT_TRUE(SameBytes(Bytes(), expected.bytes));
  q.Close();
  EXPECT_EQ(ReadBack(), (std::vector<std::string>{b, c, e, d}));
}

TEST_F(QueueFileFormat, ExpansionOfACompletelyFullWrappedRing) {
  // fp=3000: e1 fills 3000..4095, e2 fills 16..2999. Nothing remains.
  const std::string e1 = Data(1092, 1), e2 = Data(2980, 2), n = Data(10, 3);
  Image full(4096);
  full.Header(4096, 2, 3000, 16);
  full.Element(3000, e1);
  full.Element(16, e2);
  ASSERT_TRUE(WriteFileBytes(path_, full.bytes));

  LogCapture logs(kLogDebug);
  QueueFile q(path_);
  ASSERT_TRUE(q.Init());
  std::string why;
  ASSERT_TRUE(q.ValidateHeader(&why)) << why;
  EXPECT_EQ(q.RemainingBytes(), 0u);
  ASSERT_TRUE(AddText(q, n));
  EXPECT_TRUE(logs.Contains("Expand: previousLength=4096, elementLength=14, remainingBytes=0"));
  EXPECT_EQ(q.FileLength(), 8192u);
  EXPECT_EQ(q.Last().position, 7080u);

  Image expected(8192);
  expected.Header(8192, 3, 3000, 7080);
  expected.Element(16, e2);  // the original, left in place
  expected.Element(3000, e1);
  expected.Element(4096, e2);  // the copy behind the old end
  expected.Element(7080, n);
  EXPECT_TRUE(SameBytes(Bytes(), expected.bytes));
  q.Close();
  EXPECT_EQ(ReadBack(), (std::vector<std::string>{e1, e2, n}));
}

TEST_F(QueueFileFormat, ExpansionOfAFullRingWhoseLastElementStraddles) {
  // fp=1016: e1 at 1016..4015, e2 at 4016 runs 80 bytes to the end and 1000 from 16.
  const std::string e1 = Data(2996, 1), e2 = Data(1076, 2), n = Data(1, 3);
  Image full(4096);
  full.Header(4096, 2, 1016, 4016);
  full.Element(1016, e1);
  full.Element(4016, e2);
  ASSERT_TRUE(WriteFileBytes(path_, full.bytes));

  QueueFile q(path_);
  ASSERT_TRUE(q.Init());
  EXPECT_EQ(q.RemainingBytes(), 0u);
  ASSERT_TRUE(AddText(q, n));
  EXPECT_EQ(q.FileLength(), 8192u);
  EXPECT_EQ(q.Last().position, 5096u);

  Image expected(8192);
  expected.Header(8192, 3, 1016, 5096);
  expected.Element(1016, e1);
  expected.Element(4016, e2);
  expected.Element(5096, n);
  expected.bytes.replace(16, 1000, expected.bytes.substr(4096, 1000));  // the original tail
  EXPECT_TRUE(SameBytes(Bytes(), expected.bytes));
  q.Close();
  EXPECT_EQ(ReadBack(), (std::vector<std::string>{e1, e2, n}));
}

TEST_F(QueueFileFormat, ReadsALazilyExtendedFileFromAnotherWriter) {
  // A writer that lets the file grow only as bytes are written: header says 8192, the file
  // ends with the element at 5020.
  const std::string big = Data(5000, 9), next = Data(50, 10);
  Image image(8192);
  image.Header(8192, 1, 16, 16);
  image.Element(16, big);
  ASSERT_TRUE(WriteFileBytes(path_, image.bytes.substr(0, 5020)));

  QueueFile q(path_);
  ASSERT_TRUE(q.Init());
  std::string why;
  EXPECT_TRUE(q.ValidateHeader(&why)) << why;
  ASSERT_TRUE(AddText(q, next));
  q.Close();
  EXPECT_EQ(ReadBack(), (std::vector<std::string>{big, next}));
}

TEST_F(QueueFileFormat, AcceptsTheTailOfAnInterruptedExpansion) {
  // Killed after the file grew but before the header named the new length.
  const std::string a = Data(200, 1), b = Data(300, 2);
  Image image(4096);
  image.Header(4096, 2, 16, 220);
  image.Element(16, a);
  image.Element(220, b);
  ASSERT_TRUE(WriteFileBytes(path_, image.bytes + std::string(4096, '\x5a')));
  QueueFile q(path_);
  ASSERT_TRUE(q.Init());
  std::string why;
  EXPECT_TRUE(q.ValidateHeader(&why)) << why;
  ASSERT_TRUE(AddText(q, Data(3800, 3)));  // expands again, over the stale tail
  EXPECT_EQ(q.FileLength(), 8192u);
  q.Close();
  EXPECT_EQ(ReadBack(), (std::vector<std::string>{a, b, Data(3800, 3)}));
}

// ---------------------------------------------------------------- remove

TEST_F(QueueFileRemove, AllDeletesAndRecreatesTheFile) {
  QueueFile q(path_);
  ASSERT_TRUE(q.Init());
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(AddText(q, Data(3000, i)));  // grows to 16384
  EXPECT_EQ(q.FileLength(), 16384u);
  std::vector<FileOp> ops;
  {
    InjectorScope scope([&](FileOp op, const std::string& p) {
      if (p == path_) ops.push_back(op);
      return false;
    });
    ASSERT_TRUE(q.Remove(3));
  }
  ASSERT_GE(ops.size(), 2u);
  auto removeAt = std::find(ops.begin(), ops.end(), FileOp::Remove);
  ASSERT_NE(removeAt, ops.end());
  EXPECT_NE(std::find(removeAt, ops.end(), FileOp::Open), ops.end());  // reopened after
  EXPECT_TRUE(SameBytes(Bytes(), FreshImage()));
  EXPECT_EQ(q.Count(), 0u);
  EXPECT_EQ(q.FileLength(), 4096u);
  EXPECT_EQ(q.First().position, 0u);
  EXPECT_TRUE(q.IsOpen());
  ASSERT_TRUE(AddText(q, "x"));
  EXPECT_EQ(q.First().position, 16u);
  q.Close();
  EXPECT_EQ(ReadBack(), std::vector<std::string>{"x"});
}

TEST_F(QueueFileRemove, ZeroOrOnAnEmptyQueueChangesNothing) {
  QueueFile q(path_);
  ASSERT_TRUE(q.Init());
  std::vector<FileOp> ops;
  InjectorScope scope([&](FileOp op, const std::string&) {
    ops.push_back(op);
    return false;
  });
  EXPECT_TRUE(q.Remove(5));  // empty
  EXPECT_TRUE(q.Remove(0));
  EXPECT_TRUE(ops.empty());
  EXPECT_TRUE(SameBytes(Bytes(), FreshImage()));
  ASSERT_TRUE(AddText(q, Data(10, 1)));
  const std::string before = Bytes();
  ops.clear();
  EXPECT_TRUE(q.Remove(0));
  EXPECT_TRUE(ops.empty());
  EXPECT_TRUE(SameBytes(Bytes(), before));
  EXPECT_EQ(q.Count(), 1u);
}

TEST_F(QueueFileRemove, MoreThanCountActsAsRemoveCount) {
  QueueFile q(path_);
  ASSERT_TRUE(q.Init());
  ASSERT_TRUE(AddText(q, Data(5000, 1)));
  ASSERT_TRUE(AddText(q, Data(10, 2)));
  ASSERT_TRUE(q.Remove(7));
  EXPECT_EQ(q.Count(), 0u);
  EXPECT_TRUE(SameBytes(Bytes(), FreshImage()));
}

TEST_F(QueueFileRemove, ZeroesExactlyTheFreedBytes) {
  const std::string a = Data(10, 1), b = Data(20, 2), c = Data(30, 3);
  QueueFile q(path_);
  ASSERT_TRUE(q.Init());
  ASSERT_TRUE(AddText(q, a));
  ASSERT_TRUE(AddText(q, b));
  ASSERT_TRUE(AddText(q, c));
  ASSERT_TRUE(q.Remove(2));
  Image expected(4096);
  expected.Header(4096, 1, 54, 54);
  expected.Element(54, c);
  EXPECT_TRUE(SameBytes(Bytes(), expected.bytes));
  EXPECT_EQ(q.First().position, 54u);
  EXPECT_EQ(q.First().length, 30u);
  EXPECT_EQ(q.Last().position, 54u);
}

TEST_F(QueueFileRemove, ZeroesFreedBytesAcrossTheEnd) {
  const std::string a = Data(3000, 1), b = Data(900, 2), c = Data(500, 3), e = Data(100, 4);
  QueueFile q(path_);
  ASSERT_TRUE(q.Init());
  ASSERT_TRUE(AddText(q, a));
  ASSERT_TRUE(AddText(q, b));
  ASSERT_TRUE(q.Remove(1));
  ASSERT_TRUE(AddText(q, c));  // 3924, wraps to 348
  ASSERT_TRUE(AddText(q, e));  // 348
  ASSERT_TRUE(q.Remove(2));    // frees 3020..4095 and 16..347
  Image expected(4096);
  expected.Header(4096, 1, 348, 348);
  expected.Element(348, e);
  EXPECT_TRUE(SameBytes(Bytes(), expected.bytes));
}

// ---------------------------------------------------------------- round trips

TEST_F(QueueFileRoundTrip, ReopenAfterManyAddRemoveCycles) {
  std::mt19937 rng(12345);
  std::deque<std::string> model;
  auto q = std::make_unique<QueueFile>(path_);
  ASSERT_TRUE(q->Init());
  int seed = 0;
  for (int cycle = 0; cycle < 400; ++cycle) {
    const int adds = 1 + static_cast<int>(rng() % 3);
    for (int i = 0; i < adds; ++i) {
      std::string s = Data(1 + rng() % 1500, ++seed);
      ASSERT_TRUE(AddText(*q, s));
      model.push_back(s);
    }
    uint32_t n = rng() % 3;
    if (model.size() > 40) n += 10;
    ASSERT_TRUE(q->Remove(n));
    for (uint32_t i = 0; i < n && !model.empty(); ++i) model.pop_front();
    if (cycle % 50 == 49) {
      ASSERT_TRUE(q->Close());
      q = std::make_unique<QueueFile>(path_);
      ASSERT_TRUE(q->Init());
    }
  }
  ASSERT_TRUE(q->Close());
  EXPECT_EQ(ReadBack(), std::vector<std::string>(model.begin(), model.end()));
}

TEST_F(QueueFileModel, RandomOperationsMatchADeque) {
  for (uint32_t seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(seed);
    ASSERT_TRUE(RemoveFile(path_));
    std::mt19937 rng(seed);
    std::deque<std::string> model;
    auto q = std::make_unique<QueueFile>(path_);
    ASSERT_TRUE(q->Init());
    for (int step = 0; step < 500; ++step) {
      const uint32_t kind = rng() % 100;
      if (kind < 55) {
        // Mostly event-sized elements, sometimes large ones that force expansions.
        const size_t size = kind < 5 ? 2000 + rng() % 9000 : 1 + rng() % 400;
        std::string s = Data(size, step);
        ASSERT_TRUE(AddText(*q, s));
        model.push_back(s);
      } else if (kind < 90) {
        const uint32_t n = rng() % (static_cast<uint32_t>(model.size()) + 2);
        ASSERT_TRUE(q->Remove(n));
        for (uint32_t i = 0; i < n && !model.empty(); ++i) model.pop_front();
      } else {
        ASSERT_TRUE(q->Close());
        q = std::make_unique<QueueFile>(path_);
        ASSERT_TRUE(q->Init());
      }
      ASSERT_EQ(q->Count(), model.size());
      std::string why;
      ASSERT_TRUE(q->ValidateHeader(&why)) << why;
      ASSERT_EQ(static_cast<uint64_t>(Bytes().size()), q->FileLength());
      if (!model.empty()) {
        ASSERT_EQ(q->First().length, model.front().size());
        ASSERT_EQ(q->Last().length, model.back().size());
      }
      if (step % 20 == 0 || kind >= 90) {
        std::vector<std::string> all;
        ASSERT_TRUE(q->ReadAll(all, &why)) << why;
        ASSERT_EQ(all, std::vector<std::string>(model.begin(), model.end()));
      }
    }
  }
}

// ---------------------------------------------------------------- corrupt files

struct Corrupt {
  const char* name;
  std::string bytes;
};

std::vector<Corrupt> CorruptImages() {
  std::vector<Corrupt> out;
  auto with = [](uint32_t length, uint32_t count, uint32_t fp, uint32_t lp, size_t real) {
    Image image(static_cast<uint32_t>(std::max<size_t>(real, 16)));
    image.bytes.replace(0, 16, BE(length) + BE(count) + BE(fp) + BE(lp));
    image.bytes.resize(real);
    return image;
  };
  out.push_back({"all zero header", std::string(4096, '\0')});
  out.push_back({"length below 4096", with(2048, 0, 0, 0, 2048).bytes});
  out.push_back({"length not a doubling of 4096", with(12288, 0, 0, 0, 12288).bytes});
  out.push_back({"length above the maximum", with(0x80000000u, 0, 0, 0, 4096).bytes});
  out.push_back({"length 0xFFFFFFFF", with(0xFFFFFFFFu, 1, 16, 16, 4096).bytes});
  {
    Image i = with(4096, 1, 8, 8, 4096);
    out.push_back({"first position below 16", i.bytes});
  }
  {
    Image i = with(4096, 2, 16, 4096, 4096);
    i.Element(16, "abc");
    out.push_back({"last position at the length", i.bytes});
  }
  out.push_back({"count with zero positions", with(4096, 1, 0, 0, 4096).bytes});
  {
    Image i = with(4096, 0, 16, 16, 4096);
    i.Element(16, "abc");
    out.push_back({"zero count with positions", i.bytes});
  }
  {
    Image i = with(4096, 1, 16, 0, 4096);
    i.Element(16, "abc");
    out.push_back({"count with a zero last position", i.bytes});
  }
  {
    Image i = with(4096, 1021, 16, 16, 4096);
    i.Element(16, "abc");
    out.push_back({"count that cannot fit", i.bytes});
  }
  {
    Image i = with(4096, 1, 16, 16, 4096);
    i.Put(16, BE(QueueFile::kMaxElementLength + 1));
    out.push_back({"element length above the maximum", i.bytes});
  }
  {
    Image i = with(4096, 1, 16, 16, 4096);
    i.Put(16, BE(0xFFFFFFF0u));
    out.push_back({"huge element length", i.bytes});
  }
  {
    Image i = with(4096, 2, 16, 100, 4096);
    i.Put(16, BE(3000));
    i.Element(100, "0123456789");
    out.push_back({"first element beyond the used bytes", i.bytes});
  }
  {
    Image i = with(4096, 1, 4000, 4000, 4096);
    i.Put(4000, BE(4090));
    out.push_back({"used bytes beyond the length", i.bytes});
  }
  {
    Image i = with(4096, 1, 16, 16, 4096);
    out.push_back({"zero element length", i.bytes});
  }
  {
    Image i = with(4096, 1, 16, 120, 4096);
    i.Element(16, Data(100, 1));
    i.Element(120, "x");
    out.push_back({"one element, two positions", i.bytes});
  }
  {
    Image i = with(4096, 2, 120, 120, 4096);
    i.Element(120, "x");
    out.push_back({"two elements, one position", i.bytes});
  }
  {
    Image i = with(4096, 2, 16, 30, 4096);
    i.Element(16, Data(100, 1));
    i.Element(30, "x");
    out.push_back({"first element overlaps the last", i.bytes});
  }
  {
    // Header says 8192 but the file ends before the live element does.
    Image i = with(8192, 1, 16, 16, 8192);
    i.Element(16, Data(5000, 1));
    i.bytes.resize(4096);
    out.push_back({"live data past the end of the file", i.bytes});
  }
  {
    Image i = with(8192, 2, 8000, 16, 8192);
    i.Element(8000, Data(100, 1));
    i.Element(16, "abc");
    i.bytes.resize(4096);
    out.push_back({"wrapped ring in a short file", i.bytes});
  }
  return out;
}

TEST_F(QueueFileCorruption, EveryKindIsReportedAndNeverUsed) {
  for (const Corrupt& c : CorruptImages()) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(WriteFileBytes(path_, c.bytes));
    QueueFile q(path_);
    ASSERT_TRUE(q.Init());
    std::string why;
    EXPECT_FALSE(q.ValidateHeader(&why));
    EXPECT_FALSE(why.empty());
    std::vector<std::string> out{"stale"};
    EXPECT_FALSE(q.ReadAll(out, &why));
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(q.Writable());
    EXPECT_FALSE(q.CanAdd(1));
    EXPECT_FALSE(AddText(q, "x"));
    EXPECT_FALSE(q.Remove(1));
    std::string data;
    EXPECT_FALSE(q.ReadElement(16, data, nullptr));
    EXPECT_TRUE(data.empty());
    q.Close();
    EXPECT_TRUE(SameBytes(Bytes(), c.bytes));  // nothing was written
  }
}

TEST_F(QueueFileCorruption, TooShortForAHeaderFailsInit) {
  ASSERT_TRUE(WriteFileBytes(path_, std::string("\x00\x00\x10\x00\x00", 5)));
  LogCapture logs(kLogDebug);
  QueueFile q(path_);
  EXPECT_FALSE(q.Init());
  EXPECT_FALSE(q.IsOpen());
  EXPECT_FALSE(AddText(q, "x"));
}

TEST_F(QueueFileCorruption, AnEmptyExistingFileStartsFresh) {
  ASSERT_TRUE(WriteFileBytes(path_, ""));  // a crash right after creation
  QueueFile q(path_);
  ASSERT_TRUE(q.Init());
  EXPECT_TRUE(SameBytes(Bytes(), FreshImage()));
  std::string why;
  EXPECT_TRUE(q.ValidateHeader(&why)) << why;
}

TEST_F(QueueFileCorruption, ZeroLengthElementKeepsThoseBefore) {
  const std::string a = Data(40, 1), b = Data(50, 2), c = Data(60, 3);
  {
    QueueFile q(path_);
    ASSERT_TRUE(q.Init());
    ASSERT_TRUE(AddText(q, a));
    ASSERT_TRUE(AddText(q, b));
    ASSERT_TRUE(AddText(q, c));
  }
  std::string bytes = Bytes();
  bytes.replace(60, 4, BE(0));  // b's length
  ASSERT_TRUE(WriteFileBytes(path_, bytes));
  QueueFile q(path_);
  ASSERT_TRUE(q.Init());
  std::string why;
  EXPECT_TRUE(q.ValidateHeader(&why)) << why;  // first and last are fine
  std::vector<std::string> out;
  EXPECT_FALSE(q.ReadAll(out, &why));
  EXPECT_EQ(out, std::vector<std::string>{a});
  EXPECT_NE(why.find("length 0"), std::string::npos) << why;
}

TEST_F(QueueFileCorruption, ABrokenChainIsReported) {
  const std::string a = Data(40, 1), b = Data(50, 2), c = Data(60, 3);
  {
    QueueFile q(path_);
    ASSERT_TRUE(q.Init());
    ASSERT_TRUE(AddText(q, a));
    ASSERT_TRUE(AddText(q, b));
    ASSERT_TRUE(AddText(q, c));
  }
  for (uint32_t bad : {49u, 51u, 2000u, 4070u, 0x7FFFFFFFu}) {
    SCOPED_TRACE(bad);
    std::string bytes = Bytes();
    bytes.replace(60, 4, BE(bad));
    ASSERT_TRUE(WriteFileBytes(path_, bytes));
    QueueFile q(path_);
    ASSERT_TRUE(q.Init());
    std::vector<std::string> out;
    std::string why;
    EXPECT_FALSE(q.ReadAll(out, &why));
    ASSERT_GE(out.size(), 1u);
    EXPECT_EQ(out[0], a);
    q.Close();
    bytes.replace(60, 4, BE(50));
    ASSERT_TRUE(WriteFileBytes(path_, bytes));
  }
}

TEST_F(QueueFileCorruption, ReadElementRefusesOutOfBoundsLengths) {
  QueueFile q(path_);
  ASSERT_TRUE(q.Init());
  ASSERT_TRUE(AddText(q, "abc"));
  q.Close();
  std::string bytes = Bytes();
  bytes.replace(200, 4, BE(0xFFFFFFF0u));
  bytes.replace(300, 4, BE(4077u));  // one byte more than the ring holds
  ASSERT_TRUE(WriteFileBytes(path_, bytes));
  ASSERT_TRUE(q.Init());
  std::string data;
  uint32_t length = 7;
  EXPECT_FALSE(q.ReadElement(200, data, &length));
  EXPECT_EQ(length, 0u);
  EXPECT_FALSE(q.ReadElement(300, data, &length));
  EXPECT_FALSE(q.ReadElement(0, data, &length));
  EXPECT_FALSE(q.ReadElement(4096, data, &length));
  EXPECT_TRUE(q.ReadElement(16, data, &length));
  EXPECT_EQ(data, "abc");
}

TEST_F(QueueFileCorruption, RandomHeadersNeverHangOrCrash) {
  std::mt19937 rng(77);
  for (int i = 0; i < 300; ++i) {
    std::string bytes(i % 3 == 0 ? 4096 : 8192, '\0');
    for (auto& ch : bytes) ch = static_cast<char>(rng() % 4 == 0 ? rng() : 0);
    // Keep the header plausible half the time so that deeper checks are reached.
    if (i % 2 == 0) bytes.replace(0, 4, BE(static_cast<uint32_t>(bytes.size())));
    if (i % 4 == 0) bytes.replace(4, 4, BE(rng() % 5));
    ASSERT_TRUE(WriteFileBytes(path_, bytes));
    QueueFile q(path_);
    ASSERT_TRUE(q.Init());
    std::string why;
    std::vector<std::string> out;
    if (q.ValidateHeader(&why) && q.ReadAll(out, &why)) {
      EXPECT_EQ(out.size(), q.Count());
      if (AddText(q, "tail")) {
        EXPECT_TRUE(q.Remove(1));
      }
    }
  }
}

// ---------------------------------------------------------------- init and faults

TEST_F(QueueFileInit, OpenFailureLogsBothLines) {
  LogCapture logs(kLogDebug);
  QueueFile q(JoinPath(JoinPath(dir_.path(), "missing"), ".event_queue"));
  EXPECT_FALSE(q.Init());
  EXPECT_FALSE(q.IsOpen());
  bool error = false, debug = false;
  for (const auto& line : logs.Lines()) {
    if (line.find("Error|") != std::string::npos &&
        line.find("Failed to open queue file") != std::string::npos) {
      // The path and the operating system's reason, so the developer can act on it.
      EXPECT_NE(line.find(JoinPath(JoinPath(dir_.path(), "missing"), ".event_queue")),
                std::string::npos) << line;
      // The system's own words follow the path ("No such file or directory", "Path not found.").
      const std::string path = JoinPath(JoinPath(dir_.path(), "missing"), ".event_queue");
      const size_t after = line.find(path + ": ");
      EXPECT_TRUE(after != std::string::npos && line.size() > after + path.size() + 3) << line;
      error = true;
    }
    if (line.find("Debug|") != std::string::npos &&
        line.find("Open failed due to file stream issue") != std::string::npos) {
      debug = true;
    }
  }
  EXPECT_TRUE(error);
  EXPECT_TRUE(debug);
  EXPECT_FALSE(AddText(q, "x"));
  EXPECT_FALSE(q.CanAdd(1));
}

TEST_F(QueueFileInit, InjectedOpenFailure) {
  LogCapture logs(kLogDebug);
  InjectorScope scope([](FileOp op, const std::string&) { return op == FileOp::Open; });
  QueueFile q(path_);
  EXPECT_FALSE(q.Init());
  EXPECT_TRUE(logs.Contains("Failed to open queue file " + path_ + ": injected fault"));
  EXPECT_TRUE(logs.Contains("Open failed due to file stream issue"));
}

TEST_F(QueueFileInit, FailsWhenTheFreshImageCannotBeWritten) {
  InjectorScope scope([](FileOp op, const std::string&) { return op == FileOp::Write; });
  QueueFile q(path_);
  EXPECT_FALSE(q.Init());
  EXPECT_FALSE(q.IsOpen());
}

TEST_F(QueueFileInit, CloseIsIdempotentAndStopsWrites) {
  QueueFile q(path_);
  ASSERT_TRUE(q.Init());
  ASSERT_TRUE(AddText(q, "abc"));
  EXPECT_TRUE(q.Close());
  EXPECT_TRUE(q.Close());
  EXPECT_FALSE(q.IsOpen());
  EXPECT_FALSE(AddText(q, "def"));
  EXPECT_FALSE(q.Remove(1));
  EXPECT_EQ(ReadBack(), std::vector<std::string>{"abc"});
}

// Fails the k-th write of one call, for every k, and checks what the call leaves behind.
TEST_F(QueueFileFaults, EveryWriteOfAnAddAndAnExpansion) {
  const std::string a = Data(3000, 1), b = Data(900, 2), c = Data(500, 3), e = Data(100, 4),
                    d = Data(3000, 5);
  for (int k = 1;; ++k) {
    SCOPED_TRACE(k);
    ASSERT_TRUE(RemoveFile(path_));
    QueueFile q(path_);
    ASSERT_TRUE(q.Init());
    ASSERT_TRUE(AddText(q, a));
    ASSERT_TRUE(AddText(q, b));
    ASSERT_TRUE(q.Remove(1));
    ASSERT_TRUE(AddText(q, c));
    ASSERT_TRUE(AddText(q, e));  // wrapped ring: the next add expands and copies
    int writes = 0;
    bool ok;
    {
      InjectorScope scope(
          [&](FileOp op, const std::string&) { return op == FileOp::Write && ++writes == k; });
      ok = AddText(q, d);
    }
    if (ok) {
      EXPECT_GT(k, 4);  // extension, copy, header, two element writes, header at least
      EXPECT_EQ(ReadBack(), (std::vector<std::string>{b, c, e, d}));
      break;
    }
    ExpectMemoryMatchesDisk(q);
    EXPECT_FALSE(q.Writable());
    EXPECT_FALSE(AddText(q, "x"));  // refuses after a failure
    EXPECT_FALSE(q.Remove(1));
    EXPECT_EQ(q.Count(), 3u);
    q.Close();
    EXPECT_EQ(ReadBack(), (std::vector<std::string>{b, c, e}));
  }
}

TEST_F(QueueFileFaults, AFailedFlushKeepsTheCommittedHeader) {
  QueueFile q(path_);
  ASSERT_TRUE(q.Init());
  ASSERT_TRUE(AddText(q, "a"));
  {
    InjectorScope scope([](FileOp op, const std::string&) { return op == FileOp::Flush; });
    EXPECT_FALSE(AddText(q, "b"));
  }
  EXPECT_EQ(q.Count(), 2u);  // the header reached the file
  ExpectMemoryMatchesDisk(q);
  EXPECT_FALSE(AddText(q, "c"));
  q.Close();
  EXPECT_EQ(ReadBack(), (std::vector<std::string>{"a", "b"}));
}

TEST_F(QueueFileFaults, EveryWriteOfARemoval) {
  const std::string a = Data(3000, 1), b = Data(900, 2), c = Data(500, 3), e = Data(100, 4);
  for (int k = 1;; ++k) {
    SCOPED_TRACE(k);
    ASSERT_TRUE(RemoveFile(path_));
    QueueFile q(path_);
    ASSERT_TRUE(q.Init());
    ASSERT_TRUE(AddText(q, a));
    ASSERT_TRUE(AddText(q, b));
    ASSERT_TRUE(q.Remove(1));
    ASSERT_TRUE(AddText(q, c));
    ASSERT_TRUE(AddText(q, e));
    int writes = 0;
    bool ok;
    {
      InjectorScope scope(
          [&](FileOp op, const std::string&) { return op == FileOp::Write && ++writes == k; });
      ok = q.Remove(2);  // header, then zeroing across the end
    }
    if (ok) {
      EXPECT_GT(k, 2);
      EXPECT_EQ(ReadBack(), std::vector<std::string>{e});
      break;
    }
    ExpectMemoryMatchesDisk(q);
    EXPECT_FALSE(q.Writable());
    q.Close();
    const auto back = ReadBack();
    if (k == 1) {
      EXPECT_EQ(back, (std::vector<std::string>{b, c, e}));  // header not written
    } else {
      EXPECT_EQ(back, std::vector<std::string>{e});  // committed, zeroing cut short
    }
  }
}

TEST_F(QueueFileFaults, AReadFailureDuringRemovalChangesNothing) {
  QueueFile q(path_);
  ASSERT_TRUE(q.Init());
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(AddText(q, Data(10, i)));
  const std::string before = Bytes();
  {
    InjectorScope scope([](FileOp op, const std::string&) { return op == FileOp::Read; });
    EXPECT_FALSE(q.Remove(1));
  }
  EXPECT_TRUE(SameBytes(Bytes(), before));
  EXPECT_EQ(q.Count(), 3u);
  ExpectMemoryMatchesDisk(q);
  EXPECT_FALSE(q.Remove(1));
}

TEST_F(QueueFileFaults, RemoveAllFailuresLeaveItClosedAndEmpty) {
  for (FileOp failing : {FileOp::Remove, FileOp::Open, FileOp::Write, FileOp::Read}) {
    SCOPED_TRACE(static_cast<int>(failing));
    ASSERT_TRUE(RemoveFile(path_));
    QueueFile q(path_);
    ASSERT_TRUE(q.Init());
    ASSERT_TRUE(AddText(q, "a"));
    ASSERT_TRUE(AddText(q, "b"));
    {
      InjectorScope scope([&](FileOp op, const std::string&) { return op == failing; });
      EXPECT_FALSE(q.Remove(2));
    }
    EXPECT_FALSE(q.IsOpen());
    EXPECT_EQ(q.Count(), 0u);
    EXPECT_EQ(q.FileLength(), 0u);
    EXPECT_FALSE(q.Writable());
    EXPECT_FALSE(AddText(q, "c"));
  }
}

// ---------------------------------------------------------------- limits

TEST_F(QueueFileLimits, TheFileNeverGrowsPastItsMaximum) {
  QueueFile q(path_, 16384);
  ASSERT_TRUE(q.Init());
  const std::string kb = Data(1000, 1);
  int added = 0;
  while (q.CanAdd(1000)) {
    ASSERT_TRUE(AddText(q, kb));
    ++added;
    ASSERT_LT(added, 100);
  }
  EXPECT_EQ(added, 16);  // 16 * 1004 bytes fit the 16368-byte ring, 17 do not
  EXPECT_EQ(q.FileLength(), 16384u);
  const std::string before = Bytes();
  EXPECT_FALSE(AddText(q, kb));
  EXPECT_TRUE(SameBytes(Bytes(), before));  // nothing written
  EXPECT_TRUE(q.Writable());                // not a failure: trim and retry
  EXPECT_TRUE(q.CanAdd(static_cast<uint32_t>(q.RemainingBytes() - 4)));
  EXPECT_FALSE(q.CanAdd(static_cast<uint32_t>(q.RemainingBytes() - 3)));
  ASSERT_TRUE(q.Remove(1));
  EXPECT_TRUE(q.CanAdd(1000));
  ASSERT_TRUE(AddText(q, kb));
  q.Close();
  EXPECT_EQ(ReadBack().size(), 16u);
}

TEST_F(QueueFileLimits, ElementLengthBounds) {
  QueueFile q(path_);
  ASSERT_TRUE(q.Init());
  EXPECT_FALSE(q.CanAdd(0));
  EXPECT_FALSE(q.Add("", 0));
  EXPECT_FALSE(q.Add(nullptr, 3));
  EXPECT_FALSE(q.CanAdd(QueueFile::kMaxElementLength + 1));
  EXPECT_TRUE(q.CanAdd(QueueFile::kMaxElementLength));
  EXPECT_TRUE(q.Writable());  // refusals are not failures
  EXPECT_TRUE(SameBytes(Bytes(), FreshImage()));
  EXPECT_EQ(QueueFile::kMaxFileLength, 1u << 30);
  EXPECT_EQ(QueueFile::kMaxElementLength, 16u * 1024 * 1024);
}

TEST_F(QueueFileLimits, AFileLongerThanTheMaximumIsCorrupt) {
  Image image(32768);
  image.Header(32768, 1, 16, 16);
  image.Element(16, "abc");
  ASSERT_TRUE(WriteFileBytes(path_, image.bytes));
  QueueFile small(path_, 16384);
  ASSERT_TRUE(small.Init());
  EXPECT_FALSE(small.ValidateHeader(nullptr));
  small.Close();
  EXPECT_EQ(ReadBack(), std::vector<std::string>{"abc"});
}

// ---------------------------------------------------------------- mapping

// The same operations through the mapping and with positioned writes (the reservation that
// precedes the mapping refused) leave the same bytes at every step: wrapping, straddling
// lengths, expansions of a wrapped ring and removals.
TEST_F(QueueFileMapping, MappedAndPositionedWritesLeaveTheSameBytes) {
  const std::string other = JoinPath(dir_.path(), ".event_queue.positioned");
  {
    QueueFile fresh(other);
    ASSERT_TRUE(fresh.Init());
    ASSERT_TRUE(fresh.Close());
  }
  QueueFile mapped(path_);
  ASSERT_TRUE(mapped.Init());
  QueueFile positioned(other);
  {
    bool refused = false;
    InjectorScope scope([&](FileOp op, const std::string& p) {
      if (p != other || op != FileOp::Write || refused) return false;
      return refused = true;
    });
    ASSERT_TRUE(positioned.Init());
    EXPECT_TRUE(refused);
  }
  EXPECT_EQ(mapped.Mapped(), RandomAccessFile::kMapsFiles);
  EXPECT_FALSE(positioned.Mapped());

  std::mt19937 rng(11);
  std::deque<std::string> model;
  for (int step = 0; step < 300; ++step) {
    SCOPED_TRACE(step);
    if (model.size() > 2 && rng() % 3 == 0) {
      const uint32_t n = 1 + rng() % static_cast<uint32_t>(model.size() - 1);
      ASSERT_TRUE(mapped.Remove(n));
      ASSERT_TRUE(positioned.Remove(n));
      model.erase(model.begin(), model.begin() + n);
    } else {
      const size_t len = rng() % 8 == 0 ? 2000 + rng() % 5000 : 1 + rng() % 300;
      const std::string d = Data(len, step);
      ASSERT_TRUE(AddText(mapped, d));
      ASSERT_TRUE(AddText(positioned, d));
      model.push_back(d);
    }
    ASSERT_TRUE(SameBytes(Bytes(), ReadFileBytes(other)));
    ExpectMemoryMatchesDisk(mapped);
  }
  EXPECT_GT(mapped.FileLength(), 4096u);
  EXPECT_EQ(mapped.Mapped(), RandomAccessFile::kMapsFiles);
  EXPECT_FALSE(positioned.Mapped());
  ASSERT_TRUE(mapped.Close());
  ASSERT_TRUE(positioned.Close());
  EXPECT_EQ(ReadBack(), std::vector<std::string>(model.begin(), model.end()));
}

// A file shorter than its length (another writer extends lazily) is written in place, never
// mapped: the mapping would first reserve every byte the header claims.
TEST_F(QueueFileMapping, AFileShorterThanItsLengthIsNeitherMappedNorGrown) {
  Image image(4096);
  image.Header(1u << 20, 1, 16, 16);
  image.Element(16, "abc");
  ASSERT_TRUE(WriteFileBytes(path_, image.bytes));
  QueueFile q(path_);
  ASSERT_TRUE(q.Init());
  std::string why;
  EXPECT_TRUE(q.ValidateHeader(&why)) << why;
  EXPECT_FALSE(q.Mapped());
  ASSERT_TRUE(AddText(q, "def"));
  q.Close();
  EXPECT_EQ(Bytes().size(), 4096u);
  EXPECT_EQ(ReadBack(), (std::vector<std::string>{"abc", "def"}));
}

// Growth prepared on another thread while adds go on, then taken ahead of need, keeps every
// element in order and every header valid, wrapped rings included; a preparation of a file
// since replaced, or one whose wrapped bytes exceed the copy allowed, changes nothing.
TEST_F(QueueFileMapping, GrowthPreparedOnAnotherThreadIsTakenAheadOfNeed) {
  QueueFile q(path_);
  ASSERT_TRUE(q.Init());
  if (!RandomAccessFile::kMapsFiles) {
    EXPECT_EQ(q.GrowthToPrepare(), 0u);  // positioned writes: growth stays with the add
    return;
  }
  std::mt19937 rng(5);
  std::deque<std::string> model;
  int aheadPlain = 0, aheadWrapped = 0;
  for (int step = 0; step < 600; ++step) {
    SCOPED_TRACE(step);
    const uint64_t next = q.GrowthToPrepare();
    if (next != 0 && q.PreparedLength() < next * 2) {
      const uint64_t from = q.PreparedLength();
      const uint64_t to = std::min<uint64_t>(next * 2, q.PreparableLength());
      std::shared_ptr<RandomAccessFile> target = q.SyncTarget();
      std::thread preparer([&] { EXPECT_TRUE(target->PrepareGrowth(from, to)); });
      for (int i = 0; i < 3; ++i) {  // adds meanwhile, none needing the growth
        const std::string d = Data(1 + rng() % 40, step * 10 + i);
        if (q.RemainingBytes() < 200) break;
        ASSERT_TRUE(AddText(q, d));
        model.push_back(d);
      }
      preparer.join();
      q.GrowthPrepared(target, to);
      EXPECT_EQ(q.PreparedLength(), to);
      EXPECT_GE(static_cast<uint64_t>(RegularFileSize(path_)), to);
    }
    const bool wrapped = q.Count() > 0 && q.First().position >= q.NextPosition();
    const uint32_t before = q.FileLength();
    if (q.ExpandAhead(64 * 1024)) {
      EXPECT_EQ(q.FileLength(), before * 2);
      ++(wrapped ? aheadWrapped : aheadPlain);
    }
    if (model.size() > 2 && rng() % 3 == 0) {
      const uint32_t n = 1 + rng() % static_cast<uint32_t>(model.size() - 1);
      ASSERT_TRUE(q.Remove(n));
      model.erase(model.begin(), model.begin() + n);
    } else {
      const std::string d = Data(rng() % 6 == 0 ? 1500 + rng() % 3000 : 1 + rng() % 300, step);
      ASSERT_TRUE(AddText(q, d));
      model.push_back(d);
    }
    ExpectMemoryMatchesDisk(q);
    if (step % 50 == 0) {
      ASSERT_EQ(ReadBack(), std::vector<std::string>(model.begin(), model.end()));
    }
  }
  EXPECT_GT(aheadPlain, 0);
  EXPECT_GT(aheadWrapped, 0);
  EXPECT_TRUE(q.Mapped());

  // Wrapped bytes beyond the copy allowed: left to the add that fills the ring.
  ASSERT_TRUE(q.Remove(q.Count()));
  while (q.FileLength() == 4096 && q.RemainingBytes() > 600) ASSERT_TRUE(AddText(q, Data(200, 1)));
  ASSERT_TRUE(q.Remove(q.Count() - 1));
  for (int i = 0; q.GrowthToPrepare() == 0; ++i) ASSERT_TRUE(AddText(q, Data(200, i)));
  ASSERT_TRUE(q.First().position >= q.NextPosition());  // wrapped
  std::shared_ptr<RandomAccessFile> target = q.SyncTarget();
  ASSERT_TRUE(target->PrepareGrowth(q.PreparedLength(), 8192));
  q.GrowthPrepared(target, 8192);
  const std::string image = Bytes().substr(0, 4096);
  EXPECT_FALSE(q.CanExpandAhead(0));
  EXPECT_FALSE(q.ExpandAhead(0));
  EXPECT_TRUE(SameBytes(Bytes().substr(0, 4096), image));
  EXPECT_EQ(q.FileLength(), 4096u);

  // A report about a file replaced since (the queue emptied) is ignored.
  ASSERT_TRUE(q.Remove(q.Count()));
  q.GrowthPrepared(target, 16384);
  EXPECT_EQ(q.PreparedLength(), 4096u);
  ASSERT_TRUE(q.Close());
}

// Pages brought in ahead of the adds, from another thread, leave every byte as it was.
TEST_F(QueueFileMapping, PrefaultChangesNoByte) {
  QueueFile q(path_);
  ASSERT_TRUE(q.Init());
  for (int i = 0; i < 12; ++i) ASSERT_TRUE(AddText(q, Data(250, i)));
  const std::string before = Bytes();
  std::shared_ptr<RandomAccessFile> target = q.SyncTarget();
  std::thread other([&] {
    EXPECT_EQ(target->Prefault(0, q.FileLength()), RandomAccessFile::kMapsFiles);
    EXPECT_FALSE(target->Prefault(0, 1u << 20));  // beyond the file: refused, no signal
  });
  other.join();
  EXPECT_TRUE(SameBytes(Bytes(), before));
  ASSERT_TRUE(q.Close());
  EXPECT_FALSE(target->Prefault(0, 4096));  // closed
}

}  // namespace
}  // namespace CorvaneSDK
