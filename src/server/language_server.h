// The protocol side of kvls: JSON-RPC messages of the Language Server
// Protocol turned into calls of the analysis and its answers turned back
// into JSON, with the positions, paths and texts converted at this edge.
// One thread calls it; what it sends goes out through `send` in order.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "server/framing.h"
#include "server/json.h"
#include "server/positions.h"
#include "server/uri.h"
#include "workspace/analysis.h"
#include "workspace/document_store.h"

namespace kv {

// The protocol's error codes.
enum ErrorCode : int {
  kParseError = -32700,
  kInvalidRequest = -32600,
  kMethodNotFound = -32601,
  kInvalidParams = -32602,
  kServerNotInitialized = -32002,
  kRequestFailed = -32803,
  kRequestCancelled = -32800,
};

// True for a well-formed exit notification: the last message that a server
// reads.
bool IsExitNotification(const IncomingMessage& message);

class LanguageServer {
 public:
  using Send = std::function<void(const Json& message)>;
  // Hands a message's serialized body over in pieces, in order, to `piece`.
  using Piece = std::function<void(std::string_view piece)>;
  using Body = std::function<void(const Piece& piece)>;
  // Sends a message given as its serialized body of `bytes` bytes, which
  // `body` writes: a large message (the diagnostics of a large script) is
  // written as it is made, never held whole as JSON values or as text.
  using SendText = std::function<void(size_t bytes, const Body& body)>;

  // Without `send_text`, such a message is read back into JSON and sent
  // through `send`.
  LanguageServer(Analysis& analysis, DocumentStore& store, PathStyle path_style, Send send,
                 SendText send_text = nullptr);

  // Handles one message or parse error of the reader. Every request gets
  // exactly one reply; a notification none. After exit, nothing is done.
  void Handle(const IncomingMessage& message);

  // True when documents or files changed since the last analysis.
  bool analysis_pending() const { return analysis_pending_; }
  // Files whose text changed since the last analysis: a query about one of
  // them waits for an analysis; a query about any other file is answered
  // from the last one at once.
  const std::set<std::string>& changed_since_analysis() const { return changed_since_analysis_; }
  // Analyses now and publishes the diagnostics of every file whose
  // diagnostics changed (an empty list for a file that has none left),
  // between the notifications kvscript/status {"state":"analysing"} and
  // {"state":"ready"}.
  void AnalyseAndPublish();

  // The client cancelled the request `id` before the server read it: the
  // request is answered with RequestCancelled when it comes.
  void CancelPending(const Json& id);

  // The input ended without an exit notification: the server ends as if
  // one had come.
  void InputEnded();

  bool exited() const { return state_ == State::kExited; }
  // The client's process as initialize named it (processId), or 0: the
  // server ends when that process has gone. Read from any thread.
  int64_t client_process_id() const { return client_process_id_.load(); }
  // 0 when exit (or the end of the input) came after shutdown, 1 otherwise.
  int exit_status() const { return exit_status_; }

 private:
  enum class State { kStarting, kRunning, kShutDown, kExited };

  // A request's answer: its result, or an error when `code` is not 0.
  struct Reply {
    Json result;
    int code = 0;
    std::string message;
  };
  static Reply Error(int code, std::string message);

  // What a request needs of the analysis before it is answered.
  enum class Needs {
    kNothing,
    // A query about one document: an analysis that read the document's
    // present text (edits to other documents may wait).
    kDocument,
    // An analysis of everything the editor and the disk hold now.
    kEverything,
  };
  struct Method {
    const char* name;
    Reply (LanguageServer::*request)(const Json& params);
    void (LanguageServer::*notification)(const Json& params);
    Needs needs;
  };
  static const Method kMethods[];

  void HandleRequest(const Json& id, const std::string& method, const Json& params);
  void HandleNotification(const std::string& method, const Json& params);
  void SendReply(const Json& id, const Reply& reply);
  void Notify(const char* method, Json params);
  void SendBody(size_t bytes, const Body& body);
  void AnalyseAgainIfNeeded();

