// Statements that steer what is compiled: the build-mode blocks debug_only
// (skipped: the converter builds the release form) and release_only
// (compiled as usual), labels, and the setup commands create_window, which
// ends the setup phase, and window_size, which only the setup phase accepts.
#include <algorithm>

#include "compile/func_set.h"
#include "compile/statement_handlers.h"
#include "context/kc_system.h"

namespace kv {
namespace {

constexpr std::string_view kMsgDebugOnlyEndNoDebugOnly =
    "debug_only_end に対応する \"%s\" が見つかりませんでした\n";
constexpr std::string_view kMsgReleaseOnlyEndNoReleaseOnly =
    "release_only_end に対応する \"%s\" が見つかりませんでした\n";
constexpr std::string_view kMsgNotInMainPhase = "\"%s\" メイン処理中には使用できないコマンドです\n";

}  // namespace

bool StatementHandlers::DebugOnly() {
  if (!ExpectParamCount(0)) return false;
  Push(BlockRecord{BlkDebugOnly, 0, 0, 0});
  return true;
}

bool StatementHandlers::DebugOnlyEnd() {
  if (!ExpectParamCount(0)) return false;
  // A record of another block stays where it is, for its own closer.
  if (command_.BlockDepth() == 0 || (command_.TopBlock().flags & BlkDebugOnly) == 0) {
    sys_.log.Error(kMsgDebugOnlyEndNoDebugOnly, {"debug_only"});
    return false;
  }
  command_.PopBlock();
  return true;
}

bool StatementHandlers::ReleaseOnly() {
  if (!ExpectParamCount(0)) return false;
  Push(BlockRecord{BlkReleaseOnly, 0, 0, 0});
  return true;
}

bool StatementHandlers::ReleaseOnlyEnd() {
  if (!ExpectParamCount(0)) return false;
  // The release_only record is transparent: blocks opened inside it stay
  // open, and only the record itself is removed.
  std::vector<BlockRecord> held;  // nearest the top first
  while (command_.BlockDepth() > 0) {
    const BlockRecord record = command_.PopBlock();
    if (record.flags & BlkReleaseOnly) {
      std::reverse(held.begin(), held.end());
      PushBack(held);
      return true;
    }
    held.push_back(record);
  }
  std::reverse(held.begin(), held.end());
  PushBack(held);  // nothing matched: the stack stays as it was
  sys_.log.Error(kMsgReleaseOnlyEndNoReleaseOnly, {"release_only"});
  return false;
}

bool StatementHandlers::Label() {
  if (!ExpectParamCount(1)) return false;
  const CommandElement* label = SingleElement(0);
  if (label == nullptr) return false;
  // Nothing is written: the label names the index of the next command.
  sys_.AddLabel(label->text, label->offset);
  return true;
}

bool StatementHandlers::ReadCmdCreateWindow() {
  if (!ExpectParamCount(0)) return false;
  if (!funcs_.OutCommand(cmd::kCreateWindow, "ReadCmdCreateWindow(1)", 0, 0)) return false;
  // From the next statement on, names resolve through the full table.
  command_.DeleteSetupCommands();
  sys_.script.setupPhase = false;
  return true;
}

bool StatementHandlers::ReadCmdWindowSize() {
  if (!sys_.script.setupPhase) {
    sys_.log.Error(kMsgNotInMainPhase, {"window_size"});
    return false;
  }
  if (!ExpectParamCount(2)) return false;
  return funcs_.OutCommand(cmd::kWindowSize, "ReadCmdWindowSize(1)", 2, 2);
}

}  // namespace kv
