#pragma once

namespace kv {

class KCSystem;

// Writes the script object: header (scripts, labels, functions, engine
// directory) and the compiled code of every script, scrambled. Writes nothing
// when an error was counted or no script was registered.
bool GenScrObject(KCSystem& sys);

}  // namespace kv
