#include "server/language_server.h"

#include <algorithm>
#include <set>
#include <utility>

#include "platform/text.h"
#include "platform/version.h"
#include "source/source_loader.h"

namespace kv {
namespace {

// The protocol's numbers for the analysis' kinds, in the order of
// SymbolKind: command, alias, label, function, variable, file. No symbol
// kind stands for a label; Key reads as a name to go to.
// Symbols: Function, Function, Key, Function, Variable, File.
constexpr int kLspSymbolKinds[] = {12, 12, 20, 12, 13, 1};
// Completions: Keyword, Keyword, Reference, Function, Variable, File.
constexpr int kLspCompletionKinds[] = {14, 14, 18, 3, 6, 17};
int LspSymbolKind(SymbolKind kind) { return kLspSymbolKinds[static_cast<int>(kind)]; }
int LspCompletionKind(SymbolKind kind) { return kLspCompletionKinds[static_cast<int>(kind)]; }
// Error 1, Warning 2, Information 3, Hint 4, as Severity orders them.
int LspSeverity(Severity severity) { return static_cast<int>(severity) + 1; }

bool ContainsString(const Json* array, std::string_view value) {
  if (array == nullptr || !array->is_array()) return false;
  return std::any_of(array->begin(), array->end(), [&](const Json& item) {
    return item.is_string() && item.get_ref<const std::string&>() == value;
  });
}

// The member at a path of keys, or null.
const Json* Find(const Json& value, std::initializer_list<std::string_view> keys) {
  const Json* here = &value;
  for (std::string_view key : keys) {
    here = Member(*here, key);
    if (here == nullptr) return nullptr;
  }
  return here;
}

// A boolean member of a capability object, false when it is missing.
bool Flag(const Json* object, std::string_view key) {
  bool value = false;
  return object != nullptr && BoolMember(*object, key, &value) && value;
}

bool ReadPosition(const Json* value, LspPosition* position) {
  return value != nullptr && IntegerMember(*value, "line", &position->line) &&
         IntegerMember(*value, "character", &position->character) && position->line >= 0 &&
         position->character >= 0;
}

Json LspPositionJson(LspPosition position) {
  Json json = Json::object();
  json["line"] = position.line;
  json["character"] = position.character;
  return json;
}

}  // namespace

bool IsExitNotification(const IncomingMessage& message) {
  const Json& json = message.value;
  std::string version, method;
  const Json* params = Member(json, "params");
  return message.kind == IncomingMessage::Kind::kMessage && Member(json, "id") == nullptr &&
         StringMember(json, "jsonrpc", &version) && version == "2.0" &&
         StringMember(json, "method", &method) && method == "exit" &&
         (params == nullptr || params->is_null() || params->is_object() || params->is_array());
}

// Position maps of the files one answer speaks of, each made once.
class LanguageServer::Positions {
 public:
  explicit Positions(const LanguageServer& server)
      : analysis_(server.analysis_),
        store_(server.store_),
        analysed_(server.analysed_texts_),
        encoding_(server.encoding_) {}

  // Against the text the last analysis read (the editor's, or the file's as
  // the analysis read it): an answer from an analysis that later edits have
  // overtaken stands on it, and no file is read again.
  const PositionMap& Of(const std::string& path) {
    auto it = maps_.find(path);
    if (it == maps_.end()) {
      std::shared_ptr<const DocumentText> text;
      if (auto analysed = analysed_.find(path); analysed != analysed_.end()) {
        text = analysed->second;
      } else if (std::shared_ptr<const std::string> bytes = analysis_.AnalysedCp932(path)) {
        // A file's bytes as read: a large script's text is not converted
        // whole to place its diagnostics.
        return maps_.emplace(path, PositionMap(std::move(bytes), encoding_)).first->second;
      } else if (!(text = analysis_.AnalysedText(path)) && !analysis_.AnalysedFile(path)) {
        // Not a file the analysis read (nor one of its places). One it read
        // that has changed since is mapped against no text: its places
        // stand on the bytes that were compiled, and on no others.
        std::string err;
        text = store_.Text(path, &err);
      }
      it = maps_.emplace(path, PositionMap(std::move(text), encoding_)).first;
    }
    return it->second;
  }
  // Maps the positions of `path` against `text`, which the analysis read.
  void Use(const std::string& path, std::shared_ptr<const DocumentText> text) {
    maps_.try_emplace(path, PositionMap(std::move(text), encoding_));
  }
  // Works out the positions of a list's places on each file the analysis
  // read as CP932 that is too large to be read whole for them (a script of
  // hundreds of megabytes), from a read of it a piece at a time.
  void Prepare(const std::string& path, const DiagnosticList& list) {
    if (!list) return;
    std::map<std::string, std::vector<PositionMap::Placed>> places;
    std::set<std::string> whole;  // mapped as any other file
    auto note = [&](const std::string& path, SourcePosition position) {
      auto it = places.find(path);
      if (it == places.end()) {
        if (maps_.count(path) != 0 || whole.count(path) != 0) return;
        if (analysed_.count(path) != 0 ||
            analysis_.AnalysedCp932Size(path) <= kLargestReadWhole) {
          whole.insert(path);
          return;
        }
        it = places.emplace(path, std::vector<PositionMap::Placed>()).first;
      }
      it->second.push_back({PositionMap::KeyOf(position), 0, 0});
    };
    list([&](const SourceDiagnostic& diagnostic) {
      note(path, diagnostic.range.start);
      note(path, diagnostic.range.end);
      for (const RelatedLocation& place : diagnostic.related) {
        note(place.location.path, place.location.range.start);
        note(place.location.path, place.location.range.end);
      }
    });
    for (auto& [at, list] : places) {
      auto by_key = [](const auto& a, const auto& b) { return a.key < b.key; };
      std::sort(list.begin(), list.end(), by_key);
      list.erase(std::unique(list.begin(), list.end(),
                             [](const auto& a, const auto& b) { return a.key == b.key; }),
                 list.end());
      list.shrink_to_fit();
      Cp932Placer placer(std::move(list), encoding_);
      if (analysis_.ReadAnalysedCp932(at, [&](std::string_view piece) { placer.Take(piece); })) {
        Analysis& analysis = analysis_;
        maps_.emplace(at, PositionMap(placer.Finish(), [&analysis, at = at] {
                        return analysis.AnalysedCp932(at);
                      }, encoding_));
      } else {
        // Changed since the analysis read it: its places stand on no text.
        maps_.emplace(at, PositionMap(std::shared_ptr<const DocumentText>(), encoding_));
      }
    }
  }

