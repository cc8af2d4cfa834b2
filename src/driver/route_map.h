// The route map: the game's branches as a graph, drawn from what the compiler
// reads while it compiles. A RouteRecorder watches the statements of a run
// (as a ReadingObserver) and keeps the scripts, labels and functions and the
// jumps between them; Finish() resolves the names, follows the routes from
// the start of main.txt and marks what none of them reaches.
//
// Texts are kept as the compiler has them (CP932); the writers turn them
// into UTF-8.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "language/command_reader.h"
#include "language/command_table.h"

namespace kv {

class KCSystem;
class OutputFile;

struct RouteNode {
  enum Kind {
    kStart,      // the start of main.txt
    kScript,     // a script, standing for its first statements
    kLabel,
    kFunction,
    kEnd,        // where a script runs off its end
    kUndefined,  // a name that nothing defines
    kUnknown,    // a target computed when the game runs
  };
  Kind kind;
  std::string_view name;    // label or function name, the name used, or the target as written
  std::string_view script;  // the script's path as the run found it (empty for undefined names)
  int32_t line = 0;
  int32_t column = 0;
  // The cluster the node is drawn in: the index of its script's node, or -1.
  int32_t cluster = -1;
  bool reached = false;
};

struct RouteEdge {
  enum Kind { kStartEdge, kGoto, kFunctionCall, kScriptChange, kScriptLoad, kFallThrough, kScriptEnd };
  Kind kind;
  size_t from;
  size_t to;
  // The conditions of the if/elseif/else blocks around the jump, as written
  // (a select's choice for a test of select_result), outermost first, joined
  // by " / "; empty outside such blocks.
  std::string_view label;
  std::string_view script;
  int32_t line = 0;
  int32_t column = 0;
};

// A list that grows a block of elements at a time and never moves what it
// holds (nor when it is moved): the nodes and edges of a large map, a few
// allocations for a hundred thousand of them.
template <typename T>
class BlockList {
  // Elements are never destroyed one by one.
  static_assert(std::is_trivially_destructible_v<T>);

 public:
  static constexpr size_t kPerBlock = 1024;

  template <typename Element>
  class Iterator {
   public:
    Iterator(const BlockList* list, size_t at) : list_(list), at_(at) {}
    Element& operator*() const { return const_cast<Element&>((*list_)[at_]); }
    Element* operator->() const { return &**this; }
    Iterator& operator++() {
      ++at_;
      return *this;
    }
    bool operator==(const Iterator& other) const { return at_ == other.at_; }

   private:
    const BlockList* list_;
    size_t at_;
  };

  T& operator[](size_t i) { return blocks_[i / kPerBlock].get()[i % kPerBlock]; }
  const T& operator[](size_t i) const { return blocks_[i / kPerBlock].get()[i % kPerBlock]; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  T& back() { return (*this)[size_ - 1]; }
  void push_back(const T& value) {
    // A block is taken as it is, without writing every element first:
    // each is written once, when it is added.
    if (size_ % kPerBlock == 0) blocks_.emplace_back(std::allocator<T>().allocate(kPerBlock));
    std::construct_at(blocks_.back().get() + size_ % kPerBlock, value);
    ++size_;
  }
  void clear() {
    blocks_.clear();
    size_ = 0;
  }
  Iterator<T> begin() { return {this, 0}; }
  Iterator<T> end() { return {this, size_}; }
  Iterator<const T> begin() const { return {this, 0}; }
  Iterator<const T> end() const { return {this, size_}; }

 private:
  struct Free {
    void operator()(T* block) const { std::allocator<T>().deallocate(block, kPerBlock); }
  };
  std::vector<std::unique_ptr<T, Free>> blocks_;
  size_t size_ = 0;
};

// Copies of texts that stay in place until the store goes (also when it is
// moved): the names and labels of a map, kept in large blocks instead of a
// string each.
class TextStore {
 public:
  std::string_view Keep(std::string_view text);

