#include "test_support/recording_analysis.h"

namespace kv {

RecordingAnalysis::RecordingAnalysis() {
  features.diagnostics = features.definition = features.references = features.rename = true;
  features.hover = features.completion = features.document_symbols = true;
  features.workspace_symbols = true;
  features.completion_triggers = {" "};
}

void RecordingAnalysis::Record(const std::string& what, const std::string& path,
                               SourcePosition position, const std::string& extra) {
  queries.push_back(what + " " + path + " " + std::to_string(position.line) + ":" +
                    std::to_string(position.column) + (extra.empty() ? "" : " " + extra));
}

void RecordingAnalysis::FilesChanged(const std::vector<FileChange>& changes) {
  file_changes.insert(file_changes.end(), changes.begin(), changes.end());
}

std::vector<FileDiagnostics> RecordingAnalysis::Analyse() {
  ++analyses;
  return diagnostics;
}

std::vector<SourceLocation> RecordingAnalysis::Definition(const std::string& path,
                                                          SourcePosition position) {
  Record("Definition", path, position);
  return locations;
}

std::vector<SourceLocation> RecordingAnalysis::References(const std::string& path,
                                                          SourcePosition position,
                                                          bool include_definition) {
  Record("References", path, position, include_definition ? "with definition" : "");
  return locations;
}

bool RecordingAnalysis::Rename(const std::string& path, SourcePosition position,
                               const std::string& new_name, std::vector<FileEdits>* out,
                               std::string* reason) {
  Record("Rename", path, position, new_name);
  if (!refusal.empty()) {
    *reason = refusal;
    return false;
  }
  *out = edits;
  return true;
}

std::optional<Hover> RecordingAnalysis::HoverAt(const std::string& path, SourcePosition position) {
  Record("Hover", path, position);
  return hover;
}

Completion RecordingAnalysis::CompleteAt(const std::string& path, SourcePosition position) {
  Record("Complete", path, position);
  return completion;
}

std::vector<Symbol> RecordingAnalysis::DocumentSymbols(const std::string& path) {
  queries.push_back("DocumentSymbols " + path);
  return symbols;
}

std::vector<Symbol> RecordingAnalysis::WorkspaceSymbols(const std::string& query) {
  queries.push_back("WorkspaceSymbols " + query);
  return symbols;
}

}  // namespace kv