 private:
  // A file up to this size is read whole to map its places, and may stay at
  // hand for the next answer.
  static constexpr uint64_t kLargestReadWhole = uint64_t{4} << 20;
  Analysis& analysis_;
  const DocumentStore& store_;
  const std::map<std::string, std::shared_ptr<const DocumentText>>& analysed_;
  PositionEncoding encoding_;
  std::map<std::string, PositionMap> maps_;
};

const LanguageServer::Method LanguageServer::kMethods[] = {
    // A rename's edits must stand on the texts as they are now; the other
    // queries about a document may answer from an analysis that other
    // documents' edits have overtaken.
    {"initialize", &LanguageServer::Initialize, nullptr, Needs::kNothing},
    {"shutdown", &LanguageServer::Shutdown, nullptr, Needs::kNothing},
    {"textDocument/definition", &LanguageServer::Definition, nullptr, Needs::kDocument},
    {"textDocument/references", &LanguageServer::References, nullptr, Needs::kDocument},
    {"textDocument/rename", &LanguageServer::Rename, nullptr, Needs::kEverything},
    {"textDocument/hover", &LanguageServer::HoverRequest, nullptr, Needs::kDocument},
    {"textDocument/completion", &LanguageServer::Completion, nullptr, Needs::kDocument},
    {"textDocument/documentSymbol", &LanguageServer::DocumentSymbols, nullptr, Needs::kDocument},
    {"workspace/symbol", &LanguageServer::WorkspaceSymbols, nullptr, Needs::kEverything},
    {"kvscript/routeMap", &LanguageServer::RouteMap, nullptr, Needs::kEverything},
    {"initialized", nullptr, &LanguageServer::Initialized, Needs::kNothing},
    {"textDocument/didOpen", nullptr, &LanguageServer::DidOpen, Needs::kNothing},
    {"textDocument/didChange", nullptr, &LanguageServer::DidChange, Needs::kNothing},
    {"textDocument/didClose", nullptr, &LanguageServer::DidClose, Needs::kNothing},
    {"workspace/didChangeWatchedFiles", nullptr, &LanguageServer::DidChangeWatchedFiles,
     Needs::kNothing},
    {"$/cancelRequest", nullptr, &LanguageServer::CancelRequest, Needs::kNothing},
};

LanguageServer::LanguageServer(Analysis& analysis, DocumentStore& store, PathStyle path_style,
                               Send send, SendText send_text)
    : analysis_(analysis),
      store_(store),
      path_style_(path_style),
      send_(std::move(send)),
      send_text_(std::move(send_text)),
      features_(analysis.Features()) {
  // An analysis that keeps its lists gives them as they are sent.
  if (analysis_.KeepsDiagnostics()) analysis_.ReturnNoLists();
}

LanguageServer::Reply LanguageServer::Error(int code, std::string message) {
  Reply reply;
  reply.code = code;
  reply.message = std::move(message);
  return reply;
}

void LanguageServer::Handle(const IncomingMessage& message) {
  if (state_ == State::kExited) return;
  if (IsExitNotification(message)) {
    InputEnded();  // an exit ends the server as the end of its input does
    return;
  }
  if (message.kind == IncomingMessage::Kind::kParseError) {
    SendReply(nullptr, Error(kParseError, message.error));
    return;
  }
  if (message.kind != IncomingMessage::Kind::kMessage) return;
  const Json& json = message.value;
  if (!json.is_object()) {
    SendReply(nullptr, Error(kInvalidRequest, "a message must be a JSON object"));
    return;
  }
  const Json* id = Member(json, "id");
  const bool valid_id = id != nullptr && (id->is_string() || id->is_number());
  const Json reply_id = valid_id ? *id : Json(nullptr);
  const Json* method = Member(json, "method");
  if (method == nullptr) {
    // A reply (to a request of the server's, or the client's report of one
    // it could not read): nothing waits for it, and a reply is never
    // answered.
    if (Member(json, "result") || Member(json, "error")) return;
    SendReply(reply_id, Error(kInvalidRequest, "a message without a method"));
    return;
  }
  if (id != nullptr && !valid_id) {
    SendReply(nullptr, Error(kInvalidRequest, "an id must be a number or a string"));
    return;
  }
  std::string version;
  // Some clients send null where a method takes no parameters.
  const Json* params = Member(json, "params");
  if (params != nullptr && params->is_null()) params = nullptr;
  if (!method->is_string() || !StringMember(json, "jsonrpc", &version) || version != "2.0" ||
      (params != nullptr && !params->is_object() && !params->is_array())) {
    if (id != nullptr) SendReply(reply_id, Error(kInvalidRequest, "not a JSON-RPC 2.0 request"));
    return;
  }
  static const Json kNoParams = Json::object();
  const std::string& name = method->get_ref<const std::string&>();
  if (id != nullptr) {
    HandleRequest(*id, name, params ? *params : kNoParams);
  } else {
    HandleNotification(name, params ? *params : kNoParams);
  }
}

void LanguageServer::HandleRequest(const Json& id, const std::string& name, const Json& params) {
  if (state_ == State::kStarting && name != "initialize") {
    SendReply(id, Error(kServerNotInitialized, "the server is not initialized"));
    return;
  }
  if (state_ == State::kShutDown) {
    SendReply(id, Error(kInvalidRequest, "the server is shut down"));
    return;
  }
  if (!cancelled_.empty() && cancelled_.erase(SerializeJson(id)) != 0) {
    SendReply(id, Error(kRequestCancelled, "the request was cancelled"));
    return;
  }
  for (const Method& method : kMethods) {
    if (method.request == nullptr || name != method.name) continue;
    if (analysis_pending_ && method.needs != Needs::kNothing) {
      std::string path;
      if (method.needs == Needs::kEverything || !analysed_ || !DocumentPath(params, &path) ||
          changed_since_analysis_.count(path) != 0) {
        AnalyseAndPublish();
      }
    }
    SendReply(id, (this->*method.request)(params));
    AnalyseAgainIfNeeded();
    return;
  }
  SendReply(id, Error(kMethodNotFound, "unknown method: " + name));
}

void LanguageServer::InputEnded() {
  if (state_ == State::kExited) return;
  exit_status_ = state_ == State::kShutDown ? 0 : 1;
  state_ = State::kExited;
}

void LanguageServer::HandleNotification(const std::string& name, const Json& params) {
  if (state_ != State::kRunning) return;
  for (const Method& method : kMethods) {
    if (method.notification != nullptr && name == method.name) {
      (this->*method.notification)(params);
      return;
    }
  }
}

void LanguageServer::SendReply(const Json& id, const Reply& reply) {
  Json message = Json::object();
  message["jsonrpc"] = "2.0";
  message["id"] = id;
  if (reply.code == 0) {
    message["result"] = reply.result;
  } else {
    Json error = Json::object();
    error["code"] = reply.code;
    error["message"] = reply.message;
    message["error"] = std::move(error);
  }
  send_(message);
}

void LanguageServer::Notify(const char* method, Json params) {
  Json message = Json::object();
  message["jsonrpc"] = "2.0";
  message["method"] = method;
  message["params"] = std::move(params);
  send_(message);
}

// Lifecycle.

LanguageServer::Reply LanguageServer::Initialize(const Json& params) {
  if (state_ != State::kStarting) return Error(kInvalidRequest, "initialize came twice");
  encoding_ =
      ContainsString(Find(params, {"capabilities", "general", "positionEncodings"}), "utf-8")
          ? PositionEncoding::kUtf8
          : PositionEncoding::kUtf16;
  watch_registration_ = Flag(Find(params, {"capabilities", "workspace", "didChangeWatchedFiles"}),
                             "dynamicRegistration");
  markdown_ = ContainsString(
      Find(params, {"capabilities", "textDocument", "hover", "contentFormat"}), "markdown");
  hierarchical_symbols_ = Flag(Find(params, {"capabilities", "textDocument", "documentSymbol"}),
                               "hierarchicalDocumentSymbolSupport");
  if (int64_t process_id = 0; IntegerMember(params, "processId", &process_id) && process_id > 0)
    client_process_id_ = process_id;

  WorkspaceSettings settings;
  std::string path, text;
  if (const Json* folders = Member(params, "workspaceFolders"); folders && folders->is_array()) {
    for (const Json& folder : *folders) {
      if (StringMember(folder, "uri", &text) && PathOf(text, &path))
        settings.folders.push_back(path);
    }
  } else if (StringMember(params, "rootUri", &text) && PathOf(text, &path)) {
    settings.folders.push_back(path);
  } else if (StringMember(params, "rootPath", &text) && text.find('\0') == std::string::npos &&
             Utf8ToCp932Exact(text, &path)) {
    settings.folders.push_back(path);
  }
  const Json* options = Member(params, "initializationOptions");
  if (const Json* roots = options ? Member(*options, "gameRoots") : nullptr;
      roots && roots->is_array()) {
    for (const Json& root : *roots) {
      if (root.is_string() && root.get_ref<const std::string&>().find('\0') == std::string::npos &&
          Utf8ToCp932Exact(root.get_ref<const std::string&>(), &path)) {
        settings.game_roots.push_back(path);
      }
    }
  }
  if (options && StringMember(*options, "sourceEncoding", &text)) {
    if (text == "utf-8") {
      settings.source_encoding = SourceEncoding::kUtf8;
    } else if (text != "cp932") {
      Json message = Json::object();
      message["type"] = 2;  // Warning
      message["message"] = "kvls: sourceEncoding \"" + text +
                           "\" is neither \"cp932\" nor \"utf-8\"; the files are read as CP932";
      Notify("window/logMessage", std::move(message));
    }
  }
  settings.client_watches_files = watch_registration_;
  store_.set_source_encoding(settings.source_encoding);
  analysis_.Configure(settings);
  state_ = State::kRunning;

  Json capabilities = Json::object();
  capabilities["positionEncoding"] = encoding_ == PositionEncoding::kUtf8 ? "utf-8" : "utf-16";
  Json sync = Json::object();
  sync["openClose"] = true;
  sync["change"] = 2;  // Incremental
  capabilities["textDocumentSync"] = std::move(sync);
  if (features_.definition) capabilities["definitionProvider"] = true;
  if (features_.references) capabilities["referencesProvider"] = true;
  if (features_.rename) capabilities["renameProvider"] = true;
  if (features_.hover) capabilities["hoverProvider"] = true;
  if (features_.completion) {
    Json completion = Json::object();
    completion["triggerCharacters"] = features_.completion_triggers;
    capabilities["completionProvider"] = std::move(completion);
  }
  if (features_.document_symbols) capabilities["documentSymbolProvider"] = true;
  if (features_.workspace_symbols) capabilities["workspaceSymbolProvider"] = true;
  Reply reply;
  reply.result = Json::object();
  reply.result["capabilities"] = std::move(capabilities);
  Json info = Json::object();
  info["name"] = "kvls";
  info["version"] = kVersion;
  reply.result["serverInfo"] = std::move(info);
  return reply;
}

void LanguageServer::Initialized(const Json&) {
  // The game's diagnostics are published once at the start, before any
  // document is opened.
  analysis_pending_ = true;
  if (!watch_registration_) return;
  Json watchers = Json::array();
  for (const std::string& pattern : GameFilePatterns()) {
    Json watcher = Json::object();
    watcher["globPattern"] = pattern;
    watchers.push_back(std::move(watcher));
  }
  Json registration = Json::object();
  registration["id"] = "kvls-watched-files";
  registration["method"] = "workspace/didChangeWatchedFiles";
  registration["registerOptions"] = Json::object();
  registration["registerOptions"]["watchers"] = std::move(watchers);
  Json message = Json::object();
  message["jsonrpc"] = "2.0";
  message["id"] = "kvls-" + std::to_string(next_request_id_++);
  message["method"] = "client/registerCapability";
  message["params"] = Json::object();
  message["params"]["registrations"] = Json::array({std::move(registration)});
  send_(message);
}

LanguageServer::Reply LanguageServer::Shutdown(const Json&) {
  state_ = State::kShutDown;
  return Reply{};
}

// The message loop tells the server of a cancellation before it hands over
// the request (CancelPending); by the time the notification itself comes,
// the request has been answered.
void LanguageServer::CancelRequest(const Json& params) {
  if (const Json* id = Member(params, "id")) cancelled_.erase(SerializeJson(*id));
}

void LanguageServer::CancelPending(const Json& id) {
  if (id.is_string() || id.is_number()) cancelled_.insert(SerializeJson(id));
}

// Documents.

bool LanguageServer::PathOf(const std::string& uri, std::string* path) {
  if (!UriToPath(uri, path_style_, path)) return false;
  client_uris_.emplace(*path, uri);
  return true;
}

bool LanguageServer::DocumentPath(const Json& params, std::string* path) {
  std::string uri;
  const Json* document = Member(params, "textDocument");
  return document != nullptr && StringMember(*document, "uri", &uri) && PathOf(uri, path);
}

std::string LanguageServer::UriOf(const std::string& path) const {
  auto it = client_uris_.find(path);
  return it != client_uris_.end() ? it->second : PathToUri(path, path_style_);
}

void LanguageServer::DidOpen(const Json& params) {
  std::string path, text;
  int64_t version = 0;
  const Json* document = Member(params, "textDocument");
  if (!DocumentPath(params, &path) || !StringMember(*document, "text", &text)) return;
  IntegerMember(*document, "version", &version);
  // The URI the editor opened the document with names it from now on.
  StringMember(*document, "uri", &client_uris_[path]);
  analysis_.SetDocument(path, store_.Set(path, version, text).text);
  editor_changed_.insert(path);
  changed_since_analysis_.insert(path);
  analysis_pending_ = true;
}

void LanguageServer::DidChange(const Json& params) {
  std::string path;
  if (!DocumentPath(params, &path)) return;
  int64_t version = 0;
  const bool versioned = IntegerMember(*Member(params, "textDocument"), "version", &version);
  // Each change costs in proportion to its size: the text is converted, and
  // handed to the analysis, once, when the analysis next runs.
  DocumentDraft* draft = store_.Edit(path, versioned ? &version : nullptr);
  if (draft == nullptr) return;
  // The changes apply one after the other, each to the text the one before
  // left. A change that cannot be read leaves the server without the
  // editor's text: the document is set aside, so that the file on disk
  // counts, until the editor opens it again.
  const Json* changes = Member(params, "contentChanges");
  DocumentDraft& text = *draft;
  bool readable = changes != nullptr && changes->is_array();
  for (size_t i = 0; readable && i < changes->size(); ++i) {
    const Json& change = (*changes)[i];
    std::string replacement;
    const Json* range = Member(change, "range");
    LspPosition start, end;
    readable = StringMember(change, "text", &replacement) &&
               (range == nullptr || (ReadPosition(Member(*range, "start"), &start) &&
                                     ReadPosition(Member(*range, "end"), &end)));
    if (!readable) break;
    if (range == nullptr) {
      text = DocumentDraft(replacement);
      continue;
    }
    size_t from = DraftOffset(text, start, encoding_);
    size_t to = DraftOffset(text, end, encoding_);
    if (to < from) std::swap(from, to);
    text.Replace(from, to, replacement);
  }
  editor_changed_.insert(path);
  changed_since_analysis_.insert(path);
  if (!readable) {
    store_.Close(path);
    analysis_.ClearDocument(path);
    analysis_pending_ = true;
    Json message = Json::object();
    message["type"] = 1;  // Error
    message["message"] = "kvls: a change to " + UriOf(path) +
                         " could not be read; kvls reads the file on disk until the document is "
                         "opened again";
    Notify("window/logMessage", std::move(message));
    return;
  }
  edited_.insert(path);
  analysis_pending_ = true;
}

void LanguageServer::DidClose(const Json& params) {
  std::string path;
  if (!DocumentPath(params, &path) || store_.Find(path) == nullptr) return;
  editor_changed_.insert(path);
  changed_since_analysis_.insert(path);
  store_.Close(path);
  analysis_.ClearDocument(path);
  analysis_pending_ = true;
}

void LanguageServer::DidChangeWatchedFiles(const Json& params) {
  const Json* changes = Member(params, "changes");
  if (changes == nullptr || !changes->is_array()) return;
  std::vector<FileChange> files;
  for (const Json& change : *changes) {
    std::string uri, path;
    int64_t type = 0;
    if (!StringMember(change, "uri", &uri) || !IntegerMember(change, "type", &type) || type < 1 ||
        type > 3 || !PathOf(uri, &path)) {
      continue;
    }
    files.push_back(FileChange{path, type == 1   ? FileChangeKind::kCreated
                                     : type == 2 ? FileChangeKind::kChanged
                                                 : FileChangeKind::kDeleted});
  }
  if (files.empty()) return;
  for (const FileChange& file : files) {
    changed_since_analysis_.insert(file.path);
    store_.FileChanged(file.path);
    if (store_.Find(file.path) != nullptr) editor_changed_.insert(file.path);
  }
  analysis_.FilesChanged(files);
  analysis_pending_ = true;
}

// Diagnostics.

Json LanguageServer::RangeJson(Positions& positions, const std::string& path,
                               const SourceRange& range) {
  const PositionMap& map = positions.Of(path);
  Json json = Json::object();
  json["start"] = LspPositionJson(map.ToLsp(range.start));
  json["end"] = LspPositionJson(map.ToLsp(range.end));
  return json;
}

Json LanguageServer::LocationJson(Positions& positions, const SourceLocation& location) {
  Json json = Json::object();
  json["uri"] = UriOf(location.path);
  json["range"] = RangeJson(positions, location.path, location.range);
  return json;
}

namespace {

// A list is sent in pieces of about this size (each piece ends a
// diagnostic), and kept as text for sending only up to kKeptListBytes; a
// longer one is written twice, once to learn its length and digest and once
// to send it: what a publication holds of its message stays this small
// however many diagnostics a file has.
constexpr size_t kPieceBytes = size_t{64} << 10;
constexpr size_t kKeptListBytes = size_t{256} << 10;

void WritePosition(JsonTextWriter& out, LspPosition position) {
  out.Raw("{\"character\":");
  out.Integer(position.character);
  out.Raw(",\"line\":");
  out.Integer(position.line);
  out.Raw("}");
}

void WriteRange(JsonTextWriter& out, LspPosition start, LspPosition end) {
  out.Raw("{\"end\":");
  WritePosition(out, end);
  out.Raw(",\"start\":");
  WritePosition(out, start);
  out.Raw("}");
}

// One diagnostic object, its members in the order of their names (as the
// JSON values of the other messages are written); `related` writes the
// array of its related places, or nothing.
void WriteDiagnostic(JsonTextWriter& out, LspPosition start, LspPosition end, Severity severity,
                     std::string_view code, std::string_view message,
                     const std::function<void()>& related = nullptr) {
  out.Raw("{");
  if (!code.empty()) {
    out.Raw("\"code\":");
    out.String(code);
    out.Raw(",");
  }
  out.Raw("\"message\":");
  out.String(message);
  out.Raw(",\"range\":");
  WriteRange(out, start, end);
  if (related) {
    out.Raw(",\"relatedInformation\":");
    related();
  }
  out.Raw(",\"severity\":");
  out.Integer(LspSeverity(severity));
  out.Raw(",\"source\":\"KVConverter\"}");
}

// A message of the conversion with its one %s filled, without its line feed.
std::string Fill(std::string_view format, std::string_view argument) {
  std::string text(format.substr(0, format.find('\n')));
  const size_t at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, argument);
  return text;
}

}  // namespace

