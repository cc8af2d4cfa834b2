// What the language server asks of the analysis of a game, in the terms of
// the converter: script paths in the program's form (CP932, the system's
// separator), lines and CP932 byte columns (SourcePosition), and CP932
// texts. Nothing here knows the protocol; the server converts at its edge.
//
// The server calls it from one thread. It tells the analysis what the
// editor holds (SetDocument, ClearDocument) and what changed on disk
// (FilesChanged), then calls Analyse; the queries answer from the state of
// the last Analyse. The server analyses before a query about a document
// whose text changed since; edits to other documents may wait.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "workspace/document_text.h"

namespace kv {

// A stretch of a script; `end` is the first byte after it.
struct SourceRange {
  SourcePosition start;
  SourcePosition end;
  bool operator==(const SourceRange&) const = default;
};

struct SourceLocation {
  std::string path;
  SourceRange range;
  bool operator==(const SourceLocation&) const = default;
};

// The server's tables of the protocol's numbers follow the order of this
// enum and of SymbolKind.
enum class Severity { kError, kWarning, kInformation, kHint };

// Another place that a diagnostic speaks of (the first definition of a name
// defined twice, the opening line of a block left open).
struct RelatedLocation {
  SourceLocation location;
  std::string message;
};

struct SourceDiagnostic {
  SourceRange range;
  Severity severity = Severity::kError;
  std::string code;     // the check's name, or "" where there is none
  std::string message;  // may hold several lines
  std::vector<RelatedLocation> related;
};

// Every diagnostic of one script.
struct FileDiagnostics {
  std::string path;
  std::vector<SourceDiagnostic> diagnostics;
  // Changes whenever the file's diagnostics change: a list whose version
  // has been published already is the list published then. 0: no version
  // is kept, compare the lists.
  uint64_t version = 0;
  // The text the ranges were worked out against, when the analysis holds
  // it: positions are mapped against it rather than a file read again.
  std::shared_ptr<const DocumentText> text = nullptr;
};

enum class SymbolKind { kCommand, kAlias, kLabel, kFunction, kVariable, kFile };

// A named thing of a script: a label or function for the symbol lists.
struct Symbol {
  std::string name;
  SymbolKind kind = SymbolKind::kLabel;
  std::string detail;
  SourceLocation location;  // the whole definition
  SourceRange name_range;   // its name, inside location.range
};

struct Hover {
  std::string markdown;
  std::optional<SourceRange> range;  // what the text is about
  // The same without the marks, for a client that shows plain text ("":
  // the markdown as it is).
  std::string plain;
};

struct CompletionItem {
  std::string label;
  SymbolKind kind = SymbolKind::kCommand;
  std::string detail;         // one line beside the label
  std::string documentation;  // Markdown
  std::string insert_text;    // "" inserts the label
};

struct Completion {
  std::vector<CompletionItem> items;
  // The text that a chosen item replaces (the word being typed); none: the
  // editor decides.
  std::optional<SourceRange> replace;
  // The list was cut: typing on asks again.
  bool incomplete = false;
};

struct TextEdit {
  SourceRange range;
  std::string new_text;
};

struct FileEdits {
  std::string path;
  std::vector<TextEdit> edits;
};

enum class FileChangeKind { kCreated, kChanged, kDeleted };

struct FileChange {
  std::string path;
  FileChangeKind kind = FileChangeKind::kChanged;
};

enum class SourceEncoding { kCp932, kUtf8 };

// What the editor said about the workspace when it started.
struct WorkspaceSettings {
  std::vector<std::string> folders;  // the workspace folders (or the root), in order
  SourceEncoding source_encoding = SourceEncoding::kCp932;  // of the files on disk
  // The game's folders as the editor's settings name them; none: the game is
  // found below the workspace folders (see FindGameDirectory).
  std::vector<std::string> game_roots = {};
  // The editor tells of changes to the game's files on disk (FilesChanged);
  // otherwise the analysis looks for them itself before each analysis.
  bool client_watches_files = false;
};

// The questions an analysis can answer; the server offers the editor only
// these.
struct AnalysisFeatures {
  bool diagnostics = false;
  bool definition = false;
  bool references = false;
  bool rename = false;
  bool hover = false;
  bool completion = false;
  bool document_symbols = false;
  bool workspace_symbols = false;
  std::vector<std::string> completion_triggers;  // characters that ask for completion
};

class Analysis {
 public:
  virtual ~Analysis() = default;

