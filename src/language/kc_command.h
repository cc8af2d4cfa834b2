// KCCommand: the statement being compiled (parameters of lexical elements),
// the block stack of the block statements, and the command tables with the
// aliases defined by new_command.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "language/command_table.h"
#include "source/statement.h"

namespace kv {

class KCSystem;

enum BlockFlag : uint32_t {
  BlkIf = 0x10,
  BlkElseIf = 0x20,
  BlkElse = 0x40,
  BlkIfEnd = 0x80,
  BlkLoopExit = 0x100,
  BlkFunctionExit = 0x200,
  BlkFunction = 0x800,
  BlkDebugOnly = 0x1000,
  BlkReleaseOnly = 0x2000,
  BlkVoid = 0x4000,
  BlkLoopStart = 0x20000000,
  BlkLoopCondition = 0x40000000,  // the conditional jump at the top of a loop
};

// Told of what a compile reads of the aliases made before it, so that a
// caller can tell which compiles a change to them would change.
class AliasReadObserver {
 public:
  virtual ~AliasReadObserver() = default;
  // `name` was looked up among the aliases.
  virtual void OnAliasLookup(std::string_view name) = 0;
  // Every alias was read, or one was made (what it makes hangs on them all).
  virtual void OnAllAliasesRead() = 0;
};

struct BlockRecord {
  uint32_t flags = 0;
  uint32_t patchPos = 0;   // byte position of a jump distance still to patch
  uint32_t baseIndex = 0;  // itemPosition just after that jump (loop start: at the loop)
  uint32_t line = 0;       // source line of the statement that opened the block
  // Its column (1-based, as the file has it), taken when the block opens:
  // the text before the statement being read is not kept.
  int32_t column = 0;
};

class KCCommand {
 public:
  explicit KCCommand(KCSystem& sys);
  ~KCCommand();

  // --- The current statement.
  bool GetElement(uint32_t parameter, uint32_t element, CommandElement* out);
  // The element without copying or reporting; null when there is none.
  const CommandElement* ElementAt(uint32_t parameter, uint32_t element) const {
    if (parameter >= statement_.size() || element >= statement_[parameter].size()) return nullptr;
    return &statement_[parameter][element];
  }
  uint32_t GetElemSize(uint32_t parameter) {
    if (parameter < statement_.size()) return static_cast<uint32_t>(statement_[parameter].size());
    return MissingElemSize(parameter);
  }
  uint32_t GetParamCount() const { return statement_.size(); }
  // The statement itself, as the tokenizer fills it.
  Statement& statement() { return statement_; }
  const Statement& statement() const { return statement_; }
  // What command reading identified the statement as (a command id or an
  // internal code such as CmdLabel or CmdEndOfFile), for messages about it.
  int32_t StatementId() const { return statement_id_; }
  void SetStatementId(int32_t id) { statement_id_ = id; }
  bool DeleteElement();
  void DeleteParameter();
  void ClearParameters() { statement_.Clear(); }
  void AppendParameter(CommandParameter parameter);
  void InsertParameterFront(CommandParameter parameter);

  // --- The block stack.
  void PushBlock(const BlockRecord& record);
  // Both return a zero record when the stack is empty.
  BlockRecord PopBlock();
  BlockRecord TopBlock() const;
  size_t BlockDepth() const { return blocks_.size(); }
  // Records from the bottom of the stack (index 0) to the top.
  const std::vector<BlockRecord>& Blocks() const { return blocks_; }
  void ClearBlocks() { blocks_.clear(); }

  // --- Command tables and aliases.
  void InitCommandTable();
  void DeleteSetupCommands();
  bool InSetupPhase() const { return setup_commands_ != nullptr; }
  int32_t GetCommandId(std::string_view word);
  // The id GetCommandId gives `word` now, leaving the statement as it is; a
  // word that the setup phase compiles as calc gives CmdInvalid.
  int32_t PeekCommandId(std::string_view word) const;
  // Whether `word` names a command or an alias, in either phase.
  bool NamesCommand(std::string_view word) const {
    return command_table_.Find(word) != CmdInvalid || FindAliasId(word) != CmdInvalid;
  }

  int32_t FindCommandId(std::string_view name) const;
  int32_t FindAliasId(std::string_view name) const;
  bool IsSetupCommandId(int32_t id) const;
  bool AddAlias(std::string_view target, std::string_view alias);
  bool AddAliasId(int32_t id, std::string_view alias);
  // Every alias made so far: command id -> alias (kept in the run's carried
  // state).
  const std::map<int32_t, std::string>& Aliases() const;
  // Looks the aliases up again after the carried state was restored.
  void IndexAliases();
  // Told of each read of the aliases from now on (null: none).
  void set_alias_observer(AliasReadObserver* observer) { alias_observer_ = observer; }
  ParamCount GetParamCountEntry(int32_t id) const;

 private:
  // Parameter `parameter` of the statement; reports and gives null past the end.
  CommandParameter* GetParamItr(uint32_t parameter);
  // GetElemSize past the end of the statement: reports, and gives 0.
  uint32_t MissingElemSize(uint32_t parameter);

  KCSystem& sys_;
  Statement statement_;
  int32_t statement_id_ = CmdInvalid;
  std::vector<BlockRecord> blocks_;
  // Every statement looks its leading word up, and words are short: their
  // length and first and last eight bytes (fewer for shorter words) are
  // mixed, in a few instructions whatever the length.
  struct NameHash {
    using is_transparent = void;
    size_t operator()(std::string_view name) const {
      const char* p = name.data();
      const size_t n = name.size();
      uint64_t head = 0;
      uint64_t tail = 0;
      if (n >= 8) {
        std::memcpy(&head, p, 8);
        std::memcpy(&tail, p + n - 8, 8);
      } else if (n >= 4) {
        uint32_t first;
        uint32_t last;
        std::memcpy(&first, p, 4);
        std::memcpy(&last, p + n - 4, 4);
        head = first;
        tail = last;
      } else if (n > 0) {
        head = static_cast<uint8_t>(p[0]) | static_cast<uint32_t>(static_cast<uint8_t>(p[n / 2])) << 8 |
               static_cast<uint32_t>(static_cast<uint8_t>(p[n - 1])) << 16;
      }
      uint64_t hash = (head ^ (tail * 0x9E3779B97F4A7C15u) ^ n) * 0xBF58476D1CE4E5B9u;
      return static_cast<size_t>(hash ^ (hash >> 31));
    }
  };
  // Names of the command table to ids in one open-addressing array (a power
  // of two, at most half full): a probe is a mask and a short compare rather
  // than a division and a walk through nodes.
  class NameTable {
   public:
    // Empties the table and sizes it for `count` names.
    void Reset(size_t count);
    // A name already in the table keeps its id.
    void Add(std::string_view name, int32_t id);
    // CmdInvalid when the name is not in the table.
    int32_t Find(std::string_view name) const;

   private:
    struct Slot {
      std::string_view name;  // null data: the slot is free
      uint32_t hash = 0;      // of the name: most probes end without comparing bytes
      int32_t id = CmdInvalid;
    };
    // The index of the slot holding `name` (whose hash is `hash`), or of the
    // free one where it belongs.
    size_t SlotOf(std::string_view name, size_t hash) const;
    std::vector<Slot> slots_;
  };
  NameTable command_table_;
  std::unique_ptr<NameTable> setup_commands_;
  // The aliases keyed by name (an alias name belongs to one id only).
  std::unordered_map<std::string, int32_t, NameHash, std::equal_to<>> alias_ids_;
  AliasReadObserver* alias_observer_ = nullptr;
};

}  // namespace kv
