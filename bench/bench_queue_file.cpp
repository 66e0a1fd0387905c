// QueueFile throughput: add and remove of 1 KB elements, expansion of a full wrapped ring,
// and the start-up reload of 5000 elements, each against a baseline measured in the same
// run (plain sequential writes or one whole-file read of the same bytes).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "FileIO.h"
#include "Logger.h"
#include "QueueFile.h"

namespace {

using namespace CorvaneSDK;
namespace fs = std::filesystem;

constexpr size_t kElement = 1024;
constexpr int kReloadCount = 5000;
constexpr int kResetEvery = 8192;  // adds before the file is emptied again (8 MiB)

const std::string& Folder() {
  static const std::string folder = [] {
    fs::path dir = fs::temp_directory_path() /
                   ("corvane-bench-queue-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
    return dir.string();
  }();
  return folder;
}

std::string PathOf(const std::string& name) {
  return JoinPath(Folder(), name);
}

// An event-like 1 KB element.
std::string Element(size_t size, int seed) {
  std::string s = "{\"eventName\":\"bench\",\"eId\":\"" + std::to_string(seed) + "\",\"value\":\"";
  while (s.size() + 2 < size) s += static_cast<char>('a' + (s.size() + seed) % 26);
  s += "\"}";
  s.resize(size, ' ');
  return s;
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Spit(const std::string& path, const std::string& bytes) {
  RemoveFile(path);
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// ---- add ----

// Appends to a queue file that starts fresh and grows by doubling (expansions included,
// amortised), emptied every kResetEvery adds outside the timing.
void BM_QueueFileAdd(benchmark::State& state) {
  const std::string path = PathOf("add.queue");
  RemoveFile(path);
  QueueFile q(path);
  if (!q.Init()) state.SkipWithError("init failed");
  const std::string e = Element(kElement, 1);
  int n = 0;
  for (auto _ : state) {
    if (!q.Add(e.data(), static_cast<uint32_t>(e.size()))) state.SkipWithError("add failed");
    if (++n == kResetEvery) {
      state.PauseTiming();
      q.Remove(q.Count());
      n = 0;
      state.ResumeTiming();
    }
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kElement));
  q.Close();
  RemoveFile(path);
}
BENCHMARK(BM_QueueFileAdd);

// The same bytes appended with one unbuffered write per element (what survives a kill too).
void BM_BaselineSequentialWrite(benchmark::State& state) {
  const std::string path = PathOf("baseline.bin");
  RemoveFile(path);
  auto f = RandomAccessFile::Open(path, true, nullptr);
  const std::string e = Element(kElement, 1);
  uint64_t offset = 0;
  int n = 0;
  for (auto _ : state) {
    if (!f->WriteAt(offset, e.data(), e.size())) state.SkipWithError("write failed");
    offset += e.size();
    if (++n == kResetEvery) {
      state.PauseTiming();
      f->Close();
      RemoveFile(path);
      f = RandomAccessFile::Open(path, true, nullptr);
      offset = 0;
      n = 0;
      state.ResumeTiming();
    }
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kElement));
  f->Close();
  RemoveFile(path);
}
BENCHMARK(BM_BaselineSequentialWrite);

// The same bytes through a buffered stdio stream: no durability at all until fflush.
void BM_BaselineBufferedWrite(benchmark::State& state) {
  const std::string path = PathOf("buffered.bin");
  std::FILE* f = std::fopen(path.c_str(), "wb");
  const std::string e = Element(kElement, 1);
  int n = 0;
  for (auto _ : state) {
    std::fwrite(e.data(), 1, e.size(), f);
    if (++n == kResetEvery) {
      state.PauseTiming();
      std::fclose(f);
      f = std::fopen(path.c_str(), "wb");
      n = 0;
      state.ResumeTiming();
    }
  }
  std::fclose(f);
  state.SetItemsProcessed(state.iterations());
  RemoveFile(path);
}
BENCHMARK(BM_BaselineBufferedWrite);

// ---- remove ----

// Removes the oldest 1 KB element (header write, zeroing of 1028 bytes, next length read)
// from a queue that is refilled outside the timing.
void BM_QueueFileRemove(benchmark::State& state) {
  const std::string path = PathOf("remove.queue");
  RemoveFile(path);
  QueueFile q(path);
  if (!q.Init()) state.SkipWithError("init failed");
  const std::string e = Element(kElement, 2);
  auto refill = [&] {
    while (q.Count() < 2000) q.Add(e.data(), static_cast<uint32_t>(e.size()));
  };
  refill();
  for (auto _ : state) {
    if (!q.Remove(1)) state.SkipWithError("remove failed");
    if (q.Count() < 2) {
      state.PauseTiming();
      refill();
      state.ResumeTiming();
    }
  }
  state.SetItemsProcessed(state.iterations());
  q.Close();
  RemoveFile(path);
}
BENCHMARK(BM_QueueFileRemove);

// Steady state of a running SDK: one add and one remove per event with ~100 queued.
void BM_QueueFileAddRemoveSteady(benchmark::State& state) {
  const std::string path = PathOf("steady.queue");
  RemoveFile(path);
  QueueFile q(path);
  if (!q.Init()) state.SkipWithError("init failed");
  const std::string e = Element(kElement, 3);
  for (int i = 0; i < 100; ++i) q.Add(e.data(), static_cast<uint32_t>(e.size()));
  for (auto _ : state) {
    if (!q.Add(e.data(), static_cast<uint32_t>(e.size())) || !q.Remove(1)) {
      state.SkipWithError("add/remove failed");
    }
  }
  state.SetItemsProcessed(state.iterations());
  q.Close();
  RemoveFile(path);
}
BENCHMARK(BM_QueueFileAddRemoveSteady);

// ---- expansion ----

// A full ring of `length` bytes whose newer half has wrapped to the front.
std::string WrappedFullImage(uint32_t length) {
  const std::string path = PathOf("template.queue");
  RemoveFile(path);
  QueueFile q(path);
  q.Init();
  const std::string e = Element(kElement, 4);
  const uint32_t e32 = static_cast<uint32_t>(e.size());
  while (q.FileLength() < length || q.RemainingBytes() >= e.size() + 4) q.Add(e.data(), e32);
  q.Remove(q.Count() / 2);
  while (q.RemainingBytes() >= e.size() + 4) q.Add(e.data(), e32);
  q.Close();
  std::string bytes = Slurp(path);
  RemoveFile(path);
  return bytes;
}

// One add that doubles a full wrapped ring: the wrapped half is copied behind the old end.
void BM_QueueFileExpandWrapped(benchmark::State& state) {
  const uint32_t length = static_cast<uint32_t>(state.range(0));
  const std::string image = WrappedFullImage(length);
  const std::string path = PathOf("expand.queue");
  const std::string e = Element(kElement, 5);
  for (auto _ : state) {
    state.PauseTiming();
    Spit(path, image);
    QueueFile q(path);
    q.Init();
    state.ResumeTiming();
    if (!q.Add(e.data(), static_cast<uint32_t>(e.size()))) state.SkipWithError("add failed");
    state.PauseTiming();
    if (q.FileLength() != 2 * length) state.SkipWithError("no expansion");
    q.Close();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(length / 2));
  RemoveFile(path);
}
BENCHMARK(BM_QueueFileExpandWrapped)->Arg(64 << 10)->Arg(1 << 20)->Iterations(200);

// Baseline: writing the bytes the expansion copies, sequentially, into a fresh file.
void BM_BaselineCopyHalf(benchmark::State& state) {
  const uint32_t length = static_cast<uint32_t>(state.range(0));
  const std::string half(length / 2, 'x');
  const std::string path = PathOf("copy.bin");
  for (auto _ : state) {
    state.PauseTiming();
    RemoveFile(path);
    auto f = RandomAccessFile::Open(path, true, nullptr);
    state.ResumeTiming();
    for (size_t at = 0; at < half.size(); at += 4096) {
      f->WriteAt(length + at, half.data() + at, std::min<size_t>(4096, half.size() - at));
    }
    state.PauseTiming();
    f->Close();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(length / 2));
  RemoveFile(path);
}
BENCHMARK(BM_BaselineCopyHalf)->Arg(64 << 10)->Arg(1 << 20)->Iterations(200);

// ---- reload ----

const std::string& ReloadImage() {
  static const std::string image = [] {
    const std::string path = PathOf("reload-template.queue");
    RemoveFile(path);
    QueueFile q(path);
    q.Init();
    for (int i = 0; i < kReloadCount; ++i) {
      const std::string e = Element(kElement, i);
      q.Add(e.data(), static_cast<uint32_t>(e.size()));
    }
    q.Close();
    std::string bytes = Slurp(path);
    RemoveFile(path);
    return bytes;
  }();
  return image;
}

// Start-up: open, validate and read all 5000 elements.
void BM_QueueFileReload5000(benchmark::State& state) {
  const std::string path = PathOf("reload.queue");
  Spit(path, ReloadImage());
  for (auto _ : state) {
    QueueFile q(path);
    std::vector<std::string> all;
    std::string why;
    if (!q.Init() || !q.ValidateHeader(&why) || !q.ReadAll(all, &why) ||
        all.size() != static_cast<size_t>(kReloadCount)) {
      state.SkipWithError("reload failed");
    }
    benchmark::DoNotOptimize(all.data());
    q.Close();
  }
  state.SetItemsProcessed(state.iterations() * kReloadCount);
  RemoveFile(path);
}
BENCHMARK(BM_QueueFileReload5000)->Unit(benchmark::kMillisecond);

// Baseline: one whole-file read of the same bytes, split into 5000 strings.
void BM_BaselineReadWhole5000(benchmark::State& state) {
  const std::string path = PathOf("reload-baseline.bin");
  Spit(path, ReloadImage());
  for (auto _ : state) {
    std::string bytes;
    if (!ReadWholeFile(path, bytes, size_t{1} << 30)) state.SkipWithError("read failed");
    std::vector<std::string> all;
    all.reserve(kReloadCount);
    for (int i = 0; i < kReloadCount; ++i) {
      all.emplace_back(bytes, 20 + static_cast<size_t>(i) * (kElement + 4), kElement);
    }
    benchmark::DoNotOptimize(all.data());
  }
  state.SetItemsProcessed(state.iterations() * kReloadCount);
  RemoveFile(path);
}
BENCHMARK(BM_BaselineReadWhole5000)->Unit(benchmark::kMillisecond);

// ---- report ----

// The console table without colour codes (it usually ends up in a log), plus the rates.
class CollectingReporter : public benchmark::ConsoleReporter {
 public:
  CollectingReporter() : ConsoleReporter(OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
      auto it = run.counters.find("items_per_second");
      if (it != run.counters.end()) rates[run.benchmark_name()] = it->second.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> rates;
};

void Compare(const CollectingReporter& r, const char* what, const std::string& name,
             const std::string& baseline, const char* baselineWhat) {
  auto a = r.rates.find(name), b = r.rates.find(baseline);
  if (a == r.rates.end() || b == r.rates.end()) return;
  std::cout << std::left << std::setw(34) << what << std::right << std::setw(12) << std::fixed
            << std::setprecision(0) << a->second << " /s   " << std::left << std::setw(30)
            << baselineWhat << std::right << std::setw(12) << b->second << " /s   ratio "
            << std::setprecision(2) << a->second / b->second << "\n";
}

}  // namespace

int main(int argc, char** argv) {
  CorvaneSDK::Logger::SetLevel(CorvaneSDK::kLogError);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  CollectingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  std::cout << "\nQueueFile against baselines of the same run (1 KB elements):\n";
  Compare(reporter, "add (fresh file, growing)", "BM_QueueFileAdd", "BM_BaselineSequentialWrite",
          "sequential unbuffered write");
  Compare(reporter, "add (fresh file, growing)", "BM_QueueFileAdd", "BM_BaselineBufferedWrite",
          "buffered fwrite");
  Compare(reporter, "remove oldest", "BM_QueueFileRemove", "BM_BaselineSequentialWrite",
          "sequential unbuffered write");
  Compare(reporter, "add + remove, steady", "BM_QueueFileAddRemoveSteady",
          "BM_BaselineSequentialWrite", "sequential unbuffered write");
  Compare(reporter, "expand 64 KiB wrapped ring", "BM_QueueFileExpandWrapped/65536/iterations:200",
          "BM_BaselineCopyHalf/65536/iterations:200", "write of the copied bytes");
  Compare(reporter, "expand 1 MiB wrapped ring", "BM_QueueFileExpandWrapped/1048576/iterations:200",
          "BM_BaselineCopyHalf/1048576/iterations:200", "write of the copied bytes");
  Compare(reporter, "reload 5000 (elements/s)", "BM_QueueFileReload5000",
          "BM_BaselineReadWhole5000", "whole-file read + split");
  std::error_code ec;
  fs::remove_all(Folder(), ec);
  return 0;
}
