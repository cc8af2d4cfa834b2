#include "server/message_loop.h"

#include <deque>
#include <thread>

#include "platform/mutex.h"
#include "platform/signals.h"

namespace kv {
namespace {

// Messages from the reader thread to this one; the end of the input is the
// last of them. It holds at most `max_bytes` of message bodies (or one
// message, whatever its size): the reader waits while it is full, so that a
// client that sends faster than the server analyses cannot make it hold
// texts without bound.
class MessageQueue {
 public:
  explicit MessageQueue(size_t max_bytes) : max_bytes_(max_bytes) {}

  void Push(IncomingMessage message) LOCKS_EXCLUDED(mutex_) {
    {
      MutexLock lock(&mutex_);
      while (bytes_ != 0 && bytes_ + message.bytes > max_bytes_) room_.Wait();
      bytes_ += message.bytes;
      messages_.push_back(std::move(message));
    }
    ready_.Signal();
  }

  // Every message queued, waiting for one at most `wait` when it is given;
  // false when none came in that time.
  bool PopAll(std::deque<IncomingMessage>* messages, const std::chrono::milliseconds* wait)
      LOCKS_EXCLUDED(mutex_) {
    {
      MutexLock lock(&mutex_);
      const auto deadline =
          std::chrono::steady_clock::now() + (wait ? *wait : std::chrono::milliseconds(0));
      while (messages_.empty()) {
        if (wait == nullptr) {
          ready_.Wait();
        } else if (!ready_.WaitUntil(deadline) && messages_.empty()) {
          return false;
        }
      }
      messages->swap(messages_);
      messages_.clear();
      bytes_ = 0;
    }
    room_.Signal();
    return true;
  }

 private:
  const size_t max_bytes_;
  Mutex mutex_;
  CondVar ready_{&mutex_};
  CondVar room_{&mutex_};
  std::deque<IncomingMessage> messages_ GUARDED_BY(mutex_);
  size_t bytes_ GUARDED_BY(mutex_) = 0;
};

// The id of a $/cancelRequest notification, or null.
const Json* CancelledId(const IncomingMessage& message) {
  if (message.kind != IncomingMessage::Kind::kMessage || !message.value.is_object()) return nullptr;
  std::string method;
  const Json* params = Member(message.value, "params");
  if (!StringMember(message.value, "method", &method) || method != "$/cancelRequest" ||
      Member(message.value, "id") != nullptr || params == nullptr) {
    return nullptr;
  }
  return Member(*params, "id");
}

}  // namespace

int RunMessageLoop(MessageReader& reader, LanguageServer& server,
                   std::chrono::milliseconds quiet_pause, size_t max_queued_bytes) {
  MessageQueue queue(max_queued_bytes);
  // The reader stops after the end or an exit notification, so that it
  // never waits on the input beyond the server's life.
  std::thread reader_thread = StartThread([&] {
    for (;;) {
      IncomingMessage message = reader.Next();
      const bool last = message.kind == IncomingMessage::Kind::kEnd || IsExitNotification(message);
      queue.Push(std::move(message));
      if (last) return;
    }
  });
  // Whatever has come is handled before the analysis runs: every edit is
  // applied first, and a request that a later message cancels is answered
  // as cancelled rather than worked out.
  std::deque<IncomingMessage> batch;
  while (!server.exited()) {
    if (!queue.PopAll(&batch, server.analysis_pending() ? &quiet_pause : nullptr)) {
      server.AnalyseAndPublish();
      continue;
    }
    for (const IncomingMessage& message : batch) {
      if (const Json* id = CancelledId(message)) server.CancelPending(*id);
    }
    for (const IncomingMessage& message : batch) {
      if (message.kind == IncomingMessage::Kind::kEnd) server.InputEnded();
      server.Handle(message);
      if (server.exited()) break;
    }
    batch.clear();
  }
  reader_thread.join();
  return server.exit_status();
}

}  // namespace kv