 private:
  static constexpr size_t kBlockSize = size_t{64} << 10;
  std::vector<std::unique_ptr<char[]>> blocks_;
  size_t used_ = 0;
  size_t size_ = 0;
};

struct RouteMap {
  // The scripts' paths, which nodes and edges point into (a deque keeps them
  // in place as it grows, and when the map is moved).
  std::deque<std::string> paths;
  // The names and labels of nodes and edges.
  TextStore texts;
  // A large map grows without moving what it holds.
  BlockList<RouteNode> nodes;
  BlockList<RouteEdge> edges;
  // The engine directory: script names are shown relative to it.
  std::string base;
  // The scripts, labels and functions no route reaches, in node order.
  std::vector<size_t> unreached;
  // Whether any route goes to a target computed at run time (what seems
  // unreached may then be reached through it).
  bool has_unknown = false;
};

const char* RouteNodeKindName(RouteNode::Kind kind);
const char* RouteEdgeKindName(RouteEdge::Kind kind);

class RouteRecorder : public ReadingObserver {
 public:
  // `engine_directory` ends with a separator; main.txt stands in it, and the
  // names of script_change and script_load are read from it.
  explicit RouteRecorder(std::string engine_directory);
  ~RouteRecorder() override;

  void OnStatement(const SourceText& source, int32_t id, const Statement& statement) override;
  void OnScriptStart(const SourceText& source) override;
  // A branch's condition is made into text when a jump in it needs it.
  bool ReadsTextBehind() const override { return true; }

  // The map of everything recorded (the recorder is spent afterwards).
  RouteMap Finish();

 private:
  // What is recorded while the scripts are read is kept small (the nodes
  // and edges of a large game are tens of thousands, and writing them is
  // the recording's main cost); Finish makes the map's nodes and edges of it.
  // Texts are kept in the map's texts, or are literals; a script's own mark
  // names its path.
  //
  // The edges between marks are recorded with the mark they come with, at
  // its place: the start's into main.txt (`linked` names the script), and
  // those from the node before (`linked`) into a script's end or a label
  // that the statements before it run on into.
  static constexpr uint32_t kNoLink = UINT32_MAX;
  struct Mark {
    const char* name;
    uint32_t name_size;
    uint32_t script;  // the mark of its script
    uint32_t linked;
    int32_t line;
    int32_t column;
    RouteNode::Kind kind;
  };
  // An edge whose target is resolved by name in Finish.
  struct Jump {
    const char* target;
    const char* label;
    uint32_t target_size;
    uint32_t label_size;
    uint32_t from;
    uint32_t script;
    int32_t line;
    int32_t column;
    RouteEdge::Kind kind;
    bool literal;
  };
  // Trivially copied: an if, a loop or a function is entered and left
  // without an allocation.
  struct Frame {
    enum Kind { kIf, kLoop, kFunction };
    explicit Frame(Kind k, bool live = false, size_t segment = 0)
        : kind(k), saved_live(live), saved_segment(segment) {}
    Kind kind;
    bool saved_live = false;
    size_t saved_segment = 0;
    // The condition of the branch being read (kIf): its text (a choice's,
    // or "else", kept elsewhere), or where it stands in the script
    // (condition_from, condition_to), made into text only when a jump needs
    // it.
    std::string_view condition;
    uint32_t condition_from = 0;
    uint32_t condition_to = 0;
  };

  void StartScript(const SourceText& source);
  // The first statement read of a script after those of another.
  void OnFirstStatement(const SourceText& source, int32_t id, const Statement& statement);
  // A statement the map is drawn from.
  void Record(const SourceText& source, int32_t id, const Statement& statement);
  void EndScript();
  size_t AddMark(RouteNode::Kind kind, std::string_view name, uint32_t script, int32_t line, int32_t column,
                 uint32_t linked = kNoLink);
  size_t AddNode(RouteNode::Kind kind, std::string_view name, const SourceText& source, uint32_t offset,
                 uint32_t linked);
  void AddJump(RouteEdge::Kind kind, const SourceText& source, uint32_t offset, std::string_view target,
               bool literal);
  // The statement's text from `offset` to its end, as written (comments
  // removed, white space folded).
  std::string TextFrom(const SourceText& source, uint32_t offset) const;
  static std::string TextBetween(const SourceText& source, uint32_t from, uint32_t to);
  // The condition of an if or elseif into `frame`.
  void SetCondition(Frame* frame, const SourceText& source, const Statement& statement) const;
  bool InBranch() const;
  // Kept in the map's texts.
  std::string_view BranchLabel();

