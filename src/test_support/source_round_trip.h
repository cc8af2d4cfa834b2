// The round trip script -> object -> kvdump --source -> object, for tests and
// fuzz targets: a script object's scripts decompiled, converted again, and
// the two objects compared.
#pragma once

#include <string>
#include <vector>

namespace kv {

// What kvdump --source makes of a script object, and how to convert it again.
struct DecompiledTree {
  // Each script's place below the directory ('/'-separated) and its text.
  std::vector<std::pair<std::string, std::string>> files;
  std::string engine_directory;         // its place below the directory, '/'-separated, ends in '/'
  std::vector<std::string> extensions;  // of the scripts, for -se
};

// Decompiles the script object `stored` (as written, scrambled); false with
// the reason kvdump --source gives when it refuses.
bool DecompileObject(const std::string& stored, DecompiledTree* tree, std::string* problem);

// Compares the script object `original` with `rebuilt`, converted from the
// decompiled scripts of `original` written below the directory whose stored
// form is `prefix` (with its separator at the end): the code of every script,
// the labels and functions, and the engine directory, each rebuilt path being
// the prefix and the original path made relative as kvdump makes it. True
// when all are the same; otherwise false with the first difference.
bool SameScripts(const std::string& original, const std::string& rebuilt, const std::string& prefix,
                 std::string* difference);

// The whole round trip in memory: DecompileObject, the scripts written into
// an in-memory tree below /rebuilt, converted there, and SameScripts. When
// `refused` is given, it tells whether kvdump --source refused the object
// (then false is returned too).
bool SourceRoundTrip(const std::string& stored, std::string* difference, bool* refused = nullptr);

}  // namespace kv
