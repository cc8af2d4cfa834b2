// kvdump on hostile script objects whose header is all there is: N script
// entries and N labels, each label in a script of its own, and N entries of
// one path whose N labels all name it. Each action is timed against the
// plain listing of the same object in the same run (read, unscramble, the
// header's lines), which every action does first: the ratio stays small when
// an action costs what the object holds, and grows with N when it does not.
//
//   kvdump_scale_bench [N] [ROUNDS]
//
// Defaults: N = 20000, 7 rounds; prints each action's minimum, median and
// maximum seconds and ratio, and the lines it printed.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "context/object_format.h"
#include "kvdump/kvdump.h"
#include "output/scramble.h"
#include "platform/coding.h"
#include "test_support/memory_file_system.h"
#include "test_support/scramble_reference.h"

namespace {

std::string U32(uint32_t v) {
  std::string out;
  kv::PutFixed32(&out, v);
  return out;
}
std::string Text(const std::string& s) { return U32(static_cast<uint32_t>(s.size())) + s; }

// A script object of `scripts` entries, each holding the end command, and one
// label per entry, at its entry 0.
std::string HostileObject(int n, bool one_path) {
  const std::string end = std::string(1, kv::SpecCommand) + U32(442) +
                          std::string(1, kv::SpecChar) + std::string(1, '\0');
  const std::string directory = "/game/";
  auto path = [&](int i) {
    return one_path ? directory + "main.txt" : directory + "s" + std::to_string(i) + ".txt";
  };
  size_t header = kv::kFixedHeaderSize + kv::kScriptHeaderCounts + directory.size();
  for (int i = 0; i < n; ++i) {
    header += kv::kEntryOverhead + path(i).size();
    header += kv::kDefinitionOverhead + ("l" + std::to_string(i)).size() + path(i).size();
  }
  std::string entries, labels, code;
  for (int i = 0; i < n; ++i) {
    entries += Text(path(i)) + U32(static_cast<uint32_t>(header + code.size())) +
               U32(static_cast<uint32_t>(end.size()));
    code += end;
    labels += Text("l" + std::to_string(i)) + Text(path(i)) + U32(0);
  }
  const std::string image =
      "KVS" + U32(static_cast<uint32_t>(header)) + U32(static_cast<uint32_t>(n)) + entries +
      U32(static_cast<uint32_t>(n)) + labels + U32(0) + Text(directory) + code;
  return kv::ScrambleBytes(image, {37, 5});
}

struct Measured {
  double seconds;
  size_t lines;
};

Measured Time(kv::MemoryFileSystem& fs, const std::vector<std::string>& args) {
  size_t lines = 0;
  kv::kvdump::Environment env{fs,
                              [&lines](std::string_view s) {
                                lines += static_cast<size_t>(std::count(s.begin(), s.end(), '\n'));
                              },
                              [](std::string_view) {}, true, nullptr};
  const auto start = std::chrono::steady_clock::now();
  kv::kvdump::Run(args, env);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  return {took.count(), lines};
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  const int n = argc > 1 ? std::atoi(argv[1]) : 20000;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 7;
  std::printf("kvdump over hostile script objects, N = %d, %d rounds\n", n, rounds);
  std::printf("%-34s %9s %9s %9s %8s %8s\n", "action", "min s", "median s", "max s", "ratio",
              "lines");
  double slowest = 0;
  for (const bool one_path : {false, true}) {
    kv::MemoryFileSystem fs("/work");
    const std::string stored = HostileObject(n, one_path);
    fs.AddFile("/work/o.kvo", stored);
    std::printf("%s (%zu bytes):\n",
                one_path ? "N entries of one path, N labels naming it"
                         : "N scripts, N labels each in a script of its own",
                stored.size());
    const std::vector<std::vector<std::string>> actions = {
        {"kvdump", "o.kvo"}, {"kvdump", "-d", "o.kvo"}, {"kvdump", "--check", "o.kvo"}};
    std::vector<std::vector<double>> seconds(actions.size()), ratios(actions.size());
    std::vector<size_t> lines(actions.size());
    for (int r = 0; r < rounds; ++r) {
      double baseline = 0;
      for (size_t a = 0; a < actions.size(); ++a) {
        const Measured m = Time(fs, actions[a]);
        if (a == 0) baseline = m.seconds;
        seconds[a].push_back(m.seconds);
        ratios[a].push_back(m.seconds / baseline);
        lines[a] = m.lines;
      }
    }
    for (size_t a = 0; a < actions.size(); ++a) {
      std::string name;
      for (size_t w = 0; w + 1 < actions[a].size(); ++w) name += actions[a][w] + " ";
      name += a == 0 ? "(baseline: the listing)" : "";
      slowest = std::max(slowest, Median(seconds[a]));
      std::printf("  %-32s %9.4f %9.4f %9.4f %8.2f %8zu\n", name.c_str(),
                  *std::min_element(seconds[a].begin(), seconds[a].end()), Median(seconds[a]),
                  *std::max_element(seconds[a].begin(), seconds[a].end()), Median(ratios[a]),
                  lines[a]);
    }
  }
  std::printf("slowest median: %.4f s (bound: 0.5 s at N = 20000)\n", slowest);
  return 0;
}