size_t LanguageServer::WriteDiagnostics(Positions& positions, const std::string& path,
                                        const DiagnosticList& list, const OpenDocument* open,
                                        const Piece& piece) const {
  std::string text;
  JsonTextWriter out(&text);
  size_t count = 0;
  // Before each diagnostic: the comma, and the piece so far once it is large.
  auto next = [&] {
    if (count++ != 0) out.Raw(",");
    if (text.size() >= kPieceBytes) {
      piece(text);
      text.clear();
    }
  };
  out.Raw("[");
  if (list) {
    const PositionMap* file_map = nullptr;
    list([&](const SourceDiagnostic& diagnostic) {
      if (file_map == nullptr) file_map = &positions.Of(path);
      const PositionMap& map = *file_map;
      next();
      std::function<void()> related;
      if (!diagnostic.related.empty()) {
        related = [&] {
          out.Raw("[");
          for (size_t i = 0; i < diagnostic.related.size(); ++i) {
            const RelatedLocation& place = diagnostic.related[i];
            const PositionMap& at = positions.Of(place.location.path);
            out.Raw(i == 0 ? "{\"location\":{\"range\":" : ",{\"location\":{\"range\":");
            WriteRange(out, at.ToLsp(place.location.range.start),
                       at.ToLsp(place.location.range.end));
            out.Raw(",\"uri\":");
            out.String(UriOf(place.location.path));
            out.Raw("},\"message\":");
            out.String(Cp932ToUtf8(place.message));
            out.Raw("}");
          }
          out.Raw("]");
        };
      }
      WriteDiagnostic(out, map.ToLsp(diagnostic.range.start), map.ToLsp(diagnostic.range.end),
                      diagnostic.severity, Cp932ToUtf8(diagnostic.code),
                      Cp932ToUtf8(diagnostic.message), related);
    });
  }
  if (open != nullptr) WriteEditorDiagnostics(*open, out, next);
  out.Raw("]");
  piece(text);
  return count;
}

