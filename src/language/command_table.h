#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace kv {

// Allowed parameter counts of a command. {0,0}: none; {n>0,0}: n to 255; {a,b>0}: a to b.
// A statement whose parameter count lies outside its command's range.
inline constexpr std::string_view kMsgWrongParamCount = "コマンドパラメータの指定数が間違っています\n";

struct ParamCount {
  int32_t min;
  int32_t max;
};

struct CommandInfo {
  std::string_view name;
  ParamCount count;
};

inline constexpr int kCommandCount = 604;
inline constexpr int kSetupCommandCount = 82;

// Internal codes, sharing the number range with the command ids.
enum : int32_t {
  CmdDone = 604,
  CmdLabel = 605,
  CmdSysGoto = 606,
  CmdImplicitText = 607,
  CmdEndOfFile = 608,
  CmdErrorLimit = 609,
  CmdInvalid = 610,
};

// The vocabulary in id order: kCommands[id] is command `id`. Ids are written
// into script objects and may never be renumbered.
extern const std::array<CommandInfo, kCommandCount> kCommands;

// The kinds of the game's files (context/kc_system.h).
enum class FileKind : uint8_t;

// What file a string in parameter `parameter` (0-based) of command `id`
// names, as the command takes it: a picture, sound, movie or script; none
// for a parameter that takes no file of the game.
std::optional<FileKind> FileParameterKind(int32_t id, size_t parameter);

// Ids accepted during the setup phase, ascending.
extern const std::array<int32_t, kSetupCommandCount> kSetupCommandIds;

// Ids of commands used by name elsewhere in the code.
namespace cmd {
inline constexpr int32_t kValue = 0;
inline constexpr int32_t kGlobalValue = 1;
inline constexpr int32_t kLocalValue = 2;
inline constexpr int32_t kString = 3;
inline constexpr int32_t kGlobalString = 4;
inline constexpr int32_t kLocalString = 5;
inline constexpr int32_t kCalc = 7;
inline constexpr int32_t kText = 15;
inline constexpr int32_t kGoto = 276;
inline constexpr int32_t kScriptLoad = 278;
inline constexpr int32_t kScriptChange = 279;
inline constexpr int32_t kIf = 281;
inline constexpr int32_t kElseIf = 282;
inline constexpr int32_t kElse = 283;
inline constexpr int32_t kEndIf = 284;
inline constexpr int32_t kLoop = 285;
inline constexpr int32_t kLoopExit = 286;
inline constexpr int32_t kLoopEnd = 287;
inline constexpr int32_t kFunctionDeclaration = 345;
inline constexpr int32_t kFunction = 346;
inline constexpr int32_t kFunctionCall = 347;
inline constexpr int32_t kFunctionExit = 350;
inline constexpr int32_t kFunctionEnd = 351;
inline constexpr int32_t kCreateWindow = 399;
inline constexpr int32_t kWindowSize = 400;
inline constexpr int32_t kNewCommand = 422;
inline constexpr int32_t kVoid = 438;
inline constexpr int32_t kVoidEnd = 439;
inline constexpr int32_t kEnd = 442;
inline constexpr int32_t kClearNewCommand = 580;
inline constexpr int32_t kDebugErrorIgnore = 594;
inline constexpr int32_t kDebugErrorStop = 595;
inline constexpr int32_t kDebugMessage = 596;
inline constexpr int32_t kDebugOnly = 597;
inline constexpr int32_t kDebugOnlyEnd = 598;
inline constexpr int32_t kReleaseOnly = 602;
inline constexpr int32_t kReleaseOnlyEnd = 603;
}  // namespace cmd

}  // namespace kv
