// Every failure of the platform, one at a time, over a whole installation
// flow and update run against fakes: the k-th call of the file system that
// may change something fails, or the k-th close (commit) of a database. Not
// one such failure may leave a database in use in a state that is neither
// its old nor its updated one, write into the update folder, lose a state
// that existed before the run, or end with exit status 0 without every
// database updated.

#include <algorithm>
#include <functional>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "engine/catalogue.h"
#include "engine/update_context.h"
#include "engine/update_run.h"
#include "startup/main_flow.h"
#include "support/gunzip.h"
#include "support/fake_database_engine.h"
#include "support/fake_file_system.h"
#include "support/fake_odbc_installer.h"
#include "support/fake_registration_store.h"
#include "support/fake_shared_files_store.h"
#include "support/fake_user_interface.h"
#include "support/fixed_clock.h"

namespace tabsync::startup {
namespace {

constexpr char kShared[] = "/srv/shared/Infrastructure/DB/";
constexpr char kUpdate[] = "/inst/DB/";

// A site with the six databases in use in the shared folder, an older backup
// and log beside them, and the update information; the operator answers Yes.
class Site {
 public:
  Site() {
    share_.Register("/srv/shared");
    for (const engine::CatalogueEntry& entry : engine::DatabaseCatalogue) {
      files_.AddFile(Shared(entry.file_name), Old(entry.file_name));
      files_.AddFile(kUpdate + std::string(entry.file_name), New(entry.file_name));
      store_.Register(entry.data_source_name, Shared(entry.file_name));
    }
    files_.AddFile(Shared("users.mdb.bak"), "older users backup");
    files_.AddFile(Shared("Stabmerge.log"), "last log");
    engine_.CommitInto(&files_);
    ui_.AnswerQuestions({platform::MessageAnswer::kYes});
  }

  static std::string Shared(const std::string& file) { return kShared + file; }
  static std::string Old(const std::string& file) { return "old " + file; }
  static std::string New(const std::string& file) { return "new " + file; }
  // What the update makes of each database: a data database commits its
  // session; a reference database is the update information, committed.
  static std::string Updated(const std::string& file) {
    std::string base = engine::IsDataDatabase(file) ? Old(file) : New(file);
    return base + test::FakeDatabaseEngine::kCommitMark;
  }

  int Main() {
    MainPlatform platform{{files_, store_, installer_, ui_}, share_, clock_,
                          [this](log::RunLog& log, install::BackupHistory& history,
                                 const platform::RegistrationStore& store,
                                 const std::string& folder) {
                            engine::UpdateContext context(engine_, files_, store, log, history);
                            // The fake databases hold no tables; the steps
                            // only succeed, so the run around them is tested.
                            context.SetReleaseSteps([](engine::UpdateContext&,
                                                       const std::string&) { return true; });
                            engine::UpdateAllDatabases(context, folder);
                            return RunOutcome{context.ErrorsDetected(), 0, 0};
                          }};
    return startup::Main(platform, "/inst/DB");
  }

  // Every content the fake file system holds.
  std::multiset<std::string> Contents() const {
    std::multiset<std::string> contents;
    std::function<void(const std::string&)> walk = [&](const std::string& folder) {
      for (const std::string& name : files_.ListFolder(folder)) {
        std::string path = folder + "/" + name;
        if (files_.HasFile(path)) {
          const std::string& content = files_.GetFile(path).content;
          bool gzip = path.size() > 3 && path.compare(path.size() - 3, 3, ".gz") == 0;
          contents.insert(gzip ? test::Gunzip(content) : content);
        } else if (files_.FolderExists(path)) {
          walk(path);
        }
      }
    };
    walk("/srv");
    return contents;
  }

  test::FakeFileSystem files_;
  test::FakeRegistrationStore store_;
  test::FakeOdbcInstaller installer_{store_};
  test::FakeUserInterface ui_;
  test::FakeSharedFilesStore share_;
  test::FixedClock clock_{{2026, 12, 8, 9, 5, 31}};
  test::FakeDatabaseEngine engine_;
};

// The checks after a run with one failure; `what` names the failure.
void ExpectNothingLost(Site& site, int status, const std::string& what) {
  bool all_updated = true;
  std::multiset<std::string> contents = site.Contents();
  for (const engine::CatalogueEntry& entry : engine::DatabaseCatalogue) {
    std::string file = entry.file_name;
    std::string now = site.files_.GetFile(Site::Shared(file)).content;
    EXPECT_TRUE(now == Site::Old(file) || now == Site::Updated(file)) << what << ": " << now;
    all_updated &= now == Site::Updated(file);
    EXPECT_TRUE(contents.count(Site::Old(file))) << what << ": lost " << Site::Old(file);
    EXPECT_EQ(Site::New(file), site.files_.GetFile(kUpdate + file).content) << what;
  }
  EXPECT_EQ(6u, site.files_.ListFolder(kUpdate).size()) << what;
  EXPECT_TRUE(contents.count("older users backup")) << what;
  EXPECT_TRUE(contents.count("last log")) << what;
  if (!all_updated) {
    EXPECT_NE(kExitSuccess, status) << what;
  }
}

TEST(FaultInjectionTest, NoFailedFileOperationLosesOrTearsAnything) {
  Site clean;
  ASSERT_EQ(kExitSuccess, clean.Main());
  ExpectNothingLost(clean, kExitSuccess, "no failure");
  const int calls = clean.files_.CallCount();
  ASSERT_GT(calls, 30);
  for (int k = 1; k <= calls; ++k) {
    for (int number : {61, 70}) {
      Site site;
      site.files_.FailCall(k, number);
      int status = site.Main();
      std::string what = "file call " + std::to_string(k) + " failing with " + std::to_string(number);
      ExpectNothingLost(site, status, what);
      // Every failure is of a call the run needs, but for its record (a
      // line of it, or the run folder that a later keep makes after all)
      // and the compression of the old log, which falls back to keeping it
      // as it is.
      if (status != kExitSuccess) continue;
      std::string failed;
      for (const std::string& action : site.files_.Actions())
        if (action.find(" FAILED") != std::string::npos) failed = action;
      EXPECT_TRUE(failed.find("/backups") != std::string::npos ||
                  failed.find("Stabmerge.log") != std::string::npos)
          << what << ": " << failed;
    }
  }
}

TEST(FaultInjectionTest, NoFailedCommitLosesOrTearsAnything) {
  Site clean;
  ASSERT_EQ(kExitSuccess, clean.Main());
  const int closes = static_cast<int>(std::count_if(
      clean.engine_.Actions().begin(), clean.engine_.Actions().end(),
      [](const std::string& action) { return action.rfind("close ", 0) == 0; }));
  // The first four close what the run read of the update information for
  // its record's release (accounting, users, config, resource: none tells
  // one in the fake); their failure only leaves the release out.
  constexpr int kReleaseReads = 4;
  ASSERT_EQ(kReleaseReads + 6 * 4, closes);
  for (int k = 1; k <= closes; ++k) {
    Site site;
    site.engine_.FailCloseCall(k, 3000);
    int status = site.Main();
    ExpectNothingLost(site, status, "close " + std::to_string(k));
    if (k > kReleaseReads) {
      EXPECT_NE(kExitSuccess, status) << "close " << k;
    }
  }
}

}  // namespace
}  // namespace tabsync::startup
