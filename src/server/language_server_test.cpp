#include "server/language_server.h"

#include <gtest/gtest.h>

#include "platform/version.h"
#include "test_support/memory_file_system.h"
#include "test_support/recording_analysis.h"

namespace kv {
namespace {

// A place a diagnostic speaks of, made field by field (a nested braced list
// of it trips a false uninitialised-use warning in optimised builds).
RelatedLocation Related(std::string path, SourceRange range, std::string message) {
  RelatedLocation related;
  related.location.path = std::move(path);
  related.location.range = range;
  related.message = std::move(message);
  return related;
}

// An analysis that answers nothing and offers no feature: what the protocol
// alone gives.
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
// What the server says around each analysis.
constexpr char kAnalysing[] =
    R"({"jsonrpc":"2.0","method":"kvscript/status","params":{"state":"analysing"}})"
    "\n";
constexpr char kReady[] =
    R"({"jsonrpc":"2.0","method":"kvscript/status","params":{"state":"ready"}})"
    "\n";

class LanguageServerTest : public ::testing::Test {
 protected:
  LanguageServerTest() {
    fs.AddFile("/game/scenes/ch1.txt", "goto \x8A\xBF;\n");  // goto 漢;
  }

  // Hands the server one message (a parse error when `text` is no JSON);
  // returns what it sent, one message a line.
  std::string Send(const std::string& text) {
    sent.clear();
    IncomingMessage message;
    message.kind = ParseJson(text, &message.value) ? IncomingMessage::Kind::kMessage
                                                   : IncomingMessage::Kind::kParseError;
    message.error = "message is not JSON";
    server.Handle(message);
    return sent;
  }

  std::string Initialize(const std::string& capabilities) {
    std::string reply = Send(
        R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{"rootUri":"file:///game","capabilities":)" +
        capabilities + "}}");
    Send(R"({"jsonrpc":"2.0","method":"initialized","params":{}})");
    return reply;
  }

  void Open(const std::string& uri, const std::string& text) {
    Send(R"({"jsonrpc":"2.0","method":"textDocument/didOpen","params":{"textDocument":{"uri":")" +
         uri + R"(","languageId":"kvscript","version":1,"text":")" + text + "\"}}}");
  }

  // A request at a position of the game's main.txt.
  std::string Ask(const std::string& method, int line, int character,
                  const std::string& more = "") {
    return Send(
        R"({"jsonrpc":"2.0","id":5,"method":")" + method +
        R"(","params":{"textDocument":{"uri":"file:///game/main.txt"},"position":{"line":)" +
        std::to_string(line) + R"(,"character":)" + std::to_string(character) + "}" + more + "}}");
  }

