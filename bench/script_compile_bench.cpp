// Throughput of script compilation over the in-memory file system (no disk),
// in bytes of script per second: the tokenizer alone, and whole conversions
// (loading, compiling and writing the script object) of a generated game.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "driver/converter.h"
#include "context/kc_system.h"
#include "language/kc_command.h"
#include "test_support/memory_file_system.h"
#include "script_generator.h"
#include "source/source_loader.h"
#include "source/tokenizer.h"

namespace kv {
namespace {

constexpr size_t kMiB = size_t{1} << 20;

// One scene of about `bytes` bytes.
std::string Scene(size_t bytes) {
  std::mt19937 rng(42);
  return bench::SceneWriter(rng, 0).Write(bytes);
}

// Reads every statement of a 4 MiB scene, over and over.
void BM_ReadStatement(benchmark::State& state) {
  MemoryFileSystem fs("/game");
  fs.AddFile("/game/scene.txt", Scene(4 * kMiB));
  StringSink sink;
  KCSystem sys(fs, sink, ConsoleEncoding::kUtf8);
  KCCommand command(sys);
  SourceText* source = LoadSource(sys, "/game/scene.txt");
  if (source == nullptr) {
    state.SkipWithError("the scene could not be loaded");
    return;
  }
  sys.script.currentSource = source;
  const size_t bytes = source->contents.size();
  for (auto _ : state) {
    source->FileSeek(0, 0);
    while (ReadStatement(sys.log, command.statement(), *source) != StatementEnd) {
    }
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
}
BENCHMARK(BM_ReadStatement)->Unit(benchmark::kMillisecond);

// Converts a game of `files` scenes of `size` bytes each (script object only).
void BM_ConvertScripts(benchmark::State& state) {
  const int files = static_cast<int>(state.range(0));
  const size_t size = static_cast<size_t>(state.range(1));
  MemoryFileSystem fs("/game");
  fs.AddFile("/game/main.txt", bench::MainScript(files));
  std::mt19937 rng(42);
  size_t bytes = 0;
  for (int i = 0; i < files; ++i) {
    std::string scene = bench::SceneWriter(rng, i).Write(size);
    bytes += scene.size();
    fs.AddFile("/game/scenes/scene" + std::to_string(i) + ".txt", std::move(scene));
  }
  const std::vector<std::string> args = {"KVConverter", "-i", "-a", "-m"};
  StringSink sink;
  ConverterEnvironment env{fs, sink, ConsoleEncoding::kUtf8, [] { return 1u; }, nullptr};
  for (auto _ : state) {
    sink.text.clear();
    if (RunConverter(args, env) != 0) {
      state.SkipWithError("the conversion failed");
      break;
    }
    fs.RemoveFile("/game/script.kvo");
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
}
BENCHMARK(BM_ConvertScripts)->Args({100, 100 << 10})->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kv
