#include "language/kc_command.h"

#include <algorithm>
#include <utility>

#include "context/kc_system.h"

namespace kv {

namespace {

constexpr char kParamItrFailed[] = "GetParamItr(1) 取得開始位置がパラメータサイズを超えた\n";
constexpr char kGetElementNoParameter[] = "KCCommand::GetElement(1) パラメータイテレータ取得に失敗\n";
constexpr char kGetElementOutOfRange[] = "KCCommand::GetElement(2) 要素取得位置が最大数を超えた\n";
constexpr char kGetElemSizeNoParameter[] = "KCCommand::GetElemSize(1) パラメータイテレータ取得に失敗\n";
constexpr char kDeleteElementEmpty[] = "KCCommand::DeleteElement(1) 削除要素位置が最大数を超えた\n";
constexpr char kDeleteElementNoParameter[] = "KCCommand::DeleteElement(2) パラメータイテレータ取得に失敗\n";
constexpr char kDeleteParameterEmpty[] = "KCCommand::DeleteParameter(1) 削除パラメータ位置が最大数を超えた\n";
constexpr char kDeleteParameterNoParameter[] = "KCCommand::DeleteParameter(2) パラメータイテレータ取得に失敗\n";
constexpr char kAliasExists[] = "コマンド \"%s\" は既に定義されています\n";
constexpr char kAliasNotAllowed[] = "このコマンドは設定できません\n";

// The word that stands for a statement the setup phase does not know: it is
// put in front of the statement and removed again as if it were the command
// word, so the statement is compiled as calc with all of its words.
constexpr char kSetupPlaceholder[] = "calc";

}  // namespace

KCCommand::KCCommand(KCSystem& sys) : sys_(sys) {}
KCCommand::~KCCommand() = default;

// --- The current statement.

CommandParameter* KCCommand::GetParamItr(uint32_t parameter) {
  if (parameter >= statement_.size()) {
    sys_.log.InternalError(kParamItrFailed);
    return nullptr;
  }
  return &statement_[parameter];
}

bool KCCommand::GetElement(uint32_t parameter, uint32_t element, CommandElement* out) {
  const CommandParameter* param = GetParamItr(parameter);
  if (param == nullptr) {
    sys_.log.InternalError(kGetElementNoParameter);
    return false;
  }
  if (element >= param->size()) {
    sys_.log.InternalError(kGetElementOutOfRange);
    return false;
  }
  *out = (*param)[element];
  return true;
}

uint32_t KCCommand::MissingElemSize(uint32_t parameter) {
  GetParamItr(parameter);  // reports
  sys_.log.InternalError(kGetElemSizeNoParameter);
  return 0;
}

bool KCCommand::DeleteElement() {
  if (GetElemSize(0) == 0) {
    sys_.log.InternalError(kDeleteElementEmpty);
    return false;
  }
  CommandParameter* param = GetParamItr(0);
  if (param == nullptr) {
    sys_.log.InternalError(kDeleteElementNoParameter);
    return false;
  }
  param->erase(param->begin());
  if (param->empty()) DeleteParameter();
  return true;
}

void KCCommand::DeleteParameter() {
  if (statement_.size() == 0) {
    sys_.log.InternalError(kDeleteParameterEmpty);
    return;
  }
  if (GetParamItr(0) == nullptr) {
    sys_.log.InternalError(kDeleteParameterNoParameter);
    return;
  }
  // The removed parameter moves behind the statement, emptied.
  statement_.RotateFrontToBack();
  statement_.DropLast();
}

void KCCommand::AppendParameter(CommandParameter parameter) {
  statement_.AppendEmpty() = std::move(parameter);
}

void KCCommand::InsertParameterFront(CommandParameter parameter) {
  AppendParameter(std::move(parameter));
  statement_.RotateBackToFront();
}

// --- The block stack.

void KCCommand::PushBlock(const BlockRecord& record) {
  blocks_.push_back(record);
}

BlockRecord KCCommand::PopBlock() {
  if (blocks_.empty()) return BlockRecord{};
  BlockRecord top = blocks_.back();
  blocks_.pop_back();
  return top;
}

BlockRecord KCCommand::TopBlock() const {
  if (blocks_.empty()) return BlockRecord{};
  return blocks_.back();
}

// --- Command tables and aliases.

void KCCommand::NameTable::Reset(size_t count) {
  size_t size = 1;
  while (size < 2 * count) size *= 2;
  slots_.assign(size, Slot{});
}

void KCCommand::NameTable::Add(std::string_view name, int32_t id) {
  const size_t hash = NameHash{}(name);
  Slot& slot = slots_[SlotOf(name, hash)];
  if (slot.name.data() != nullptr) return;
  slot.name = name;
  slot.hash = static_cast<uint32_t>(hash);
  slot.id = id;
}

int32_t KCCommand::NameTable::Find(std::string_view name) const {
  if (slots_.empty()) return CmdInvalid;
  return slots_[SlotOf(name, NameHash{}(name))].id;
}

size_t KCCommand::NameTable::SlotOf(std::string_view name, size_t hash) const {
  const size_t mask = slots_.size() - 1;
  for (size_t i = hash & mask;; i = (i + 1) & mask) {
    const Slot& slot = slots_[i];
    if (slot.name.data() == nullptr) return i;
    if (slot.hash == static_cast<uint32_t>(hash) && slot.name == name) return i;
  }
}

void KCCommand::InitCommandTable() {
  command_table_.Reset(kCommandCount);
  setup_commands_ = std::make_unique<NameTable>();
  setup_commands_->Reset(kSetupCommandCount);
  size_t next_setup = 0;
  for (int32_t id = 0; id < kCommandCount; ++id) {
    const std::string_view name = kCommands[id].name;
    command_table_.Add(name, id);
    if (next_setup < kSetupCommandIds.size() && kSetupCommandIds[next_setup] == id) {
      setup_commands_->Add(name, id);
      ++next_setup;
    }
  }
}

void KCCommand::DeleteSetupCommands() { setup_commands_.reset(); }

int32_t KCCommand::GetCommandId(std::string_view word) {
  const int32_t id = PeekCommandId(word);
  if (id != CmdInvalid || setup_commands_ == nullptr) return id;

  CommandElement placeholder;
  placeholder.kind = ElemString;
  placeholder.text = kSetupPlaceholder;
  InsertParameterFront(CommandParameter{std::move(placeholder)});
  return cmd::kCalc;
}

int32_t KCCommand::PeekCommandId(std::string_view word) const {
  if (setup_commands_ == nullptr) {
    const int32_t id = command_table_.Find(word);
    return id != CmdInvalid ? id : FindAliasId(word);
  }
  const int32_t id = setup_commands_->Find(word);
  if (id != CmdInvalid) return id;
  const int32_t alias = FindAliasId(word);
  return alias != CmdInvalid && IsSetupCommandId(alias) ? alias : CmdInvalid;
}

int32_t KCCommand::FindCommandId(std::string_view name) const {
  return command_table_.Find(name);
}

int32_t KCCommand::FindAliasId(std::string_view name) const {
  if (alias_observer_ != nullptr) alias_observer_->OnAliasLookup(name);
  if (alias_ids_.empty()) return CmdInvalid;  // the usual case: no new_command
  const auto found = alias_ids_.find(name);
  return found == alias_ids_.end() ? CmdInvalid : found->second;
}

bool KCCommand::IsSetupCommandId(int32_t id) const {
  return setup_commands_ != nullptr &&
         std::binary_search(kSetupCommandIds.begin(), kSetupCommandIds.end(), id);
}

bool KCCommand::AddAlias(std::string_view target, std::string_view alias) {
  return AddAliasId(FindCommandId(target), alias);
}

bool KCCommand::AddAliasId(int32_t id, std::string_view alias) {
  if (alias_observer_ != nullptr) alias_observer_->OnAllAliasesRead();
  if (FindAliasId(alias) != CmdInvalid) {
    sys_.log.Warning(kAliasExists, {alias});
    return true;
  }
  // Only built-in commands can be renamed: an alias of an internal code would
  // make command reading take a statement for a label, an end of file or an
  // error limit.
  if (id < 0 || id >= kCommandCount) {
    sys_.log.Error(kAliasNotAllowed);
    return false;
  }
  // An id keeps its first alias; a later one is dropped without a message.
  if (sys_.carried.aliases.emplace(id, std::string(alias)).second) {
    alias_ids_.emplace(std::string(alias), id);
  }
  return true;
}

const std::map<int32_t, std::string>& KCCommand::Aliases() const {
  if (alias_observer_ != nullptr) alias_observer_->OnAllAliasesRead();
  return sys_.carried.aliases;
}

void KCCommand::IndexAliases() {
  alias_ids_.clear();
  for (const auto& [id, alias] : sys_.carried.aliases) alias_ids_.emplace(alias, id);
}

ParamCount KCCommand::GetParamCountEntry(int32_t id) const {
  if (id < 0 || id >= kCommandCount) return ParamCount{0, 0};
  return kCommands[id].count;
}

}  // namespace kv