// What the analysis cannot see of an open document, since it reads the
// editor's text as CP932: each character that CP932 cannot hold (it would be
// lost when the file is saved), and a file on disk saved as UTF-8, which the
// converter warns of.
void LanguageServer::WriteEditorDiagnostics(const OpenDocument& open, JsonTextWriter& out,
                                            const std::function<void()>& next) const {
  const SavedEncoding& saved = open.saved;
  const std::vector<DocumentText::Unconverted>& unconverted = open.text->unconverted();
  if (unconverted.empty() && !saved.bom && saved.first_utf8_character == std::string::npos) return;
  const std::string& utf8 = open.text->utf8();
  const LineIndex lines(utf8);
  auto write = [&](size_t from, size_t to, Severity severity, std::string_view code,
                   std::string_view message) {
    next();
    WriteDiagnostic(out, lines.Position(from, encoding_), lines.Position(to, encoding_), severity,
                    code, message);
  };
  if (saved.bom) {
    write(0, 0, Severity::kWarning, "", Fill(kMsgUtf8Bom, kSaveAsCp932));
  } else if (saved.first_utf8_character != std::string::npos) {
    // The file's offset stands in the editor's text as long as the two agree.
    size_t at = std::min(saved.first_utf8_character, utf8.size());
    while (at > 0 && at < utf8.size() &&
           IsUtf8ContinuationByte(static_cast<unsigned char>(utf8[at])))
      --at;
    const size_t end =
        std::min(utf8.size(),
                 at + std::max<size_t>(1, Utf8CharacterLength(std::string_view(utf8).substr(at))));
    write(at, end, Severity::kWarning, "utf8-script", Fill(kMsgUtf8Script, kSaveAsCp932));
  }
  for (const DocumentText::Unconverted& character : unconverted) {
    const size_t from = character.utf8_offset;
    const size_t to = std::min<size_t>(utf8.size(), from + std::max<uint32_t>(character.length, 1));
    write(from, to, Severity::kError, "",
          Fill(kMsgNoCp932Character, std::string_view(utf8).substr(from, to - from)));
  }
}

