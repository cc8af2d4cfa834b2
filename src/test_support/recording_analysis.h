// A test double of the analysis: it offers every feature, answers with what
// the test puts in its fields, and records what it is told and asked. The
// protocol's tests and the fuzz target drive the server with it.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "workspace/analysis.h"

namespace kv {

class RecordingAnalysis : public Analysis {
 public:
  RecordingAnalysis();

  // The answers.
  AnalysisFeatures features;
  std::vector<FileDiagnostics> diagnostics;
  std::vector<SourceLocation> locations;  // of Definition and References
  std::vector<FileEdits> edits;           // of Rename, unless `refusal` is set
  std::string refusal;
  std::optional<Hover> hover;
  Completion completion;
  std::vector<Symbol> symbols;  // of DocumentSymbols and WorkspaceSymbols
  std::string route_map;        // of RouteMapJson

  // What it was told and asked.
  WorkspaceSettings settings;
  std::map<std::string, std::string> documents;  // open path -> CP932 text
  std::vector<FileChange> file_changes;
  // One line per query: "Definition /game/main.txt 2:5", "Rename ... 2:5 NEWNAME".
  std::vector<std::string> queries;
  int analyses = 0;

  AnalysisFeatures Features() const override { return features; }
  void Configure(const WorkspaceSettings& workspace) override { settings = workspace; }
  void SetDocument(const std::string& path, std::shared_ptr<const DocumentText> text) override {
    documents[path] = text->cp932();
  }
  void ClearDocument(const std::string& path) override { documents.erase(path); }
  void FilesChanged(const std::vector<FileChange>& changes) override;
  std::vector<FileDiagnostics> Analyse() override;
  std::vector<SourceLocation> Definition(const std::string& path, SourcePosition position) override;
  std::vector<SourceLocation> References(const std::string& path, SourcePosition position,
                                         bool include_definition) override;
  bool Rename(const std::string& path, SourcePosition position, const std::string& new_name,
              std::vector<FileEdits>* edits, std::string* refusal) override;
  std::optional<Hover> HoverAt(const std::string& path, SourcePosition position) override;
  Completion CompleteAt(const std::string& path, SourcePosition position) override;
  std::vector<Symbol> DocumentSymbols(const std::string& path) override;
  std::vector<Symbol> WorkspaceSymbols(const std::string& query) override;
  std::string RouteMapJson() override { return route_map; }

 private:
  void Record(const std::string& what, const std::string& path, SourcePosition position,
              const std::string& extra = "");
};

}  // namespace kv
