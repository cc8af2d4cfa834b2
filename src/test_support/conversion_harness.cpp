#include "test_support/conversion_harness.h"

#include <cstdio>
#include <cstring>

#include "driver/converter.h"
#include "output/scramble.h"
#include "platform/coding.h"

namespace kv {
namespace {

// Every test runs with the debug checks on, whatever the build type.
const bool kDebugChecksOn = (EnableDebugChecks(), true);

std::function<void(const std::string&)>& Observer() {
  static std::function<void(const std::string&)> observer;
  return observer;
}

// The script object a run with `args` writes: the last value of -so (in any
// case), or script.kvo.
std::string ScriptObjectName(const std::vector<std::string>& args) {
  std::string name = "script.kvo";
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.size() != 3 || a[0] != '-' || (a[1] | 0x20) != 's' || (a[2] | 0x20) != 'o') continue;
    while (i + 1 < args.size() && !args[i + 1].empty() && args[i + 1][0] != '-') name = args[++i];
  }
  return name;
}

}  // namespace

void SetScriptObjectObserver(std::function<void(const std::string& stored)> observer) {
  Observer() = std::move(observer);
}

ConversionRun RunConversion(MemoryFileSystem& fs, std::vector<std::string> args) {
  const std::string object = fs.AbsolutePath(ScriptObjectName(args));
  const std::string before = fs.HasFile(object) ? fs.FileContents(object) : "";
  StringSink sink;
  args.insert(args.begin(), "KVConverter");
  ConverterEnvironment env{fs, sink, ConsoleEncoding::kUtf8, [] { return 1234567u; }, nullptr};
  ConversionRun run;
  run.status = RunConverter(args, env);
  run.console = sink.text;
  if (Observer() && fs.HasFile(object) && fs.FileContents(object) != before) {
    Observer()(fs.FileContents(object));
  }
  return run;
}

std::string ReadObject(MemoryFileSystem& fs, const std::string& path) {
  if (!fs.HasFile(path)) return "";
  std::string contents;
  if (!UnscrambleBytes(fs.FileContents(path), &contents)) return "";
  return contents;
}

namespace {

uint32_t Fixed32(const std::string& bytes, size_t offset) {
  return offset + 4 > bytes.size() ? 0 : DecodeFixed32(bytes.data() + offset);
}

}  // namespace

std::string ScriptCode(const std::string& object, const std::string& script_path) {
  uint32_t count = Fixed32(object, 7);
  size_t at = 11;
  for (uint32_t i = 0; i < count && at + 4 <= object.size(); ++i) {
    uint32_t length = Fixed32(object, at);
    std::string name = object.substr(at + 4, length);
    uint32_t offset = Fixed32(object, at + 4 + length);
    uint32_t code_length = Fixed32(object, at + 8 + length);
    if (name == script_path) return object.substr(offset, code_length);
    at += 12 + length;
  }
  return "";
}

std::string CompileMain(const std::string& main_txt, std::string* console) {
  MemoryFileSystem fs("/game");
  fs.AddFile("/game/main.txt", main_txt);
  ConversionRun run = RunConversion(fs);
  if (console != nullptr) *console = run.console;
  return ScriptCode(ReadObject(fs, "/game/script.kvo"), "/game/main.txt");
}

std::string Hex(const std::string& bytes) {
  std::string out;
  char buffer[4];
  for (unsigned char c : bytes) {
    std::snprintf(buffer, sizeof buffer, "%02X", c);
    if (!out.empty()) out.push_back(' ');
    out += buffer;
  }
  return out;
}

std::string Bytes(const std::string& hex) {
  std::string out;
  int high = -1;
  for (char c : hex) {
    int v;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    else continue;
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<char>(high * 16 + v));
      high = -1;
    }
  }
  return out;
}

std::string DoubleHex(double value) {
  std::string bytes(8, '\0');
  std::memcpy(bytes.data(), &value, 8);
  return Hex(bytes);
}

}  // namespace kv
