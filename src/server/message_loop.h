// The server's two threads: a reader that takes messages off the input as
// they come and queues them (up to a bound in bytes), and this thread, which
// handles whatever has come in order and analyses once the input has been
// quiet for a moment, so that changes in quick succession lead to one
// analysis. A request cancelled by a message behind it in the queue is
// answered with RequestCancelled.
#pragma once

#include <chrono>
#include <cstddef>

#include "server/framing.h"
#include "server/language_server.h"

namespace kv {

// How long the input must be quiet after a change before the analysis runs.
inline constexpr std::chrono::milliseconds kQuietPause{30};

// Runs `server` over the messages of `reader` until exit or the end of the
// input (which counts as an exit); returns the exit status, 0 when shutdown
// came first. The reader runs
// on a thread of its own (started with StartThread), which has stopped when
// this returns.
// How many bytes of messages wait to be handled at most.
inline constexpr size_t kMaxQueuedBytes = size_t{128} << 20;

int RunMessageLoop(MessageReader& reader, LanguageServer& server,
                   std::chrono::milliseconds quiet_pause = kQuietPause,
                   size_t max_queued_bytes = kMaxQueuedBytes);

}  // namespace kv
