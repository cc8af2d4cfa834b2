#pragma once

namespace kv {

class KCSystem;

// Writes the script object: header (scripts, labels, functions, engine
// directory) and the compiled code of every script, scrambled. Writes nothing
// when an error was counted or no script was registered. Its internal
// errors are numbered steps of "GenScrObject", as the converter has always
// printed them.
bool WriteScriptObject(KCSystem& sys);

}  // namespace kv