  MemoryFileSystem fs;
  RecordingAnalysis analysis;
  DocumentStore store{fs};
  std::string sent;
  LanguageServer server{analysis, store, PathStyle::kPosix,
                        [this](const Json& message) { sent += SerializeJson(message) + "\n"; }};
};

TEST_F(LanguageServerTest, LifecycleAndBadMessagesEachGetTheirAnswer) {
  EXPECT_EQ(
      R"({"error":{"code":-32002,"message":"the server is not initialized"},"id":1,"jsonrpc":"2.0"})"
      "\n",
      Send(R"({"jsonrpc":"2.0","id":1,"method":"textDocument/hover","params":{}})"));
  Open("file:///game/main.txt", "x");
  EXPECT_TRUE(analysis.documents.empty()) << "notifications before initialize are dropped";

  EXPECT_EQ(
      std::string(
          R"({"id":2,"jsonrpc":"2.0","result":{"capabilities":{"completionProvider":)"
          R"({"triggerCharacters":[" "]},"definitionProvider":true,)"
          R"("documentSymbolProvider":true,"hoverProvider":true,"positionEncoding":"utf-8",)"
          R"("referencesProvider":true,"renameProvider":true,"textDocumentSync":{"change":2,)"
          R"("openClose":true},"workspaceSymbolProvider":true},"serverInfo":{"name":"kvls",)"
          R"("version":")") +
          kVersion + "\"}}}\n",
      Send(R"({"jsonrpc":"2.0","id":2,"method":"initialize","params":{"capabilities":{"general":)"
           R"({"positionEncodings":["utf-16","utf-8"]}},"rootUri":"file:///ignored",)"
           R"("workspaceFolders":[{"uri":"file:///game","name":"g"},{"uri":"file:///b%20c"}],)"
           R"("initializationOptions":{"sourceEncoding":"utf-8"}}})"));
  EXPECT_EQ((std::vector<std::string>{"/game", "/b c"}), analysis.settings.folders);
  EXPECT_EQ(SourceEncoding::kUtf8, analysis.settings.source_encoding);

  const std::pair<const char*, const char*> exchanges[] = {
      {R"({"jsonrpc":"2.0","id":3,"method":"initialize","params":{}})",
       R"({"error":{"code":-32600,"message":"initialize came twice"},"id":3,"jsonrpc":"2.0"})"},
      {R"({"jsonrpc":"2.0","id":"a","method":"foo/bar"})",
       R"({"error":{"code":-32601,"message":"unknown method: foo/bar"},"id":"a","jsonrpc":"2.0"})"},
      {R"({"jsonrpc":"2.0","method":"foo/bar"})", ""},
      {R"({"jsonrpc":"2.0","method":"$/cancelRequest","params":{"id":3}})", ""},
      {R"({"jsonrpc":"2.0","id":4,"meth)",
       R"({"error":{"code":-32700,"message":"message is not JSON"},"id":null,"jsonrpc":"2.0"})"},
      {R"([{"jsonrpc":"2.0","id":5,"method":"shutdown"}])",
       R"({"error":{"code":-32600,"message":"a message must be a JSON object"},"id":null,"jsonrpc":"2.0"})"},
      {R"({"jsonrpc":"2.0","id":{"a":1},"method":"shutdown"})",
       R"({"error":{"code":-32600,"message":"an id must be a number or a string"},"id":null,"jsonrpc":"2.0"})"},
      {R"({"id":6,"method":"shutdown"})",
       R"({"error":{"code":-32600,"message":"not a JSON-RPC 2.0 request"},"id":6,"jsonrpc":"2.0"})"},
      {R"({"jsonrpc":"2.0","id":7,"method":"shutdown","params":3})",
       R"({"error":{"code":-32600,"message":"not a JSON-RPC 2.0 request"},"id":7,"jsonrpc":"2.0"})"},
      {R"({"jsonrpc":"2.0","id":8})",
       R"({"error":{"code":-32600,"message":"a message without a method"},"id":8,"jsonrpc":"2.0"})"},
      {R"({"jsonrpc":"2.0","id":"kvls-1","result":null})", ""},
      {R"({"jsonrpc":"2.0","id":9,"method":"textDocument/definition","params":{}})",
       R"({"error":{"code":-32602,"message":"no document position"},"id":9,"jsonrpc":"2.0"})"},
      {R"({"jsonrpc":"2.0","id":10,"method":"shutdown"})",
       R"({"id":10,"jsonrpc":"2.0","result":null})"},
      {R"({"jsonrpc":"2.0","id":11,"method":"textDocument/hover","params":{}})",
       R"({"error":{"code":-32600,"message":"the server is shut down"},"id":11,"jsonrpc":"2.0"})"},
      {R"({"jsonrpc":"2.0","method":"exit"})", ""},
      {R"({"jsonrpc":"2.0","id":12,"method":"shutdown"})", ""},
  };
  for (const auto& [message, reply] : exchanges) {
    EXPECT_EQ(*reply ? reply + std::string("\n") : "", Send(message)) << message;
  }
  EXPECT_TRUE(server.exited());
  EXPECT_EQ(0, server.exit_status());
}

TEST_F(LanguageServerTest, ExitWithoutShutdownFailsAndTheStubOffersNothing) {
  StubAnalysis stub;
  std::string out;
  LanguageServer bare(stub, store, PathStyle::kPosix,
                      [&](const Json& message) { out += SerializeJson(message); });
  IncomingMessage message;
  message.kind = IncomingMessage::Kind::kMessage;
  ASSERT_TRUE(
      ParseJson(R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{}})", &message.value));
  bare.Handle(message);
  EXPECT_NE(std::string::npos,
            out.find(R"("capabilities":{"positionEncoding":"utf-16","textDocumentSync":)"
                     R"({"change":2,"openClose":true}})"));
  ASSERT_TRUE(ParseJson(R"({"jsonrpc":"2.0","method":"exit"})", &message.value));
  bare.Handle(message);
  EXPECT_TRUE(bare.exited());
  EXPECT_EQ(1, bare.exit_status());
}

