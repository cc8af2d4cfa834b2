#include "platform/process_liveness.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

TEST(ProcessLiveness, ThisProcessRunsAndNoIdThatNoProcessHasDoes) {
  EXPECT_TRUE(ProcessIsRunning(CurrentProcessId()));
  EXPECT_FALSE(ProcessIsRunning(0));
  EXPECT_FALSE(ProcessIsRunning(-5));
  EXPECT_FALSE(ProcessIsRunning(int64_t{1} << 40));
}

}  // namespace
}  // namespace kv
