// The language server's message reader and protocol over fuzzed input: the
// bytes an editor would send on standard input.
//
// Every message read gets what JSON-RPC promises it: a request exactly one
// reply with its id, a message that cannot be read (or is no request) one
// reply with a null id, a notification or a reply none. Everything the
// server sends is a well-formed message that frames and reads back as sent.
// Positions in the open document convert both ways and land on the same
// place again, whatever its text. The same input then goes to a server that
// analyses a small game with the converter (the analysis kvls runs), which
// keeps the same promises whatever the edits and the places asked about.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "server/framing.h"
#include "server/language_server.h"
#include "server/positions.h"
#include "test_support/byte_sources.h"
#include "test_support/memory_file_system.h"
#include "test_support/recording_analysis.h"
#include "workspace/game_analysis.h"

namespace {

using kv::Json;

[[noreturn]] void Fail(const std::string& what, const Json& message) {
  std::fprintf(stderr, "invariant broken: %s\n--- message ---\n%s\n", what.c_str(),
               kv::SerializeJson(message).c_str());
  std::abort();
}

// The reply a message must get: none, or one with `id`.
struct ExpectedReply {
  bool expected = false;
  Json id;
};

// JSON-RPC's rules, written from its text.
ExpectedReply ReplyFor(const kv::IncomingMessage& message) {
  ExpectedReply none, null_id{true, nullptr};
  if (message.kind == kv::IncomingMessage::Kind::kParseError) return null_id;
  const Json& json = message.value;
  if (!json.is_object()) return null_id;
  const bool valid_id = json.contains("id") && (json["id"].is_string() || json["id"].is_number());
  if (json.contains("method")) {
    if (!json.contains("id")) return none;  // a notification
    return valid_id ? ExpectedReply{true, json["id"]} : null_id;
  }
  if (json.contains("result") || json.contains("error")) return none;  // a reply
  return valid_id ? ExpectedReply{true, json["id"]} : null_id;
}

void CheckWellFormed(const Json& message) {
  if (!message.is_object() || message.value("jsonrpc", "") != "2.0")
    Fail("no JSON-RPC 2.0", message);
  if (message.contains("method")) {
    if (!message["method"].is_string()) Fail("method not a string", message);
    if (message.contains("id") && !message["id"].is_string() && !message["id"].is_number()) {
      Fail("request id", message);
    }
  } else {
    const Json& id = message.value("id", Json());
    if (!message.contains("id") || (!id.is_null() && !id.is_string() && !id.is_number())) {
      Fail("reply id", message);
    }
    if (message.contains("result") == message.contains("error")) Fail("result xor error", message);
    if (message.contains("error")) {
      const Json& error = message["error"];
      if (!error.is_object() || !error.contains("code") || !error["code"].is_number_integer() ||
          !error.contains("message") || !error["message"].is_string()) {
        Fail("error object", message);
      }
    }
  }
  // It frames and reads back as it is.
  kv::StringSource source(kv::FrameMessage(message));
  kv::MessageReader reader(source);
  kv::IncomingMessage back = reader.Next();
  if (back.kind != kv::IncomingMessage::Kind::kMessage || back.value != message) {
    Fail("does not read back", message);
  }
}

// Places of the scripts that the analysis double answers with: inside,
// at and far past the ends of lines and texts.
const kv::SourcePosition kPlaces[] = {{1, 1},      {1, 4}, {2, 3},   {3, 1000},
                                      {100000, 5}, {0, 0}, {-7, -7}, {INT32_MAX, INT32_MAX}};

void Answer(kv::RecordingAnalysis& analysis) {
  const char* paths[] = {"/game/main.txt", "/game/scenes/ch1.txt", "/game/missing.txt"};
  for (const char* path : paths) {
    kv::FileDiagnostics file{path, {}};
    for (size_t i = 0; i + 1 < std::size(kPlaces); i += 2) {
      const kv::SourceRange range{kPlaces[i], kPlaces[i + 1]};
      analysis.locations.push_back({path, range});
      kv::SourceDiagnostic diagnostic;
      diagnostic.range = range;
      diagnostic.message = "\x83\x89\x83\x78\x83\x8B\xFF";  // ラベル and a stray byte
      diagnostic.related = {{{paths[i % 3], range}, "\x81"}};
      file.diagnostics.push_back(diagnostic);
    }
    analysis.diagnostics.push_back(file);
    analysis.edits.push_back({path, {{{kPlaces[2], kPlaces[3]}, "\x8A\xBF"}}});
    analysis.symbols.push_back({"\x8A\xBF",
                                kv::SymbolKind::kLabel,
                                "",
                                {path, {kPlaces[0], kPlaces[3]}},
                                {kPlaces[4], kPlaces[5]}});
  }
  analysis.hover = kv::Hover{"**x**", kv::SourceRange{kPlaces[1], kPlaces[6]}, "x"};
  analysis.completion.items = {{"layer_show", kv::SymbolKind::kCommand, "2-6", "doc", ""}};
  analysis.completion.replace = kv::SourceRange{kPlaces[0], kPlaces[7]};
}

// Positions of the open document convert both ways onto the same places.
void CheckPositions(const std::shared_ptr<const kv::DocumentText>& document) {
  const kv::DocumentText& text = *document;
  const kv::LineIndex lines(text.utf8());
  for (kv::PositionEncoding encoding :
       {kv::PositionEncoding::kUtf16, kv::PositionEncoding::kUtf8}) {
    const kv::PositionMap map(document, encoding);
    for (kv::SourcePosition place : kPlaces) {
      const kv::LspPosition lsp = map.ToLsp(place);
      if (lines.Position(lines.Offset(lsp, encoding), encoding) != lsp) {
        Fail("a converted position is not where it points", Json(text.utf8()));
      }
      if (map.ToSource(lsp) != text.PositionAt(text.Cp932Offset(place))) {
        Fail("a position does not convert back", Json(text.utf8()));
      }
      const kv::LspPosition asked{place.line, place.column};
      if (map.ToLsp(map.ToSource(asked)) !=
          lines.Position(lines.Offset(asked, encoding), encoding)) {
        Fail("a position of the editor does not convert back", Json(text.utf8()));
      }
    }
  }
}

// Runs the input through a server over `analysis`; the positions of an open
// main.txt are checked when `check_positions`.
void Serve(kv::Analysis& analysis, kv::MemoryFileSystem& fs, const uint8_t* data, size_t size,
           bool check_positions) {
  kv::DocumentStore store(fs);
  std::vector<Json> sent;
  kv::LanguageServer server(analysis, store, kv::PathStyle::kPosix,
                            [&](const Json& message) { sent.push_back(message); });
  kv::StringSource source(std::string(reinterpret_cast<const char*>(data), size), 1 + size % 13);
  kv::MessageReader reader(source, 4096);
  for (;;) {
    const kv::IncomingMessage message = reader.Next();
    if (message.kind == kv::IncomingMessage::Kind::kEnd) break;
    sent.clear();
    server.Handle(message);
    if (server.analysis_pending()) server.AnalyseAndPublish();
    const ExpectedReply expected = ReplyFor(message);
    int replies = 0;
    for (const Json& out : sent) {
      CheckWellFormed(out);
      if (out.contains("method")) continue;
      ++replies;
      if (!expected.expected || out["id"] != expected.id) Fail("a reply nobody asked for", out);
    }
    if (server.exited()) {
      if (replies != 0) Fail("exit got a reply", message.value);
      break;
    }
    if (replies != (expected.expected ? 1 : 0)) Fail("not exactly one reply", message.value);
    if (!check_positions) continue;
    if (const kv::OpenDocument* open = store.Find("/game/main.txt")) CheckPositions(open->text);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kv::MemoryFileSystem fs;
  fs.AddFile("/game/scenes/ch1.txt", "goto \x8A\xBF;\r\n\x81\n");
  kv::RecordingAnalysis analysis;
  Answer(analysis);
  Serve(analysis, fs, data, size, true);

  fs.AddFile("/game/main.txt", "create_window;\nnew_command hop, goto;\nstart:\nhop \x8A\xBF;\n");
  fs.AddFile("/game/img/bg.png", "png");
  kv::GameAnalysis game(fs);
  Serve(game, fs, data, size, false);
  return 0;
}