  virtual AnalysisFeatures Features() const = 0;
  // Called once, before anything else.
  virtual void Configure(const WorkspaceSettings& settings) = 0;

  // The editor holds `path` with this text, which replaces the file's.
  virtual void SetDocument(const std::string& path, std::shared_ptr<const DocumentText> text) = 0;
  // The editor closed `path`: the file on disk counts again.
  virtual void ClearDocument(const std::string& path) = 0;
  // Files that changed on disk, outside the editor.
  virtual void FilesChanged(const std::vector<FileChange>& changes) = 0;

  // Analyses the game as it stands and returns the diagnostics of every
  // file whose diagnostics changed since the last Analyse: its whole new
  // list, empty for a file that has none left. The first returns every file
  // that has any.
  virtual std::vector<FileDiagnostics> Analyse() = 0;
  // True when the analysis keeps the lists Analyse returned: then
  // DiagnosticsOf gives the list of a file again, and whoever publishes them
  // need keep no copy of their own.
  virtual bool KeepsDiagnostics() const { return false; }
  // The list of `path` as the last Analyse left it (empty when it has none).
  virtual FileDiagnostics DiagnosticsOf(const std::string& path) const {
    FileDiagnostics file;
    file.path = path;
    return file;
  }
  // The same one diagnostic at a time, each made for the visit alone: a
  // large game's list is never held whole.
  virtual void VisitDiagnostics(const std::string& path,
                                const std::function<void(const SourceDiagnostic&)>& visit) const {
    for (const SourceDiagnostic& diagnostic : DiagnosticsOf(path).diagnostics) visit(diagnostic);
  }
  // For an analysis that keeps its lists: Analyse returns from now on the
  // files whose lists changed without the lists themselves (`diagnostics`
  // empty), for whoever publishes them to visit as it sends them.
  virtual void ReturnNoLists() {}

  // Where the name at a place is defined.
  virtual std::vector<SourceLocation> Definition(const std::string& path,
                                                 SourcePosition position) = 0;
  // Where the name at a place is used (and defined, when asked).
  virtual std::vector<SourceLocation> References(const std::string& path, SourcePosition position,
                                                 bool include_definition) = 0;
  // The edits that rename the name at a place to `new_name` (CP932). False
  // with the reason (CP932) in *refusal when there is nothing to rename
  // there or the new name cannot stand.
  virtual bool Rename(const std::string& path, SourcePosition position, const std::string& new_name,
                      std::vector<FileEdits>* edits, std::string* refusal) = 0;
  virtual std::optional<Hover> HoverAt(const std::string& path, SourcePosition position) = 0;
  virtual Completion CompleteAt(const std::string& path, SourcePosition position) = 0;
  // The labels and functions of a script, in the order they stand.
  virtual std::vector<Symbol> DocumentSymbols(const std::string& path) = 0;
  // The labels and functions of the game whose names match `query` ("" for
  // all).
  virtual std::vector<Symbol> WorkspaceSymbols(const std::string& query) = 0;
  // The text of `path` that the last analysis read, for a file the editor
  // did not hold then: the places in its answers stand on it. Null when the
  // analysis keeps none.
  virtual std::shared_ptr<const DocumentText> AnalysedText(const std::string&) { return nullptr; }
  // The same as the file's bytes, when the analysis read it as CP932 (null
  // otherwise): places can be converted from these alone, without the
  // whole text converted (see PositionMap).
  virtual std::shared_ptr<const std::string> AnalysedCp932(const std::string&) { return nullptr; }
  // The size of such a file, when it is still as read (0 otherwise), and
  // its bytes handed to `take` a piece at a time, for a file too large to
  // be read whole: true once all of them are handed over and are those
  // read (false when the file has changed since, as AnalysedCp932's null).
  virtual uint64_t AnalysedCp932Size(const std::string&) { return 0; }
  virtual bool ReadAnalysedCp932(const std::string&, const std::function<void(std::string_view)>&) {
    return false;
  }
  // True when the last analysis read `path` from the disk: its places stand
  // on that text and on no other, even when the two above are null (the
  // file has changed since).
  virtual bool AnalysedFile(const std::string&) const { return false; }
  // True when a file the last analysis read has been found changed on disk
  // since: another analysis must run before its places can be shown.
  virtual bool NeedsAnalysis() const { return false; }
  // The game's route map as JSON (UTF-8; see --route-map), over the texts
  // the editor holds; "" when there is no game.
  virtual std::string RouteMapJson() { return ""; }
};

}  // namespace kv
