#include "platform/stop_signals.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace tabsync::platform {
namespace {

// In a child process: the first signal is only taken note of, the second
// ends the process at once: the same signal before the run has looked, the
// other one after it has.
TEST(StopSignalsTest, TheFirstSignalIsNotedAndTheSecondEndsTheProgram) {
  const struct {
    int first, second;
    bool looked;  // Caught() between the two
  } cases[] = {{SIGINT, SIGINT, false}, {SIGTERM, SIGINT, true}, {SIGINT, SIGTERM, true}};
  for (const auto& c : cases) {
    pid_t child = fork();
    if (child == 0) {
      std::unique_ptr<StopSignals> stop = NewStopSignals();
      if (stop->Caught() != 0) _exit(1);
      stop->Catch();
      raise(c.first);
      if (c.looked && stop->Caught() != c.first) _exit(2);
      raise(c.second);
      _exit(3);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFSIGNALED(status)) << c.first << " " << c.second << " exit " << WEXITSTATUS(status);
    EXPECT_EQ(c.second, WTERMSIG(status));
  }
}

}  // namespace
}  // namespace tabsync::platform
