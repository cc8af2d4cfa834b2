// The check every script object written by a run without errors must pass,
// for tests and fuzz targets: kvdump's structural check, and the scripts its
// header lists.
#pragma once

#include <string>
#include <vector>

namespace kv {

// True when `stored` (a script object as written, scrambled) passes kvdump's
// check: key and step, the header's fields, every script's code, its jumps
// and its labels and functions. The listed script paths go to *scripts;
// otherwise false with the first problem in *problem.
bool CheckScriptObject(const std::string& stored, std::vector<std::string>* scripts,
                       std::string* problem);

}  // namespace kv