void LanguageServer::SendBody(size_t bytes, const Body& body) {
  if (send_text_) {
    send_text_(bytes, body);
    return;
  }
  std::string text;
  text.reserve(bytes);
  body([&](std::string_view piece) { text.append(piece); });
  Json message;
  ParseJson(text, &message);
  send_(message);
}

void LanguageServer::PublishDiagnostics(const std::string& path, size_t list_bytes,
                                        const std::function<void(const Piece&)>& list) {
  // As the message would be serialized: its members, and those of its
  // parameters, in the order of their names.
  const std::string head =
      R"({"jsonrpc":"2.0","method":"textDocument/publishDiagnostics","params":{"diagnostics":)";
  std::string tail;
  JsonTextWriter out(&tail);
  out.Raw(",\"uri\":");
  out.String(UriOf(path));
  if (const OpenDocument* open = store_.Find(path)) {
    out.Raw(",\"version\":");
    out.Integer(open->version);
  }
  out.Raw("}}");
  SendBody(head.size() + list_bytes + tail.size(), [&](const Piece& piece) {
    piece(head);
    list(piece);
    piece(tail);
  });
}

namespace {

Json Status(const char* state) {
  Json params = Json::object();
  params["state"] = state;
  return params;
}

// A digest of a list's text, taken piece by piece (the pieces of a list
// fall where its text decides, so that the same list gives the same digest).
struct TextDigest {
  size_t value = 0xCBF29CE484222325;
  size_t bytes = 0;
  void Add(std::string_view piece) {
    value = (value ^ std::hash<std::string_view>{}(piece)) * 0x100000001B3;
    bytes += piece.size();
  }
};

}  // namespace

