#include "server/message_loop.h"

#include <deque>
#include <thread>

#include "platform/mutex.h"
#include "platform/signals.h"

namespace kv {
namespace {

// Messages from the reader thread to this one; the end of the input is the
// last of them.
class MessageQueue {
 public:
  void Push(IncomingMessage message) LOCKS_EXCLUDED(mutex_) {
    {
      MutexLock lock(&mutex_);
      messages_.push_back(std::move(message));
    }
    ready_.Signal();
  }

  // The next message, waiting at most `wait` when it is given; false when
  // none came in that time.
  bool Pop(IncomingMessage* message, const std::chrono::milliseconds* wait) LOCKS_EXCLUDED(mutex_) {
    MutexLock lock(&mutex_);
    const auto deadline = std::chrono::steady_clock::now() + (wait ? *wait : std::chrono::milliseconds(0));
    while (messages_.empty()) {
      if (wait == nullptr) {
        ready_.Wait();
      } else if (!ready_.WaitUntil(deadline) && messages_.empty()) {
        return false;
      }
    }
    *message = std::move(messages_.front());
    messages_.pop_front();
    return true;
  }

 private:
  Mutex mutex_;
  CondVar ready_{&mutex_};
  std::deque<IncomingMessage> messages_ GUARDED_BY(mutex_);
};

}  // namespace

int RunMessageLoop(MessageReader& reader, LanguageServer& server,
                   std::chrono::milliseconds quiet_pause) {
  MessageQueue queue;
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
  for (;;) {
    IncomingMessage message;
    if (!queue.Pop(&message, server.analysis_pending() ? &quiet_pause : nullptr)) {
      server.AnalyseAndPublish();
      continue;
    }
    if (message.kind == IncomingMessage::Kind::kEnd) server.InputEnded();
    server.Handle(message);
    if (server.exited()) break;
  }
  reader_thread.join();
  return server.exit_status();
}

}  // namespace kv
