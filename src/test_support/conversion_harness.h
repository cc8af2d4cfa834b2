// Runs the whole converter over an in-memory game tree, for tests.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "test_support/memory_file_system.h"

namespace kv {

struct ConversionRun {
  int status = -1;
  std::string console;  // everything printed, UTF-8
};

// Runs the converter in `fs` (current directory /game unless the file system
// says otherwise) with `args` (without the program name); the scramble seed is
// fixed.
ConversionRun RunConversion(MemoryFileSystem& fs, std::vector<std::string> args = {});

// Called with each script object that a RunConversion writes (as stored,
// scrambled): a test binary sets it once to check every game its tests make.
void SetScriptObjectObserver(std::function<void(const std::string& stored)> observer);

// The unscrambled image of an object file written to `fs`, or "" when the
// file does not exist.
std::string ReadObject(MemoryFileSystem& fs, const std::string& path);

// The compiled code of one script inside an unscrambled script object: the
// bytes its header entry points at. Empty when the script is not listed.
std::string ScriptCode(const std::string& object, const std::string& script_path);

// Compiles a game whose only script is /game/main.txt with `main_txt` and
// returns the compiled code of main.txt (empty when no object was written);
// the console text goes to *console when given.
std::string CompileMain(const std::string& main_txt, std::string* console = nullptr);

// Hex dump "01 9B 00 00 00" of bytes, for readable failure messages.
std::string Hex(const std::string& bytes);
// Bytes from a hex dump; white space is ignored.
std::string Bytes(const std::string& hex);
// The eight little-endian bytes of a double, as hex ("00 00 00 00 00 00 F0 3F").
std::string DoubleHex(double value);

}  // namespace kv