TEST_F(LanguageServerTest, DocumentsFollowTheEditorsEdits) {
  Initialize("{}");
  Open("file:///game/main.txt", "text \\\"あ\\\";\\n");
  EXPECT_EQ("text \"\x82\xA0\";\n", analysis.documents["/game/main.txt"]);
  EXPECT_TRUE(server.analysis_pending());

  // Each change applies to what the one before left; positions in UTF-16.
  auto change = [&](const std::string& changes) {
    Send(R"({"jsonrpc":"2.0","method":"textDocument/didChange","params":{"textDocument":)"
         R"({"uri":"file:///game/main.txt","version":2},"contentChanges":[)" +
         changes + "]}}");
    // The analysis is given the text when it next runs, once for all the
    // changes before it.
    server.AnalyseAndPublish();
    return analysis.documents["/game/main.txt"];
  };
  EXPECT_EQ("text \"?\x8A\xBFx\";\n",
            change(R"({"range":{"start":{"line":0,"character":6},"end":{"line":0,"character":7}},)"
                   R"("text":"😀漢"},)"
                   R"({"range":{"start":{"line":0,"character":9},"end":{"line":0,"character":9}},)"
                   R"("text":"x"})"));
  EXPECT_EQ("a\nb", change(R"({"text":"a\nb"})"));
  EXPECT_EQ(2, store.Find("/game/main.txt")->version);
  // A change that cannot be read is said, and the file on disk counts again.
  sent.clear();
  EXPECT_EQ("", change(R"({"text":"lost"},{"range":{}})"));
  EXPECT_EQ(
      std::string(
          R"({"jsonrpc":"2.0","method":"window/logMessage","params":{"message":"kvls: a change to )"
          R"(file:///game/main.txt could not be read; kvls reads the file on disk until the )"
          R"(document is opened again","type":1}})"
          "\n") +
          kAnalysing + kReady,
      sent);
  EXPECT_EQ(nullptr, store.Find("/game/main.txt"));
  Open("file:///game/main.txt", "x");

  Send(R"({"jsonrpc":"2.0","method":"textDocument/didClose","params":{"textDocument":)"
       R"({"uri":"file:///game/main.txt"}}})");
  EXPECT_TRUE(analysis.documents.empty());
  EXPECT_EQ(nullptr, store.Find("/game/main.txt"));
}

