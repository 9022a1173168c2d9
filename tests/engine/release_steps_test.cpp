#include "engine/release_steps.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/fake_run_test.h"

namespace tabsync::engine {
namespace {

class ReleaseStepsTest : public test::FakeRunTest {
 protected:
  ReleaseStepsTest() {
    files_.AddFolder("/db");
    log_.SetLogFilePath("/db/Stabmerge.log");
  }

  ReleaseStep Step(const std::string& name, int error = 0, bool merges = false) {
    return {[this, name, error](UpdateContext&) {
              ran_.push_back(name);
              if (error != 0) throw Error(error, name + " failed");
            },
            merges};
  }

  std::string LogText() const { return files_.GetFile("/db/Stabmerge.log").content; }

  std::vector<std::string> ran_;
};

TEST_F(ReleaseStepsTest, FailingStepIsLoggedAndTheNextOneRuns) {
  bool merged = RunReleaseSteps(context_, {Step("rename", 3010), Step("insert"), Step("merge", 0, true)});
  EXPECT_EQ((std::vector<std::string>{"rename", "insert", "merge"}), ran_);
  EXPECT_EQ("12-07-2026 09:05:31  ERROR 3010: rename failed\r\n", LogText());
  EXPECT_TRUE(context_.ErrorsDetected());
  EXPECT_TRUE(merged);
}

TEST_F(ReleaseStepsTest, FailedMergeStepIsReported) {
  EXPECT_FALSE(RunReleaseSteps(context_, {Step("delete strings"), Step("merge", 3022, true)}));
  EXPECT_EQ("12-07-2026 09:05:31  ERROR 3022: merge failed\r\n", LogText());
}

TEST_F(ReleaseStepsTest, StepsWithoutFailureLeaveNoTrace) {
  EXPECT_TRUE(RunReleaseSteps(context_, {Step("a"), Step("b", 0, true)}));
  EXPECT_FALSE(files_.HasFile("/db/Stabmerge.log"));
  EXPECT_FALSE(context_.ErrorsDetected());
}

TEST_F(ReleaseStepsTest, ErrorsOtherThanTheEnginesPass) {
  ReleaseStep crash{[](UpdateContext&) { throw std::logic_error("bug"); }, false};
  EXPECT_THROW(RunReleaseSteps(context_, {crash}), std::logic_error);
}

TEST_F(ReleaseStepsTest, StepUsingAHandleBeforeAnyOpenFailsWith91) {
  ReleaseStep use{[](UpdateContext& context) { context.ExistingDatabase().Close(); }, false};
  RunReleaseSteps(context_, {use});
  EXPECT_EQ("12-07-2026 09:05:31  ERROR 91: Object variable or With block variable not set\r\n",
            LogText());
}

}  // namespace
}  // namespace tabsync::engine
