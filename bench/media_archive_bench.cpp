// Throughput of the scrambler and of packing a media archive over the
// in-memory file system (no disk), in bytes of media per second.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "context/kc_system.h"
#include "output/media_archive.h"
#include "output/scramble.h"
#include "test_support/memory_file_system.h"

namespace kv {
namespace {

std::string RandomBytes(size_t n) {
  std::string s(n, '\0');
  uint32_t x = 2463534242u;
  for (char& c : s) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x);
  }
  return s;
}

void BM_StreamScrambler(benchmark::State& state) {
  const std::string block = RandomBytes(size_t{1} << 20);
  const int64_t blocks = state.range(0);
  std::string out;
  out.reserve(block.size() + 2);
  for (auto _ : state) {
    StreamScrambler scrambler(static_cast<uint64_t>(blocks) * block.size(), MakeScrambleKey(1));
    for (int64_t i = 0; i < blocks; ++i) {
      out.clear();
      scrambler.Feed(block.data(), block.size(), &out);
      benchmark::DoNotOptimize(out.data());
    }
  }
  state.SetBytesProcessed(state.iterations() * blocks * static_cast<int64_t>(block.size()));
}
BENCHMARK(BM_StreamScrambler)->Arg(64)->Unit(benchmark::kMillisecond);

// Packs `files` files of `size` bytes each into one archive.
void BM_WriteMediaArchive(benchmark::State& state) {
  const int files = static_cast<int>(state.range(0));
  const size_t size = static_cast<size_t>(state.range(1));
  MemoryFileSystem fs("/game");
  std::vector<std::string> paths;
  const std::string contents = RandomBytes(size);
  for (int i = 0; i < files; ++i) {
    paths.push_back("/game/movie/clip" + std::to_string(i) + ".avi");
    fs.AddFile(paths.back(), contents);
  }
  StringSink sink;
  KCSystem sys(fs, sink, ConsoleEncoding::kUtf8);
  sys.seedClock = [] { return 1u; };
  for (auto _ : state) {
    sink.text.clear();
    if (!WriteMediaArchive(sys, "KVM", paths, "/game/movie.kvo", "", "")) {
      state.SkipWithError("packing failed");
      break;
    }
    fs.RemoveFile("/game/movie.kvo");
  }
  state.SetBytesProcessed(state.iterations() * files * static_cast<int64_t>(size));
}
BENCHMARK(BM_WriteMediaArchive)
    ->Args({1000, 16 << 10})
    ->Args({8, 8 << 20})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kv
