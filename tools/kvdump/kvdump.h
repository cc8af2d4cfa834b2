// kvdump: inspects, disassembles, validates and extracts the object files of
// the converter. Everything the program does is here, over an environment
// that tests replace; main.cpp only connects it to the real system.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kvdump/object_reader.h"
#include "platform/file_system.h"
#include "platform/tree_writer.h"

namespace kv::kvdump {

struct Environment {
  FileSystem& fs;                                  // inputs, and the output of --raw
  std::function<void(std::string_view)> out;       // standard output
  std::function<void(std::string_view)> err;       // standard error
  bool utf8 = true;                                // console encoding of script text and names
  // Opens the directory of --extract.
  std::function<std::unique_ptr<TreeWriter>(const std::string& root, std::string* error)>
      open_tree;
};

// Runs kvdump with `args` (args[0] is the program name). Returns the exit
// status: 0 when every file was sound and every action done, 1 when a file
// was unreadable or malformed or an action failed, 2 for a usage error.
int Run(const std::vector<std::string>& args, Environment& env);

// Everything kvdump reads from one stored object, in memory: the header
// listing, the disassembly and the structural check. True when the object is
// sound; otherwise false with the first problem. *text receives what the
// listing printed up to there. Never exits, never touches the file system:
// the entry point for fuzzing.
bool InspectStoredObject(std::string_view stored, std::string* text, Problem* problem);

}  // namespace kv::kvdump