  Reply Initialize(const Json& params);
  Reply Shutdown(const Json& params);
  Reply Definition(const Json& params);
  Reply References(const Json& params);
  Reply Rename(const Json& params);
  Reply HoverRequest(const Json& params);
  Reply Completion(const Json& params);
  Reply DocumentSymbols(const Json& params);
  Reply WorkspaceSymbols(const Json& params);
  Reply RouteMap(const Json& params);
  void Initialized(const Json& params);
  void DidOpen(const Json& params);
  void DidChange(const Json& params);
  void DidClose(const Json& params);
  void DidChangeWatchedFiles(const Json& params);
  void CancelRequest(const Json& params);

  // Paths and URIs: the client's own spelling of a URI is kept and used
  // again for its path.
  bool PathOf(const std::string& uri, std::string* path);
  bool DocumentPath(const Json& params, std::string* path);
  std::string UriOf(const std::string& path) const;

  // Converts positions of many files within one answer, each file's text
  // read once.
  class Positions;
  struct Query;
  // False when the parameters name no document position.
  bool ReadQuery(const Json& params, Query* query);
  static Reply Result(Json result);
  static Reply NoPosition();
  Json LocationJson(Positions& positions, const SourceLocation& location);
  Json LocationsJson(Positions& positions, const std::vector<SourceLocation>& locations);
  Json RangeJson(Positions& positions, const std::string& path, const SourceRange& range);
  // Visits each diagnostic of a list in turn.
  using DiagnosticList =
      std::function<void(const std::function<void(const SourceDiagnostic&)>& visit)>;
  // Writes the list of diagnostics of `path` as JSON text, in pieces of
  // about kPieceBytes: those of the analysis (`list`, or none) and, for an
  // open document, the editor's own; returns how many it wrote.
  size_t WriteDiagnostics(Positions& positions, const std::string& path,
                          const DiagnosticList& list, const OpenDocument* open,
                          const Piece& piece) const;
  void WriteEditorDiagnostics(const OpenDocument& open, JsonTextWriter& out,
                              const std::function<void()>& next) const;
  // Sends the publishDiagnostics of `path` with the list `list` writes.
  void PublishDiagnostics(const std::string& path, size_t list_bytes,
                          const std::function<void(const Piece&)>& list);

  Analysis& analysis_;
  DocumentStore& store_;
  const PathStyle path_style_;
  Send send_;
  SendText send_text_;
  const AnalysisFeatures features_;

  State state_ = State::kStarting;
  int exit_status_ = 1;
  bool analysis_pending_ = false;
  bool analysed_ = false;  // an analysis has run
  std::set<std::string> changed_since_analysis_;
  // The texts of the open documents that the last analysis read: the
  // positions of its answers are mapped against them.
  std::map<std::string, std::shared_ptr<const DocumentText>> analysed_texts_;
  int64_t next_request_id_ = 1;

  // What initialize settled for the session.
  PositionEncoding encoding_ = PositionEncoding::kUtf16;
  bool watch_registration_ = false;
  bool markdown_ = false;
  bool hierarchical_symbols_ = false;
  std::atomic<int64_t> client_process_id_{0};

  std::map<std::string, std::string> client_uris_;  // path -> URI
  // The analysis' diagnostics of each file that has any, as last returned,
  // for an analysis that does not keep them itself.
  std::map<std::string, FileDiagnostics> analysis_lists_;
  // Open documents changed (or opened, closed) since the last publication.
  std::set<std::string> editor_changed_;
  // Open documents the editor changed since the analysis was last given
  // their text.
  std::set<std::string> edited_;
  std::set<std::string> cancelled_;  // ids of requests cancelled, as JSON texts
  std::map<std::string, size_t> published_;  // path -> a digest of the list last sent
};

}  // namespace kv