  std::string engine_directory_;
  // The statements the map is drawn from, beside labels, by command id.
  const int32_t select_id_;
  std::array<bool, kCommandCount> watched_{};
  RouteMap map_;
  BlockList<Mark> marks_;
  BlockList<Jump> jumps_;
  // Script path -> its node.
  std::map<std::string, size_t> scripts_;
  const SourceText* current_ = nullptr;
  std::string_view current_path_;
  size_t script_node_ = 0;
  // The node whose statements are being read, and whether the statement
  // before the next one can run on into it.
  size_t segment_ = 0;
  bool live_ = false;
  // The line of the last statement read of the current script.
  int32_t last_line_ = 1;
  std::vector<Frame> frames_;
  // The choices of the last select of the script, by number from 1 (kept in
  // the map's texts).
  std::vector<std::string_view> choices_;
};

enum class RouteMapFormat { kNone, kDot, kJson, kSvg };
// The form a file name's extension asks for (letter case aside).
RouteMapFormat RouteMapFormatOf(std::string_view path);

// Writes `map` to the run's route map file as its extension asks (through a
// temporary file renamed into place); false, with an error counted, when it
// cannot.
bool WriteRouteMap(KCSystem& sys, const RouteMap& map);

// Writes the run's route map as WriteRouteMap does, but makes it on a second
// thread while the run goes on once every statement has been read (the
// checks of the whole game, which the map does not depend on, run meanwhile).
// The file is created on the calling thread; a DOT or JSON map is committed
// on the second thread as soon as it is made (an SVG map on the calling
// thread, which creates its file once it is laid out). Any failure is
// reported on the calling thread, in Done: the console and the file are the
// same as WriteRouteMap's.
//
// Nothing is shared while the thread runs: Start hands it the recorder and
// the opened file, and Join or Done takes them back. Since the thread renames
// the file into place, the caller leaves the file system alone until it has
// joined it.
class RouteMapWriter {
 public:
  explicit RouteMapWriter(KCSystem& sys);
  // Waits for a thread still running.
  ~RouteMapWriter();
  RouteMapWriter(const RouteMapWriter&) = delete;
  RouteMapWriter& operator=(const RouteMapWriter&) = delete;

  // Starts making the map of what `recorder` has seen; neither the recorder
  // nor the run's file system is touched again by the caller until Join or
  // Done. Once only.
  void Start(RouteRecorder* recorder);
  // Waits for the map's thread, if it runs (it commits the file it made).
  void Join();
  // Waits for the map and writes it into place; without Start, makes it
  // here. False, with an error counted, when it cannot be written.
  bool Done(RouteRecorder* recorder);

 private:
  friend bool WriteRouteMap(KCSystem& sys, const RouteMap& map);
  // Creates the file of a DOT or JSON map (an SVG map is laid out first).
  void Open();
  // Makes the map's text (into the file, or the SVG picture into svg_).
  void Make(const RouteMap& map);
  // Writes an SVG map and commits the file (once).
  bool Commit();
  // Commits the file if that is still to be done, reports a failure.
  bool Close();

  KCSystem& sys_;
  RouteMapFormat format_;
  char separator_;
  bool started_ = false;
  bool made_ = true;
  bool committed_ = false;
  std::unique_ptr<OutputFile> out_;
  std::string svg_;
  std::string err_;
  std::thread thread_;
};

// The map as Graphviz DOT text (UTF-8): each script a cluster.
std::string RouteMapDot(const RouteMap& map, char separator);
// The map as JSON (UTF-8): nodes and edges with their files, lines and columns.
std::string RouteMapJson(const RouteMap& map, char separator);

// Whether this build lays maps out itself (with Graphviz's library).
bool RouteMapCanLayOut();
// Lays `dot` out and draws it as SVG; false with the reason in *err.
bool RouteMapSvg(const std::string& dot, std::string* svg, std::string* err);

}  // namespace kv
