// kvls applying the editor's changes to one large open script: the time of
// each didChange (one keystroke: a character typed, a line broken, a
// character taken away, anywhere in the script), for a small and a large
// script in the same run. Applying a change should cost the same in both;
// the text is converted, and handed to the analysis, once, when the
// analysis next runs, which is timed apart, beside one whole conversion of
// the script (what every change cost when each converted the whole text).
//
//   kvls_change_bench [SMALL_MIB LARGE_MIB [CHANGES]]
//
// Defaults: 1 and 64 MiB, 2000 changes each.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "server/language_server.h"
#include "test_support/memory_file_system.h"
#include "test_support/recording_analysis.h"
#include "workspace/document_store.h"
#include "workspace/document_text.h"

namespace {

using Clock = std::chrono::steady_clock;

double Us(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

kv::IncomingMessage Message(kv::Json value) {
  kv::IncomingMessage message;
  message.kind = kv::IncomingMessage::Kind::kMessage;
  message.value = std::move(value);
  return message;
}

kv::Json Notification(const char* method, kv::Json params) {
  kv::Json json = kv::Json::object();
  json["jsonrpc"] = "2.0";
  json["method"] = method;
  json["params"] = std::move(params);
  return json;
}

// A script of about `bytes`: lines of text with Japanese in them.
std::string Script(size_t bytes, size_t* lines) {
  std::string text;
  text.reserve(bytes + 64);
  *lines = 0;
  while (text.size() < bytes) {
    text += "text \"\xE3\x81\x82\xE3\x81\x84\xE3\x81\x86 line " + std::to_string(*lines) + "\";\n";
    ++*lines;
  }
  return text;
}

struct Result {
  double min, median, max;  // microseconds per change
  double analysis_us;       // the conversion when the analysis runs
  double whole_us;          // one conversion of the whole text
};

Result Measure(size_t bytes, int changes) {
  kv::MemoryFileSystem fs;
  kv::RecordingAnalysis analysis;
  kv::DocumentStore store(fs);
  kv::LanguageServer server(analysis, store, kv::PathStyle::kPosix, [](const kv::Json&) {});
  kv::Json init = kv::Json::object();
  init["jsonrpc"] = "2.0";
  init["id"] = 0;
  init["method"] = "initialize";
  init["params"] =
      kv::Json::object({{"rootUri", "file:///game"}, {"capabilities", kv::Json::object()}});
  server.Handle(Message(init));
  server.Handle(Message(Notification("initialized", kv::Json::object())));
  size_t lines = 0;
  const std::string text = Script(bytes, &lines);
  kv::Json document = kv::Json::object();
  document["uri"] = "file:///game/main.txt";
  document["languageId"] = "kvscript";
  document["version"] = 1;
  document["text"] = text;
  server.Handle(Message(Notification("textDocument/didOpen", {{"textDocument", document}})));
  server.AnalyseAndPublish();

  std::mt19937 random(1);
  std::vector<kv::IncomingMessage> messages;
  for (int i = 0; i < changes; ++i) {
    const int64_t line = static_cast<int64_t>(random() % lines);
    const int64_t column = 1 + static_cast<int64_t>(random() % 8);
    const int kind = i % 3;  // typed, line broken, taken away
    kv::Json start = {{"line", line}, {"character", column}};
    kv::Json end = {{"line", line}, {"character", column + (kind == 2 ? 1 : 0)}};
    kv::Json change = {{"range", {{"start", start}, {"end", end}}},
                       {"text", kind == 0 ? "\xE3\x81\x8B" : kind == 1 ? "\n" : ""}};
    kv::Json params = {{"textDocument", {{"uri", "file:///game/main.txt"}, {"version", 2 + i}}},
                       {"contentChanges", kv::Json::array({change})}};
    messages.push_back(Message(Notification("textDocument/didChange", std::move(params))));
  }
  std::vector<double> times;
  for (const kv::IncomingMessage& message : messages) {
    const Clock::time_point start = Clock::now();
    server.Handle(message);
    times.push_back(Us(Clock::now() - start));
  }
  Clock::time_point start = Clock::now();
  server.AnalyseAndPublish();
  const double analysis_us = Us(Clock::now() - start);
  if (analysis.documents.at("/game/main.txt").size() < bytes / 2) {
    std::fprintf(stderr, "kvls_change_bench: the analysis was not given the text\n");
    std::exit(1);
  }
  start = Clock::now();
  const auto whole = kv::DocumentText::FromUtf8(text);
  const double whole_us = Us(Clock::now() - start);
  std::sort(times.begin(), times.end());
  return {times.front(), times[times.size() / 2], times.back(), analysis_us, whole_us};
}

}  // namespace

int main(int argc, char** argv) {
  const size_t small_mib = argc > 2 ? std::strtoul(argv[1], nullptr, 10) : 1;
  const size_t large_mib = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 64;
  const int changes = argc > 3 ? std::atoi(argv[3]) : 2000;
  const Result small = Measure(small_mib << 20, changes);
  const Result large = Measure(large_mib << 20, changes);
  std::printf("%d didChange of one keystroke each, microseconds\n", changes);
  std::printf("%-10s %10s %10s %10s %14s %14s\n", "script", "min", "median", "max",
              "analysis run", "whole convert");
  for (const auto& [mib, r] : {std::pair{small_mib, small}, std::pair{large_mib, large}}) {
    std::printf("%4zu MiB   %10.1f %10.1f %10.1f %14.0f %14.0f\n", mib, r.min, r.median, r.max,
                r.analysis_us, r.whole_us);
  }
  std::printf("median per change, large/small: %.2f (flat: about 1)\n",
              large.median / small.median);
  return 0;
}
