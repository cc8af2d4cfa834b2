// One run of the converter: options and search, the setup and main phases of
// script conversion, the object files, and the result line.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "context/diagnostics.h"

namespace kv {

class FileSystem;

struct ConverterEnvironment {
  FileSystem& fs;
  MessageSink& sink;
  ConsoleEncoding encoding;
  std::function<uint32_t()> seed_clock;  // seconds that seed the scrambling
  // The final wait for Enter; null when nobody is there to press it
  // (standard input is no terminal), and then no prompt is printed either.
  std::function<void()> wait_for_enter;
  // The system converts between CP932 and UTF-8 (for the console).
  bool cp932_conversion = true;
  // A command-line word with no CP932 form, in UTF-8 (empty when every word
  // has one): an option error.
  std::string unconvertible_argument = {};
  // Takes the line printed when the run is interrupted, in the console's
  // encoding; null when nothing handles interruptions.
  std::function<void(std::string_view)> set_interrupt_line = nullptr;
  // Also receives every diagnostic as a record; null: none.
  DiagnosticListener* listener = nullptr;
};

// Runs the converter with `args` (args[0] is the program name, the words are
// CP932), printing in the encoding a --console-encoding= word chooses or else
// in env.encoding. Returns the exit status: 0 when the result is success (and
// after the help text), 1 when an error was counted or the console could not
// take what was printed.
int RunConverter(const std::vector<std::string>& args, const ConverterEnvironment& env);

}  // namespace kv
