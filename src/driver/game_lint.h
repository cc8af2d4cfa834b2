// The checks of a --check run that look at the whole game once every script
// has been read: a function_call or goto whose target no script defines, a
// label or function defined twice in a script, a label defined in two
// scripts, and a file name that names no file of the game.
//
// What they need is kept while each script is compiled in a check (the
// checks of the run's options on): KCSystem::results.NameUses, made from the
// compiler's index of each statement's names (language/name_index.h: function
// calls, gotos and second definitions, the first definition of each label in
// each script, the string parameters that name files and the variables, each
// at its place) and results.LabelDefinitions and FunctionDefinitions. A program
// that compiles the scripts one by one, such as a language server, gathers
// these of every script and calls LintGame once with them and the game's
// files; the converter calls it after script conversion, before the
// result line.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "context/kc_system.h"

namespace kv {

// The files of the game: every script and media file found (absolute paths,
// CP932, as the search found them), and the extension lists (without the
// dot) of scripts, images, sounds and movies; an empty list: that kind is
// not converted, and names of it are not checked.
struct GameFiles {
  std::vector<std::string_view> scripts;
  std::span<const std::string> images, sounds, movies;
  PerFileKind<std::span<const std::string>> extensions;
};

// The extension lists of `options`, as GameFiles holds them.
PerFileKind<std::span<const std::string>> ExtensionsOf(const RunOptions& options);

// Sorts the records of one script into source order (by line).
void SortNameUses(std::vector<NameUse>& records);

// Warns of each finding, in source order (script path, then line), with the
// check's name. `records` are the game's records in runs of one script each,
// each in source order and the runs in order of their scripts' paths.
// Checks that `checks` leaves out are not made.
void LintGame(Diagnostics& log, const CheckSet& checks,
              std::span<const NameUseRun> records,
              std::span<const DefinitionRecord> labels, std::span<const DefinitionRecord> functions,
              const GameFiles& files);

// The same over the run's results, whose records it then drops (and the
// variables declared, which the checks of each statement kept, before);
// without missing-file when the KCSystem registered no script (it has no
// files of the game to compare with).
void LintGame(KCSystem& sys);

}  // namespace kv
