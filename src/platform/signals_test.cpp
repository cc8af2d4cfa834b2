#include "platform/signals.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#ifndef _WIN32
#include <signal.h>
#endif

namespace kv {
namespace {

std::vector<std::string> g_removed;

std::vector<std::string> TakeRegistered() {
  g_removed.clear();
  ForEachTemporaryFile([](const char* path) { g_removed.push_back(path); });
  return g_removed;
}

TEST(InterruptCleanupTest, SlotsKeepTheirOwnCopyAndAreTakenOnce) {
  auto forgotten = std::make_unique<std::string>("/game/image.kvo.tmp-1");
  const int gone = RegisterTemporaryFile(*forgotten);
  auto kept = std::make_unique<std::string>("/game/script.kvo.tmp-2");
  const int slot = RegisterTemporaryFile(*kept);
  ASSERT_GE(gone, 0);
  ASSERT_GE(slot, 0);
  ForgetTemporaryFile(gone);
  // The owner's text is overwritten and freed: the cleanup still has the path.
  kept->assign(kept->size(), 'x');
  kept.reset();
  forgotten.reset();
  EXPECT_EQ(TakeRegistered(), std::vector<std::string>{"/game/script.kvo.tmp-2"});
  // Taken by the cleanup, the slot is neither offered again nor reused.
  ForgetTemporaryFile(slot);
  EXPECT_NE(RegisterTemporaryFile("/game/audio.kvo.tmp-3"), slot);
  EXPECT_EQ(TakeRegistered(), std::vector<std::string>{"/game/audio.kvo.tmp-3"});
  EXPECT_EQ(RegisterTemporaryFile(std::string(5000, 'a')), -1);
}

#ifndef _WIN32
bool InterruptsBlockedHere() {
  sigset_t mask;
  pthread_sigmask(SIG_BLOCK, nullptr, &mask);
  return sigismember(&mask, SIGINT) == 1 && sigismember(&mask, SIGTERM) == 1 &&
         sigismember(&mask, SIGHUP) == 1;
}

TEST(InterruptCleanupTest, ThreadsThatTheProgramStartsLeaveInterruptsToTheMainThread) {
  bool blocked_in_thread = false;
  std::thread thread = StartThread([&] { blocked_in_thread = InterruptsBlockedHere(); });
  thread.join();
  EXPECT_TRUE(blocked_in_thread);
  EXPECT_FALSE(InterruptsBlockedHere());
}
#endif

}  // namespace
}  // namespace kv
