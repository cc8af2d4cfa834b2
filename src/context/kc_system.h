// KCSystem: the one conversion-wide context of a run. It holds the
// diagnostics and their counters, and three groups of state kept apart: the
// run's options, where the conversion stands (the current script and its
// object), and what the run has found and made (the registered scripts with
// their temporary objects, the media files, the definitions).
#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "context/code_arena.h"
#include "context/declared_names.h"
#include "context/definition_list.h"
#include "context/diagnostics.h"
#include "context/kc_file.h"
#include "context/lint_checks.h"
#include "context/name_uses.h"
#include "context/pell_file.h"
#include "context/source_text.h"

namespace kv {

class FileSystem;

// Progress line printed for each script and media file as it is converted.
inline constexpr std::string_view kMsgConverting = "%s をコンバート中...\n";

// Everything that a script's compile and checks read of the scripts compiled
// before it, besides its own text: the aliases made so far, the variables
// declared so far, the errors counted towards the error limit, whether
// main.txt has ended. The compile keeps this state here and nowhere else, so
// that the state where any script begins can be saved and restored whole.
struct CarriedState {
  std::map<int32_t, std::string> aliases;  // command id -> alias
  DeclaredVariableSet declaredVariables;
  int32_t errorsSinceLimit = 0;
  bool mainScriptEnded = false;
  bool operator==(const CarriedState&) const = default;
};

// The kinds of file a run sorts what it finds into, by their extensions.
enum class FileKind : uint8_t { kScript, kImage, kAudio, kMovie };
inline constexpr std::array<FileKind, 4> kFileKinds = {FileKind::kScript, FileKind::kImage,
                                                       FileKind::kAudio, FileKind::kMovie};

// One T for each kind of file, in the order of kFileKinds.
template <typename T>
struct PerFileKind {
  std::array<T, kFileKinds.size()> items;
  T& operator[](FileKind kind) { return items[static_cast<size_t>(kind)]; }
  const T& operator[](FileKind kind) const { return items[static_cast<size_t>(kind)]; }
  auto begin() const { return items.begin(); }
  auto end() const { return items.end(); }
};

// What the run was asked to do: settled by the options before anything is
// converted, read by every layer afterwards.
struct RunOptions {
  std::string scriptObjectName = "script.kvo";
  std::string imageObjectName = "image.kvo";
  std::string audioObjectName = "audio.kvo";
  std::string movieObjectName = "movie.kvo";
  std::string engineDirectory;
  // The top directory of the file search, made absolute (for messages).
  std::string searchDirectory;
  // Converts and reports as a build does, but writes no file.
  bool checkOnly = false;
  // A check that writes the game's route map to this file instead (empty:
  // none); its extension chooses the form.
  std::string routeMapPath;
  // Scripts are read as UTF-8 and converted to CP932 before they compile.
  bool sourceIsUtf8 = false;
  // The checks that warn of what compiles but is likely wrong: all but those
  // switched off in a check, none in a build.
  CheckSet checks;
  // Warnings make the run fail.
  bool warningsAreErrors = false;
  // The extensions that sort files into scripts, images, sounds and movies
  // (an emptied list: that kind is not converted).
  PerFileKind<std::vector<std::string>> extensions;
};

// Where the conversion stands: the script being compiled and its object.
struct ScriptState {
  uint32_t itemPosition = 0;
  SourceText* currentSource = nullptr;
  KCFile* currentObject = nullptr;
  bool converting = false;
  bool setupPhase = false;
  // NextScript resumes its scan of the registered scripts here.
  std::string nextScriptScan;
};

// What the run has found and made so far.
struct RunResults {
  std::map<std::string, std::unique_ptr<SourceText>> LoadedSources;
  // The storage of the one source text held at a time: a registered script
  // is checked when it is found and read again when it is converted, so the
  // texts of a large game are never all in memory together.
  std::string sourceText;
  // Storage (of a text, of code) grown past this by one large script goes
  // back when that script is done, instead of staying for the rest of the run.
  static constexpr size_t kLargeStorage = size_t{16} << 20;
  // The finished code of the scripts, and the storage that the script being
  // compiled writes its code into (the same for every script).
  CodeArena code;
  std::string codeStorage;
  std::vector<std::string> ImageFiles, AudioFiles, MovieFiles;
  DefinitionList LabelDefinitions, FunctionDefinitions;
  NameUseLog NameUses;
  // Absolute script path -> temporary object, in ascending byte order.
  std::map<std::string, std::unique_ptr<KCFile>> Objects;
  // This run's script object is in place (or, in a check, would be).
  bool scriptObjectWritten = false;
};

// One KCSystem is one run: a new run makes a new one, so no state passes
// from one run into the next.
class KCSystem {
 public:
  KCSystem(FileSystem& fs, MessageSink& sink, ConsoleEncoding encoding);
  ~KCSystem();
  KCSystem(const KCSystem&) = delete;
  KCSystem& operator=(const KCSystem&) = delete;

  // A definition of the current script, whose name stands at `offset` of
  // the script's contents.
  void AddLabel(const std::string& name, uint32_t offset) {
    RecordDefinition(name, offset, &results.LabelDefinitions);
  }
  void AddFunction(const std::string& name, uint32_t offset) {
    RecordDefinition(name, offset, &results.FunctionDefinitions);
  }
  void RecordDefinition(const std::string& name, uint32_t offset, DefinitionList* list);
  // What the last RecordDefinition found: whether the name was defined
  // before in the same script, and then (in a check) where. Command reading
  // clears it before each statement and makes the statement's records from it.
  struct DefinitionOutcome {
    bool recorded = false;
    bool second = false;
    int32_t firstLine = 0;
    int32_t firstColumn = 0;
  };
  DefinitionOutcome lastDefinition;
  void ClearDefinitions();

  // Moves the finished code of `object` into `results.code` (a check keeps
  // only its size), and the object's storage back to `results.codeStorage`
  // for the next script. Keeps the code in the object when there is no
  // memory for the move. The script is done: the index of its definitions'
  // names goes first.
  void KeepCode(KCFile& object);
  // In a check, which reads none of the code it compiles, gives back the
  // pages of the current object's code behind its position, a few MiB at a
  // time, so that a large script's code is never held whole: its size is
  // all a check keeps. Bytes patched behind the position afterwards (a jump
  // over a long block) land in pages given back as zeros. Called between
  // statements; a build keeps every byte.
  void DiscardCodeBehind();

  // Seed for the scrambling of the next object file written.
  uint32_t ScrambleSeed() const { return seedClock(); }

  // Before `log`, which counts errors into it.
  CarriedState carried;
  FileSystem& fs;
  Diagnostics log;
  std::function<uint32_t()> seedClock;

  RunOptions options;
  ScriptState script;
  RunResults results;

 private:
  // Per definition list, in a check: where each name of the current script
  // is defined (taken when it is defined: the text before the statement
  // being read is not kept), by its record's number from `first`. A script
  // is current once, and its definitions are recorded while it is, so only
  // the current script's names are indexed (in the lists) and placed here: a
  // large game's definitions are never indexed all at once.
  struct DefinitionPlaces {
    size_t first = 0;
    std::vector<std::pair<int32_t, int32_t>> at;
  };
  DefinitionPlaces label_places_, function_places_;
  // The names of the last script in definition_scripts_ are indexed (until
  // its code is kept: it is done then).
  bool definitions_indexed_ = false;
  void EndDefinitionIndex();
  // Paths of the scripts that have definitions, each once; the last one is
  // the indexed script.
  std::deque<std::string> definition_scripts_;
};

}  // namespace kv
