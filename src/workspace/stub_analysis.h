// A stand-in for the analysis that answers nothing and offers no feature:
// the server runs with it until the game's analysis is built, and the
// protocol's tests use it where they need no answers.
#pragma once

#include "workspace/analysis.h"

namespace kv {

class StubAnalysis : public Analysis {
 public:
  AnalysisFeatures Features() const override { return {}; }
  void Configure(const WorkspaceSettings&) override {}
  void SetDocument(const std::string&, std::shared_ptr<const DocumentText>) override {}
  void ClearDocument(const std::string&) override {}
  void FilesChanged(const std::vector<FileChange>&) override {}
  std::vector<FileDiagnostics> Analyse() override { return {}; }
  std::vector<SourceLocation> Definition(const std::string&, SourcePosition) override { return {}; }
  std::vector<SourceLocation> References(const std::string&, SourcePosition, bool) override {
    return {};
  }
  bool Rename(const std::string&, SourcePosition, const std::string&, std::vector<FileEdits>*,
              std::string* refusal) override {
    *refusal = "nothing to rename";
    return false;
  }
  std::optional<Hover> HoverAt(const std::string&, SourcePosition) override { return {}; }
  Completion CompleteAt(const std::string&, SourcePosition) override { return {}; }
  std::vector<Symbol> DocumentSymbols(const std::string&) override { return {}; }
  std::vector<Symbol> WorkspaceSymbols(const std::string&) override { return {}; }
};

}  // namespace kv