void LanguageServer::AnalyseAndPublish() {
  analysis_pending_ = false;
  for (const std::string& path : edited_) {
    if (const OpenDocument* open = store_.Find(path)) analysis_.SetDocument(path, open->text);
  }
  edited_.clear();
  analysed_ = true;
  changed_since_analysis_.clear();
  analysed_texts_.clear();
  for (const auto& [path, open] : store_.open()) analysed_texts_.emplace(path, open.text);
  // The editor's helper shows the state of the analysis.
  Notify("kvscript/status", Status("analysing"));
  std::vector<FileDiagnostics> results = analysis_.Analyse();
  // The texts the analysis gave with its lists, each let go once its file's
  // list is sent (as is every other text the positions are mapped on): the
  // texts of a whole game are never held at once.
  std::map<std::string, std::shared_ptr<const DocumentText>> texts;
  // The files whose lists may have changed: those the analysis returns, and
  // the open documents whose text the editor changed (the editor's own
  // findings, characters CP932 cannot hold, stand beside the analysis').
  std::set<std::string> paths = std::move(editor_changed_);
  editor_changed_.clear();
  // An analysis that keeps its lists is asked for a list again rather than
  // having it held twice: the lists it returned now are held only until
  // they are sent.
  const bool kept = analysis_.KeepsDiagnostics();
  std::map<std::string, FileDiagnostics> returned;
  std::map<std::string, FileDiagnostics>& lists = kept ? returned : analysis_lists_;
  for (FileDiagnostics& file : results) {
    paths.insert(file.path);
    if (file.text) texts[file.path] = std::move(file.text);
    file.text = nullptr;
    if (file.diagnostics.empty()) {
      lists.erase(file.path);
    } else {
      lists[file.path] = std::move(file);
    }
  }
  std::vector<FileDiagnostics>().swap(results);
  for (const std::string& path : paths) {
    Positions positions(*this);
    if (auto text = texts.find(path); text != texts.end()) {
      positions.Use(path, std::move(text->second));
      texts.erase(text);
    }
    // The list as returned, or as the analysis that keeps it gives it one
    // diagnostic at a time.
    DiagnosticList list;
    auto listed = lists.find(path);
    if (listed != lists.end()) {
      list = [&file = listed->second](const std::function<void(const SourceDiagnostic&)>& visit) {
        for (const SourceDiagnostic& diagnostic : file.diagnostics) visit(diagnostic);
      };
    } else if (kept) {
      list = [this, &path](const std::function<void(const SourceDiagnostic&)>& visit) {
        analysis_.VisitDiagnostics(path, visit);
      };
    }
    positions.Prepare(path, list);
    const OpenDocument* open = store_.Find(path);
    // The list is written once for its digest, and kept as text while it is
    // short; a long one is written again as it is sent.
    TextDigest digest;
    std::string text;
    bool whole = true;
    const size_t count = WriteDiagnostics(positions, path, list, open, [&](std::string_view piece) {
      digest.Add(piece);
      if (!whole) return;
      if (text.size() + piece.size() > kKeptListBytes) {
        whole = false;
        std::string().swap(text);
        return;
      }
      text.append(piece);
    });
    auto old = published_.find(path);
    if (count == 0) {
      if (old == published_.end()) continue;
      published_.erase(old);
      PublishDiagnostics(path, 2, [](const Piece& piece) { piece("[]"); });
      continue;
    }
    // A list the client has been sent already is not sent again (the digest
    // is taken over the list's text as it is written, never over a copy of
    // the whole: the list of one large script runs to a hundred megabytes).
    if (old == published_.end() || old->second != digest.value) {
      published_[path] = digest.value;
      PublishDiagnostics(path, digest.bytes, [&](const Piece& piece) {
        if (whole) {
          piece(text);
        } else {
          WriteDiagnostics(positions, path, list, open, piece);
        }
      });
    }
    if (kept && listed != lists.end()) lists.erase(listed);
  }
  Notify("kvscript/status", Status("ready"));
  AnalyseAgainIfNeeded();
}

