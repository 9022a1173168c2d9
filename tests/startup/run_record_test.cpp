// The record an update run leaves in the backup history, for each way it
// ends: the engine's run over fakes, stopped by a fake signal.

#include <csignal>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/catalogue.h"
#include "engine/update_context.h"
#include "engine/update_run.h"
#include "install/backup_history.h"
#include "startup/main_flow.h"
#include "startup/site_tools.h"
#include "support/fake_database_engine.h"
#include "support/fake_install_test.h"
#include "support/fake_shared_files_store.h"
#include "support/fixed_clock.h"

namespace tabsync::startup {
namespace {

using Strings = std::vector<std::string>;

constexpr char kShared[] = "/srv/shared/Infrastructure/DB/";

// SIGINT or SIGTERM, caught before the check number `after` + 1.
class FakeStopSignals : public platform::StopSignals {
 public:
  FakeStopSignals(int after, int signal) : after_(after), signal_(signal) {}
  void Catch() override { caught_ = true; }
  int Caught() const override { return caught_ && ++checks_ > after_ ? signal_ : 0; }

 private:
  int after_, signal_;
  bool caught_ = false;
  mutable int checks_ = 0;
};

struct EndingCase {
  const char* name;
  int stop_after;  // databases begun before the signal; -1: none comes
  int signal;
  const char* failing_close;  // a database whose commit fails; "" none
  int status;
  int errors;
  std::string ending;
  Strings outcomes;  // "updated", "not-updated", "not-reached" in catalogue order
};

void PrintTo(const EndingCase& c, std::ostream* out) { *out << c.name; }

class RunRecordTest : public test::FakeInstallTest,
                      public ::testing::WithParamInterface<EndingCase> {
 protected:
  RunRecordTest() {
    share_.Register("/srv/shared");
    for (const engine::CatalogueEntry& entry : engine::DatabaseCatalogue) {
      files_.AddFile(kShared + std::string(entry.file_name), "in use");
      files_.AddFile("/inst/DB/" + std::string(entry.file_name), "update");
      registrations_.Register(entry.data_source_name, kShared + std::string(entry.file_name));
    }
    engine_.CommitInto(&files_);
    ui_.AnswerQuestions({platform::MessageAnswer::kYes});
  }

  int Main(platform::StopSignals* stop) {
    MainPlatform platform{platform_, share_, clock_,
                          [this, stop](log::RunLog& log, install::BackupHistory& history,
                                       const platform::RegistrationStore& store,
                                       const std::string& folder) {
                            engine::UpdateContext context(engine_, files_, store, log, history);
                            context.SetReleaseSteps(
                                [](engine::UpdateContext&, const std::string&) { return true; });
                            context.SetStopCheck([stop] { return stop->Caught(); });
                            engine::UpdateAllDatabases(context, folder);
                            return RunOutcome{context.ErrorsDetected(), 0, context.ErrorCount(),
                                              context.Completed(), context.StoppedBy()};
                          }};
    platform.stop = stop;
    return startup::Main(platform, "/inst/DB");
  }

  test::FakeSharedFilesStore share_;
  test::FixedClock clock_{{2026, 12, 8, 9, 5, 31}};
  test::FakeDatabaseEngine engine_;
};

TEST_P(RunRecordTest, EachEndingIsRecorded) {
  const EndingCase& c = GetParam();
  if (*c.failing_close != '\0') engine_.FailClose(kShared + std::string(c.failing_close), 3000);
  FakeStopSignals stop(c.stop_after < 0 ? 1000 : c.stop_after, c.signal);
  EXPECT_EQ(c.status, Main(&stop));

  std::vector<install::RecordedRun> runs = install::ReadRecordedRuns(files_, kShared);
  ASSERT_EQ(1u, runs.size());
  const install::RunRecord& record = runs[0].record;
  EXPECT_EQ("update", record.kind);
  EXPECT_EQ(ProgramVersion(), record.version);
  EXPECT_EQ("2026-12-08 09:05:31", record.end);
  EXPECT_EQ(c.ending, record.ending);
  Strings outcomes;
  for (const install::DatabaseOutcome& db : record.databases) outcomes.push_back(db.outcome);
  EXPECT_EQ(c.outcomes, outcomes);
  EXPECT_EQ(c.errors, record.errors);
  // A database not updated says why: its last error line, blanks off.
  for (const install::DatabaseOutcome& db : record.databases) {
    EXPECT_EQ(db.outcome == "not-updated" ? "!ERROR database not updated, it could not be opened "
                                            "exclusively: " + std::string(kShared) + db.file
                                          : "",
              db.why);
  }
  std::string log = files_.GetFile(std::string(kShared) + "Stabmerge.log").content;
  EXPECT_EQ(c.stop_after < 0, log.find("## END UPDATING") != std::string::npos);
  if (c.stop_after >= 0) {
    std::string line = "## STOPPED BY SIGNAL " + std::to_string(c.signal) + " BEFORE " +
                       engine::DatabaseCatalogue[c.stop_after].file_name + "\r\n";
    EXPECT_NE(std::string::npos, log.find(line)) << log;
  }
}

const Strings kAllUpdated(6, "updated");

INSTANTIATE_TEST_SUITE_P(
    Endings, RunRecordTest,
    ::testing::Values(
        EndingCase{"Done", -1, 0, "", kExitSuccess, 0, "done", kAllUpdated},
        EndingCase{"Errors", -1, 0, "users.mdb", kExitErrorsDetected, 2, "errors",
                   {"updated", "updated", "updated", "updated", "updated", "not-updated"}},
        EndingCase{"Sigint", 2, SIGINT, "", 130, 0, "signal 2",
                   {"updated", "updated", "not-reached", "not-reached", "not-reached",
                    "not-reached"}},
        EndingCase{"SigtermBeforeTheFirst", 0, SIGTERM, "", 143, 0, "signal 15",
                   Strings(6, "not-reached")}),
    [](const ::testing::TestParamInfo<EndingCase>& info) { return info.param.name; });

}  // namespace
}  // namespace tabsync::startup
