// Texts reported by both object writers.
#pragma once

namespace kv {

// An object file, or a media file to be packed, that cannot be opened.
inline constexpr char kObjectNameError[] =
    "\"%s\" 指定した名前が間違っている可能性があります\n間違っていない場合は内部エラーです\n";

}  // namespace kv
