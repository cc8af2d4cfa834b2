// The six declaration commands (value, global_value, local_value, string,
// global_string, local_string). A parameter may hold several expressions
// separated by '@'; they are compiled one after the other and written as one
// parameter whose item count is patched in once the pieces are written.
#include "compile/func_set.h"
#include "compile/statement_handlers.h"
#include "context/kc_system.h"

namespace kv {
namespace {

constexpr uint8_t kCountPlaceholder = 0xFF;

}  // namespace

bool StatementHandlers::NGLVariable(int32_t id) {
  const uint32_t n = command_.GetParamCount();
  constexpr int32_t kMost = static_cast<int32_t>(kMaxItemCount);
  if (n == 0) {
    funcs_.WrongParamCount(id, n, 1, kMost);
    return false;
  }
  if (!funcs_.OutCmdName(id, "NGLVariable(1)")) return false;
  if (n > kMaxItemCount) {
    funcs_.WrongParamCount(id, n, 1, kMost);
    return false;
  }
  if (!funcs_.OutChar(static_cast<uint8_t>(n), "NGLVariable(1)")) return false;
  KCFile* object = sys_.script.currentObject;  // present: the writes above succeeded
  for (uint32_t i = 0; i < n; ++i) {
    const uint32_t start = object->position;
    const uint32_t m = command_.GetElemSize(i);
    if (!funcs_.OutChar(kCountPlaceholder, "NGLVariable(2)")) return false;
    uint32_t total = 0;
    uint32_t j = 0;
    while (j < m) {
      uint32_t items = 0;
      if (!funcs_.Condition(&j, i, &items)) return false;
      total += items;
      // The count is one byte; the pieces together may not exceed it.
      if (total > kMaxItemCount) {
        sys_.log.Error(kMsgTooManyItems);
        return false;
      }
    }
    if (!funcs_.PatchChar(start, static_cast<uint8_t>(total), "NGLVariable(4)")) return false;
  }
  funcs_.CommitEntries();
  return true;
}

}  // namespace kv