void LanguageServer::AnalyseAgainIfNeeded() {
  // A file the analysis read changed on disk, as an answer found: what was
  // made of it is made again.
  if (state_ == State::kRunning && analysis_.NeedsAnalysis()) analysis_pending_ = true;
}

// Queries.

// A query at a place of a document: the document, the place in the
// converter's terms, and the positions of every file the answer speaks of.
struct LanguageServer::Query {
  explicit Query(const LanguageServer& server) : positions(server) {}
  Positions positions;
  std::string path;
  SourcePosition position;
};

bool LanguageServer::ReadQuery(const Json& params, Query* query) {
  LspPosition lsp;
  if (!DocumentPath(params, &query->path) || !ReadPosition(Member(params, "position"), &lsp)) {
    return false;
  }
  query->position = query->positions.Of(query->path).ToSource(lsp);
  return true;
}

LanguageServer::Reply LanguageServer::Result(Json result) {
  Reply reply;
  reply.result = std::move(result);
  return reply;
}

LanguageServer::Reply LanguageServer::NoPosition() {
  return Error(kInvalidParams, "no document position");
}

Json LanguageServer::LocationsJson(Positions& positions,
                                   const std::vector<SourceLocation>& locations) {
  Json json = Json::array();
  for (const SourceLocation& location : locations) {
    json.push_back(LocationJson(positions, location));
  }
  return json;
}

LanguageServer::Reply LanguageServer::Definition(const Json& params) {
  Query query(*this);
  if (!ReadQuery(params, &query)) return NoPosition();
  return Result(LocationsJson(query.positions, analysis_.Definition(query.path, query.position)));
}

LanguageServer::Reply LanguageServer::References(const Json& params) {
  Query query(*this);
  if (!ReadQuery(params, &query)) return NoPosition();
  bool include_definition = false;
  if (const Json* context = Member(params, "context")) {
    BoolMember(*context, "includeDeclaration", &include_definition);
  }
  return Result(LocationsJson(
      query.positions, analysis_.References(query.path, query.position, include_definition)));
}

