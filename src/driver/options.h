// The command line: directories, extension lists and output names.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "context/diagnostics.h"

namespace kv {

class KCSystem;

enum class OptionsResult {
  kSearched,  // options settled and the file search succeeded
  kFailed,    // an invalid option or a failed search (already reported)
  kHelp,      // the help text or the version was printed; the program ends
};

// Parses `args` (args[0] is the program name), stores the settled values in
// `sys` and runs the file search. *script_found tells whether a script was
// registered.
OptionsResult ParseOptions(KCSystem& sys, const std::vector<std::string>& args,
                           bool* script_found);

// The extensions searched when no option names others: scripts, images,
// audio and movies, in this order.
const std::array<std::vector<std::string>, 4>& DefaultExtensions();

// The console encoding that a --console-encoding= word of `args` chooses (the
// last one counts), or `detected` when none does. Taken before anything is
// printed, so every line of the run, option errors included, reads alike.
ConsoleEncoding ConsoleEncodingFor(const std::vector<std::string>& args, ConsoleEncoding detected);

}  // namespace kv