TEST_F(LanguageServerTest, WatchedFilesAreRegisteredAndPassedOn) {
  Initialize(R"({"workspace":{"didChangeWatchedFiles":{"dynamicRegistration":true}}})");
  EXPECT_EQ(
      R"({"id":"kvls-1","jsonrpc":"2.0","method":"client/registerCapability","params":)"
      R"({"registrations":[{"id":"kvls-watched-files","method":"workspace/didChangeWatchedFiles",)"
      R"("registerOptions":{"watchers":[{"globPattern":"**/*.txt"},)"
      R"({"globPattern":"**/*.{bmp,jpg,gif,png}"},{"globPattern":"**/*.{wav,mp3,wma,mid,mpa,ogg}"},)"
      R"({"globPattern":"**/*.{avi,mpg,mpeg,mpv,dat,mov,wmv}"}]}}]}})"
      "\n",
      sent);
  Send(R"({"jsonrpc":"2.0","method":"workspace/didChangeWatchedFiles","params":{"changes":[)"
       R"({"uri":"file:///game/a.txt","type":1},{"uri":"file:///game/img/b.png","type":3},)"
       R"({"uri":"file:///game/c.txt","type":7},{"uri":"http://x/d.txt","type":2}]}})");
  ASSERT_EQ(2u, analysis.file_changes.size());
  EXPECT_EQ("/game/a.txt", analysis.file_changes[0].path);
  EXPECT_EQ(FileChangeKind::kCreated, analysis.file_changes[0].kind);
  EXPECT_EQ("/game/img/b.png", analysis.file_changes[1].path);
  EXPECT_EQ(FileChangeKind::kDeleted, analysis.file_changes[1].kind);
  EXPECT_TRUE(server.analysis_pending());
}

TEST_F(LanguageServerTest, RouteMapAnswersWithTheAnalysisMapAndEachFilesUri) {
  Initialize("{}");
  auto ask = [&] { return Send(R"({"jsonrpc":"2.0","id":7,"method":"kvscript/routeMap","params":{}})"); };
  EXPECT_EQ(kAnalysing + std::string(kReady) + R"({"id":7,"jsonrpc":"2.0","result":null})" "\n",
            ask());
  analysis.route_map = R"({"nodes":[{"id":"n0","path":"/game/scenes/ch1.txt"},{"id":"n1"}],"edges":[]})";
  EXPECT_EQ(R"({"id":7,"jsonrpc":"2.0","result":{"edges":[],"nodes":[{"id":"n0","path":)"
            R"("/game/scenes/ch1.txt","uri":"file:///game/scenes/ch1.txt"},{"id":"n1"}]}})" "\n",
            ask());
}

TEST_F(LanguageServerTest, QueriesConvertPositionsBothWays) {
  Initialize(R"({"textDocument":{"hover":{"contentFormat":["markdown"]}}})");
  // The client's own spelling of the URI comes back to it.
  Open("file:///game/m%61in.txt", "goto 漢字;");
  // 字 is UTF-16 character 6 and CP932 column 8; in ch1.txt (on disk, not
  // open) 漢 spans CP932 columns 6 to 8.
  analysis.locations = {{"/game/scenes/ch1.txt", {{1, 6}, {1, 8}}},
                        {"/game/main.txt", {{1, 1}, {1, 5}}}};
  EXPECT_EQ(
      kAnalysing + std::string(kReady) +
      R"({"id":5,"jsonrpc":"2.0","result":[{"range":{"end":{"character":6,"line":0},"start":)"
      R"({"character":5,"line":0}},"uri":"file:///game/scenes/ch1.txt"},{"range":{"end":)"
      R"({"character":4,"line":0},"start":{"character":0,"line":0}},"uri":"file:///game/m%61in.txt"}]})"
      "\n",
      Ask("textDocument/definition", 0, 6));
  EXPECT_EQ(1, analysis.analyses) << "the changes are analysed before the query";
  Ask("textDocument/references", 0, 99, R"(,"context":{"includeDeclaration":true})");
  EXPECT_EQ((std::vector<std::string>{"Definition /game/main.txt 1:8",
                                      "References /game/main.txt 1:11 with definition"}),
            analysis.queries);

  analysis.edits = {{"/game/main.txt", {{{{1, 6}, {1, 8}}, "\x90\x56"}}}};  // 新
  EXPECT_EQ(
      R"({"id":5,"jsonrpc":"2.0","result":{"changes":{"file:///game/m%61in.txt":[{"newText":"新",)"
      R"("range":{"end":{"character":6,"line":0},"start":{"character":5,"line":0}}}]}}})"
      "\n",
      Ask("textDocument/rename", 0, 5, R"(,"newName":"新")"));
  EXPECT_EQ("Rename /game/main.txt 1:6 \x90\x56", analysis.queries.back());
  EXPECT_EQ(R"({"error":{"code":-32803,"message":"the new name has a character that CP932 lacks"},)"
            R"("id":5,"jsonrpc":"2.0"})"
            "\n",
            Ask("textDocument/rename", 0, 5, R"(,"newName":"é")"));
  analysis.refusal = "\x96\xBC";  // 名
  EXPECT_EQ(R"({"error":{"code":-32803,"message":"名"},"id":5,"jsonrpc":"2.0"})"
            "\n",
            Ask("textDocument/rename", 0, 5, R"(,"newName":"x")"));

  analysis.hover = Hover{"**\x8A\xBF**", SourceRange{{1, 6}, {1, 10}}, "\x8A\xBF"};
  EXPECT_EQ(R"({"id":5,"jsonrpc":"2.0","result":{"contents":{"kind":"markdown","value":"**漢**"},)"
            R"("range":{"end":{"character":7,"line":0},"start":{"character":5,"line":0}}}})"
            "\n",
            Ask("textDocument/hover", 0, 5));

  analysis.completion.items = {{"layer_show", SymbolKind::kCommand, "2-6", "", ""},
                               {"\x8A\xBF", SymbolKind::kLabel, "", "", ""}};
  analysis.completion.replace = SourceRange{{1, 1}, {1, 5}};
  EXPECT_EQ(
      R"({"id":5,"jsonrpc":"2.0","result":{"isIncomplete":false,"items":[{"detail":"2-6","kind":14,)"
      R"("label":"layer_show","textEdit":{"newText":"layer_show","range":{"end":{"character":4,)"
      R"("line":0},"start":{"character":0,"line":0}}}},{"kind":18,"label":"漢","textEdit":)"
      R"({"newText":"漢","range":{"end":{"character":4,"line":0},"start":{"character":0,"line":0}}}}]}})"
      "\n",
      Ask("textDocument/completion", 0, 2));

  analysis.symbols = {
      {"\x8A\xBF", SymbolKind::kLabel, "", {"/game/scenes/ch1.txt", {{1, 6}, {1, 9}}}, {}}};
  EXPECT_EQ(
      R"({"id":5,"jsonrpc":"2.0","result":[{"kind":20,"location":{"range":{"end":{"character":7,)"
      R"("line":0},"start":{"character":5,"line":0}},"uri":"file:///game/scenes/ch1.txt"},"name":"漢"}]})"
      "\n",
      Send(R"({"jsonrpc":"2.0","id":5,"method":"workspace/symbol","params":{"query":"漢"}})"));
  EXPECT_EQ("WorkspaceSymbols \x8A\xBF", analysis.queries.back());
  EXPECT_EQ(1, analysis.analyses);
}

TEST_F(LanguageServerTest, AQueryWaitsOnlyForEditsToItsOwnDocument) {
  Initialize("{}");
  Open("file:///game/main.txt", "goto x;");
  Open("file:///game/b.txt", "goto 漢字;");
  Ask("textDocument/hover", 0, 1);
  ASSERT_EQ(1, analysis.analyses);

  // b.txt changes: a query about main.txt is answered from the analysis at
  // hand, its places in b.txt mapped against the text that analysis read.
  Send(R"({"jsonrpc":"2.0","method":"textDocument/didChange","params":{"textDocument":)"
       R"({"uri":"file:///game/b.txt","version":2},"contentChanges":[{"text":"\n\nx"}]}})");
  analysis.locations = {{"/game/b.txt", {{1, 6}, {1, 8}}}};
  const std::string answer =
      R"({"id":5,"jsonrpc":"2.0","result":[{"range":{"end":{"character":6,"line":0},"start":)"
      R"({"character":5,"line":0}},"uri":"file:///game/b.txt"}]})"
      "\n";
  EXPECT_EQ(answer, Ask("textDocument/definition", 0, 1));
  EXPECT_EQ(answer, Ask("textDocument/references", 0, 1));
  EXPECT_EQ(1, analysis.analyses);
  EXPECT_TRUE(server.analysis_pending());
  // A rename stands on every text as it is now.
  Ask("textDocument/rename", 0, 5, R"(,"newName":"y")");
  EXPECT_EQ(2, analysis.analyses);

  // An edit to the queried document itself: the analysis runs first, and
  // b.txt's places stand on its new text.
  Send(R"({"jsonrpc":"2.0","method":"textDocument/didChange","params":{"textDocument":)"
       R"({"uri":"file:///game/main.txt","version":2},"contentChanges":[{"text":"goto y;"}]}})");
  EXPECT_EQ(kAnalysing + std::string(kReady) + answer.substr(0, answer.find("[{")) +
                R"([{"range":{"end":{"character":0,"line":0},"start":{"character":0,"line":0}},)"
                R"("uri":"file:///game/b.txt"}]})"
                "\n",
            Ask("textDocument/definition", 0, 1));
  EXPECT_EQ(3, analysis.analyses);
}

TEST_F(LanguageServerTest, AClientWithoutMarkdownGetsPlainHoversAndACutListSaysSo) {
  Initialize("{}");
  Open("file:///game/main.txt", "goto x;");
  analysis.hover = Hover{"**goto**  \n`x`", std::nullopt, "goto\nx"};
  EXPECT_EQ(kAnalysing + std::string(kReady) +
                R"({"id":5,"jsonrpc":"2.0","result":{"contents":{"kind":"plaintext","value":"goto\nx"}}})"
                "\n",
            Ask("textDocument/hover", 0, 1));
  analysis.completion.items = {{"a.png", SymbolKind::kFile, "", "", ""}};
  analysis.completion.incomplete = true;
  EXPECT_EQ(R"({"id":5,"jsonrpc":"2.0","result":{"isIncomplete":true,"items":[{"kind":17,"label":"a.png"}]}})"
            "\n",
            Ask("textDocument/completion", 0, 1));
}

TEST_F(LanguageServerTest, DiagnosticsArePublishedWhenTheyChange) {
  Initialize("{}");
  Open("file:///game/main.txt", "goto 漢字;");
  SourceDiagnostic diagnostic;
  diagnostic.range = {{1, 6}, {1, 10}};
  diagnostic.severity = Severity::kWarning;
  diagnostic.code = "undefined-label";
  diagnostic.message = "\x83\x89\x83\x78\x83\x8B";  // ラベル
  diagnostic.related.push_back(Related("/game/scenes/ch1.txt", {{1, 6}, {1, 8}}, "x"));
  analysis.diagnostics = {{"/game/main.txt", {diagnostic}}};
  server.AnalyseAndPublish();
  EXPECT_EQ(
      kAnalysing +
          std::string(
              R"({"jsonrpc":"2.0","method":"textDocument/publishDiagnostics","params":{"diagnostics":[)") +
          R"({"code":"undefined-label","message":"ラベル","range":{"end":{"character":7,"line":0},)"
          R"("start":{"character":5,"line":0}},"relatedInformation":[{"location":{"range":{"end":)"
          R"({"character":6,"line":0},"start":{"character":5,"line":0}},"uri":"file:///game/scenes/ch1.txt"},)"
          R"("message":"x"}],"severity":2,"source":"KVConverter"}],"uri":"file:///game/main.txt","version":1}})"
          "\n" +
          kReady,
      sent);
  EXPECT_FALSE(server.analysis_pending());
  sent.clear();
  server.AnalyseAndPublish();
  EXPECT_EQ(kAnalysing + std::string(kReady), sent) << "unchanged diagnostics are not sent again";
  analysis.diagnostics = {{"/game/main.txt", {}}};
  sent.clear();
  server.AnalyseAndPublish();
  EXPECT_EQ(
      kAnalysing +
          std::string(R"({"jsonrpc":"2.0","method":"textDocument/publishDiagnostics","params":)"
                      R"({"diagnostics":[],"uri":"file:///game/main.txt","version":1}})"
                      "\n") +
          kReady,
      sent);
}

TEST_F(LanguageServerTest, ALongListIsWrittenInPiecesAsItWouldBeSerialized) {
  std::vector<std::string> bodies;
  size_t pieces = 0, largest = 0;
  LanguageServer streaming{analysis, store, PathStyle::kPosix, [](const Json&) {},
                           [&](size_t bytes, const LanguageServer::Body& body) {
                             std::string text;
                             body([&](std::string_view piece) {
                               ++pieces;
                               largest = std::max(largest, piece.size());
                               text.append(piece);
                             });
                             EXPECT_EQ(bytes, text.size());
                             bodies.push_back(text);
                           }};
  auto handle = [&](const std::string& text) {
    IncomingMessage message;
    message.kind = IncomingMessage::Kind::kMessage;
    ASSERT_TRUE(ParseJson(text, &message.value));
    streaming.Handle(message);
  };
  handle(R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{"rootUri":"file:///game","capabilities":{}}})");
  handle(R"({"jsonrpc":"2.0","method":"initialized","params":{}})");
  // Past the length kept as text: written once for its digest, then again
  // as it is sent.
  SourceDiagnostic diagnostic;
  diagnostic.code = "undefined-label";
  diagnostic.message = "\x83\x89\x83\x78\x83\x8B \"quoted\\\" \t" + std::string(1000, 'x');
  diagnostic.related.push_back(Related("/game/scenes/ch1.txt", {{1, 1}, {1, 2}}, "y"));
  FileDiagnostics file{"/game/main.txt", {}};
  for (int i = 1; i <= 5000; ++i) {
    diagnostic.range = {{i, 1}, {i, 3}};
    file.diagnostics.push_back(diagnostic);
  }
  analysis.diagnostics = {file};
  bodies.clear();
  streaming.AnalyseAndPublish();
  ASSERT_EQ(1u, bodies.size());
  Json message;
  ASSERT_TRUE(ParseJson(bodies[0], &message));
  EXPECT_EQ(SerializeJson(message), bodies[0]);
  EXPECT_EQ(5000u, message["params"]["diagnostics"].size());
  EXPECT_EQ("ラベル \"quoted\\\" \t" + std::string(1000, 'x'),
            message["params"]["diagnostics"][4999]["message"]);
  EXPECT_LT(largest, size_t{80} << 10);
  EXPECT_GT(pieces, 50u);

  bodies.clear();
  streaming.AnalyseAndPublish();
  EXPECT_EQ(0u, bodies.size()) << "the same long list is not sent again";
  analysis.diagnostics[0].diagnostics.back().message = "z";
  bodies.clear();
  streaming.AnalyseAndPublish();
  EXPECT_EQ(1u, bodies.size()) << "one diagnostic changed";
}

TEST_F(LanguageServerTest, AnOpenDocumentKeepsItsAnalysisDiagnosticsBesideTheEditorsOwn) {
  Initialize("{}");
  Open("file:///game/main.txt", "goto ♥;");
  SourceDiagnostic diagnostic;
  diagnostic.range = {{1, 6}, {1, 7}};
  diagnostic.severity = Severity::kWarning;
  diagnostic.code = "undefined-label";
  diagnostic.message = "x";
  analysis.diagnostics = {{"/game/main.txt", {diagnostic}, 7}};
  server.AnalyseAndPublish();
  EXPECT_NE(std::string::npos, sent.find("undefined-label")) << sent;
  EXPECT_NE(std::string::npos, sent.find("♥")) << sent;
  // The same version again: nothing changed, so nothing is sent, and above
  // all not the editor's findings alone.
  sent.clear();
  server.AnalyseAndPublish();
  EXPECT_EQ(kAnalysing + std::string(kReady), sent);
}

TEST_F(LanguageServerTest, TheEditorsTextIsCheckedForWhatCp932CannotHold) {
  fs.AddFile("/game/u.txt", "text \"\xE3\x81\x82\";\n");  // saved as UTF-8
  fs.AddFile("/game/b.txt", "\xEF\xBB\xBFtext;\n");
  Initialize("{}");
  Open("file:///game/u.txt", "text \\\"あ♥\\\";");
  Open("file:///game/b.txt", "text;");
  EXPECT_EQ("text \"\x82\xA0?\";", analysis.documents["/game/u.txt"]);
  server.AnalyseAndPublish();
  EXPECT_EQ(
      kAnalysing +
          std::string(
              R"({"jsonrpc":"2.0","method":"textDocument/publishDiagnostics","params":{"diagnostics":[)") +
          R"({"message":"ファイルの先頭に UTF-8 の BOM があります。スクリプトは Shift_JIS (CP932) で保存するか、)"
          R"(--source-encoding=utf-8 を指定してください","range":{"end":{"character":0,"line":0},)"
          R"("start":{"character":0,"line":0}},"severity":2,"source":"KVConverter"}],)"
          R"("uri":"file:///game/b.txt","version":1}})"
          "\n"
          R"({"jsonrpc":"2.0","method":"textDocument/publishDiagnostics","params":{"diagnostics":[)"
          R"({"code":"utf8-script","message":"UTF-8 で保存されたスクリプトのようです (文字列は文字化けします)。)"
          R"(スクリプトは Shift_JIS (CP932) で保存するか、--source-encoding=utf-8 を指定してください",)"
          R"("range":{"end":{"character":7,"line":0},"start":{"character":6,"line":0}},"severity":2,)"
          R"("source":"KVConverter"},{"message":"文字 \"♥\" は Shift_JIS (CP932) で表せません",)"
          R"("range":{"end":{"character":8,"line":0},"start":{"character":7,"line":0}},"severity":1,)"
          R"("source":"KVConverter"}],"uri":"file:///game/u.txt","version":1}})"
          "\n" +
          kReady,
      sent);
}

TEST_F(LanguageServerTest, ARequestCancelledBeforeItIsReadIsAnsweredAsCancelled) {
  Initialize("{}");
  server.CancelPending(Json("h1"));
  EXPECT_EQ(
      R"({"error":{"code":-32800,"message":"the request was cancelled"},"id":"h1","jsonrpc":"2.0"})"
      "\n",
      Send(R"({"jsonrpc":"2.0","id":"h1","method":"workspace/symbol","params":{"query":""}})"));
  EXPECT_TRUE(analysis.queries.empty());
  // Its cancellation comes after it, and a later request of the same id is
  // answered.
  EXPECT_EQ("", Send(R"({"jsonrpc":"2.0","method":"$/cancelRequest","params":{"id":"h1"}})"));
  EXPECT_NE(std::string::npos,
            Send(R"({"jsonrpc":"2.0","id":"h1","method":"workspace/symbol","params":{"query":""}})")
                .find(R"("result":[])"));
}

}  // namespace
}  // namespace kv