LanguageServer::Reply LanguageServer::Rename(const Json& params) {
  Query query(*this);
  std::string new_name_utf8, new_name;
  if (!ReadQuery(params, &query) || !StringMember(params, "newName", &new_name_utf8)) {
    return Error(kInvalidParams, "no document position or new name");
  }
  if (!Utf8ToCp932Exact(new_name_utf8, &new_name)) {
    return Error(kRequestFailed, "the new name has a character that CP932 lacks");
  }
  std::vector<FileEdits> files;
  std::string refusal;
  if (!analysis_.Rename(query.path, query.position, new_name, &files, &refusal)) {
    return Error(kRequestFailed, Cp932ToUtf8(refusal));
  }
  Json changes = Json::object();
  for (const FileEdits& file : files) {
    Json& edits = changes[UriOf(file.path)];
    if (!edits.is_array()) edits = Json::array();
    for (const TextEdit& edit : file.edits) {
      Json json = Json::object();
      json["range"] = RangeJson(query.positions, file.path, edit.range);
      json["newText"] = Cp932ToUtf8(edit.new_text);
      edits.push_back(std::move(json));
    }
  }
  Json result = Json::object();
  result["changes"] = std::move(changes);
  return Result(std::move(result));
}

LanguageServer::Reply LanguageServer::HoverRequest(const Json& params) {
  Query query(*this);
  if (!ReadQuery(params, &query)) return NoPosition();
  std::optional<Hover> hover = analysis_.HoverAt(query.path, query.position);
  if (!hover) return Result(nullptr);
  Json result = Json::object();
  Json contents = Json::object();
  // Marks shown as they are would only clutter a client that takes plain
  // text.
  const bool plain = !markdown_ && !hover->plain.empty();
  contents["kind"] = markdown_ ? "markdown" : "plaintext";
  contents["value"] = Cp932ToUtf8(plain ? hover->plain : hover->markdown);
  result["contents"] = std::move(contents);
  if (hover->range) result["range"] = RangeJson(query.positions, query.path, *hover->range);
  return Result(std::move(result));
}

LanguageServer::Reply LanguageServer::Completion(const Json& params) {
  Query query(*this);
  if (!ReadQuery(params, &query)) return NoPosition();
  const kv::Completion completion = analysis_.CompleteAt(query.path, query.position);
  Json replace;
  if (completion.replace) replace = RangeJson(query.positions, query.path, *completion.replace);
  Json items = Json::array();
  for (const CompletionItem& item : completion.items) {
    Json json = Json::object();
    json["label"] = Cp932ToUtf8(item.label);
    json["kind"] = LspCompletionKind(item.kind);
    if (!item.detail.empty()) json["detail"] = Cp932ToUtf8(item.detail);
    if (!item.documentation.empty()) {
      Json documentation = Json::object();
      documentation["kind"] = "markdown";
      documentation["value"] = Cp932ToUtf8(item.documentation);
      json["documentation"] = std::move(documentation);
    }
    const std::string text = Cp932ToUtf8(item.insert_text.empty() ? item.label : item.insert_text);
    if (completion.replace) {
      Json edit = Json::object();
      edit["range"] = replace;
      edit["newText"] = text;
      json["textEdit"] = std::move(edit);
    } else if (!item.insert_text.empty()) {
      json["insertText"] = text;
    }
    items.push_back(std::move(json));
  }
  Json result = Json::object();
  result["isIncomplete"] = completion.incomplete;
  result["items"] = std::move(items);
  return Result(std::move(result));
}

LanguageServer::Reply LanguageServer::DocumentSymbols(const Json& params) {
  std::string path;
  if (!DocumentPath(params, &path)) return Error(kInvalidParams, "no document");
  Positions positions(*this);
  Reply reply;
  reply.result = Json::array();
  for (const Symbol& symbol : analysis_.DocumentSymbols(path)) {
    Json json = Json::object();
    json["name"] = Cp932ToUtf8(symbol.name);
    json["kind"] = LspSymbolKind(symbol.kind);
    if (hierarchical_symbols_) {
      if (!symbol.detail.empty()) json["detail"] = Cp932ToUtf8(symbol.detail);
      json["range"] = RangeJson(positions, symbol.location.path, symbol.location.range);
      json["selectionRange"] = RangeJson(positions, symbol.location.path, symbol.name_range);
    } else {
      json["location"] = LocationJson(positions, symbol.location);
    }
    reply.result.push_back(std::move(json));
  }
  return reply;
}

LanguageServer::Reply LanguageServer::WorkspaceSymbols(const Json& params) {
  std::string query_utf8, query;
  StringMember(params, "query", &query_utf8);
  Reply reply;
  reply.result = Json::array();
  // A query that CP932 cannot write matches no name.
  if (!Utf8ToCp932Exact(query_utf8, &query)) return reply;
  Positions positions(*this);
  for (const Symbol& symbol : analysis_.WorkspaceSymbols(query)) {
    Json json = Json::object();
    json["name"] = Cp932ToUtf8(symbol.name);
    json["kind"] = LspSymbolKind(symbol.kind);
    json["location"] = LocationJson(positions, symbol.location);
    reply.result.push_back(std::move(json));
  }
  return reply;
}

// The game's route map as --route-map=FILE.json writes it, over the texts
// the editor holds, each file's node with its URI; null when no game is open.
LanguageServer::Reply LanguageServer::RouteMap(const Json&) {
  Reply reply;
  const std::string map = analysis_.RouteMapJson();
  if (map.empty() || !ParseJson(map, &reply.result)) return Result(nullptr);
  for (Json& node : reply.result["nodes"]) {
    std::string path_utf8, path;
    if (StringMember(node, "path", &path_utf8) && Utf8ToCp932Exact(path_utf8, &path)) {
      node["uri"] = UriOf(path);
    }
  }
  return reply;
}

}  // namespace kv
