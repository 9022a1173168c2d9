#include "engine/update_run.h"

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/catalogue.h"
#include "support/fake_run_test.h"

namespace tabsync::engine {
namespace {

using Lines = std::vector<std::string>;

constexpr char kUpdate[] = "/inst/DB/";
constexpr char kShared[] = "/share/DB/";
constexpr char kLogFile[] = "/share/DB/Stabmerge.log";
constexpr char kPrefix[] = "12-07-2026 09:05:31 ";
constexpr char kStars[] = "*********************************";

// The run against in-memory fakes: an update folder with all six databases,
// the six data sources registered in the shared folder, where all six
// databases are in use.
class UpdateRunTest : public test::FakeRunTest {
 protected:
  UpdateRunTest() {
    for (const CatalogueEntry& entry : DatabaseCatalogue) {
      files_.AddFile(std::string(kUpdate) + entry.file_name, std::string("new ") + entry.file_name);
      files_.AddFile(std::string(kShared) + entry.file_name, std::string("old ") + entry.file_name);
      store_.Register(entry.data_source_name, std::string(kShared) + entry.file_name);
    }
    log_.SetLogFilePath(kLogFile);
    // These tests are about the run around the release steps; the fake
    // databases have no tables for the release's own steps to work on.
    context_.SetReleaseSteps([](UpdateContext&, const std::string&) { return true; });
  }

  // The log file's lines without their date and time prefix (which every line
  // must have).
  Lines LogLines() {
    log_.Flush();
    Lines lines;
    const std::string& content = files_.GetFile(kLogFile).content;
    size_t start = 0;
    for (size_t end; (end = content.find("\r\n", start)) != std::string::npos; start = end + 2) {
      std::string line = content.substr(start, end - start);
      EXPECT_EQ(kPrefix, line.substr(0, 20)) << line;
      lines.push_back(line.substr(20));
    }
    EXPECT_EQ(content.size(), start) << "the log must end with a line end";
    return lines;
  }

  // The log lines of one database, from its row of asterisks to its
  // "DATABASE END: " line.
  Lines DatabaseLines(const std::string& fileName) {
    Lines all = LogLines();
    Lines lines;
    for (size_t i = 0; i < all.size(); ++i) {
      if (all[i] != kStars || i + 1 >= all.size()) continue;
      bool ours = false;
      for (size_t j = i + 1; j < all.size() && all[j] != kStars; ++j) {
        if (all[j] == "DATABASE END: " + fileName) ours = true;
      }
      if (!ours) continue;
      for (size_t j = i + 1; j < all.size() && all[j] != kStars && all[j] != "## END UPDATING"; ++j) {
        lines.push_back(all[j]);
      }
    }
    return lines;
  }

  // The actions that name the file or its working copy.
  static Lines ActionsOn(const Lines& all, const std::string& fileName) {
    Lines actions;
    for (const std::string& action : all) {
      if (action.find("/" + fileName) != std::string::npos ||
          action.find("/." + fileName) != std::string::npos)
        actions.push_back(action);
    }
    return actions;
  }
  Lines FileActions(const std::string& fileName) const {
    return ActionsOn(files_.Actions(), fileName);
  }
  Lines EngineActions(const std::string& fileName) const {
    return ActionsOn(engine_.Actions(), fileName);
  }

  static std::string Working(const std::string& fileName) {
    return "/share/DB/." + fileName + ".tabsync-merge";
  }

  // The check of the update information, the open that checks and settles
  // the database before its backup, then the two sessions of the update.
  static Lines OpenedAndClosed(const std::string& fileName) {
    Lines settle = {"open /inst/DB/" + fileName + " immutable", "close /inst/DB/" + fileName,
                    "open /share/DB/" + fileName + " discarding", "close /share/DB/" + fileName};
    Lines update;
    if (IsDataDatabase(fileName)) {
      update = {"open /share/DB/" + fileName + " exclusive",
                "open /inst/DB/" + fileName + " immutable", "close /inst/DB/" + fileName,
                "close /share/DB/" + fileName};
    } else {
      update = {"open /share/DB/" + fileName + " discarding",
                "open " + Working(fileName) + " exclusive", "close " + Working(fileName),
                "close /share/DB/" + fileName};
    }
    settle.insert(settle.end(), update.begin(), update.end());
    return settle;
  }

};

TEST_F(UpdateRunTest, RunLogsEachDatabaseInCatalogueOrder) {
  UpdateAllDatabases(context_, "/inst/DB");
  Lines expected = {"## BEGIN UPDATING"};
  for (const CatalogueEntry& entry : DatabaseCatalogue) {
    std::string file = entry.file_name;
    std::string source = entry.data_source_name;
    expected.push_back(kStars);
    expected.push_back("DATABASE START: " + file);
    if (!IsDataDatabase(file)) {
      expected.push_back("Database '" + source + "' with merge information: /share/DB/" + file);
      expected.push_back("Database '" + source + "' with DB to be updated: /inst/DB/" + file);
    }
    expected.push_back("DATABASE END: " + file);
  }
  expected.push_back("## END UPDATING");
  EXPECT_EQ(expected, LogLines());
  // The hidden window holds the same lines, without date and time.
  std::string window = "Updating log..";
  for (const std::string& line : expected) window += "\r\n" + line;
  EXPECT_EQ(window, log_.frmLog().Text());
  EXPECT_FALSE(log_.frmLog().Visible());
  EXPECT_FALSE(context_.ErrorsDetected());
  EXPECT_EQ("users.mdb", context_.CurrentDatabaseFile());
}

TEST_F(UpdateRunTest, DataDatabaseIsBackedUpOpenedAndClosed) {
  UpdateAllDatabases(context_, "/inst/DB/");
  EXPECT_EQ(Lines{"copy /share/DB/users.mdb -> /share/DB/users.mdb.bak"}, FileActions("users.mdb"));
  EXPECT_EQ(OpenedAndClosed("users.mdb"), EngineActions("users.mdb"));
  EXPECT_EQ("old users.mdb", files_.GetFile("/share/DB/users.mdb.bak").content);
  EXPECT_FALSE(files_.HasFile("/inst/DB/users.mdb.bak"));
}

TEST_F(UpdateRunTest, ReferenceDatabaseIsMergedInAWorkingCopyThatReplacesIt) {
  files_.AddFile("/share/DB/config.mdb", "old config.mdb", true);
  UpdateAllDatabases(context_, "/inst/DB/");
  EXPECT_EQ((Lines{"copy /share/DB/config.mdb -> /share/DB/config.mdb.bak",
                   "copy /inst/DB/config.mdb -> " + Working("config.mdb"),
                   "copy owner /share/DB/config.mdb -> " + Working("config.mdb"),
                   "replace /share/DB/config.mdb by " + Working("config.mdb")}),
            FileActions("config.mdb"));
  // The replacement took the owner and mode of the file it replaced.
  EXPECT_TRUE(files_.GetFile("/share/DB/config.mdb").read_only);
  EXPECT_EQ(OpenedAndClosed("config.mdb"), EngineActions("config.mdb"));
  EXPECT_EQ("new config.mdb", files_.GetFile("/share/DB/config.mdb").content);
  EXPECT_EQ("old config.mdb", files_.GetFile("/share/DB/config.mdb.bak").content);
  EXPECT_FALSE(files_.HasFile("/inst/DB/config.mdb.bak"));
}

TEST_F(UpdateRunTest, UpdateFolderGetsOneTrailingSlash) {
  UpdateAllDatabases(context_, "/inst/DB");
  EXPECT_EQ("open /inst/DB/accounting.mdb immutable", engine_.Actions()[0]);
  engine_ = test::FakeDatabaseEngine();
  UpdateAllDatabases(context_, "/inst/DB/");
  EXPECT_EQ("open /inst/DB/accounting.mdb immutable", engine_.Actions()[0]);
}

TEST_F(UpdateRunTest, ReleaseStepsRunBetweenOpensAndClosesWithTheBaseName) {
  Lines calls;
  context_.SetReleaseSteps([&](UpdateContext& context, const std::string& baseName) {
    calls.push_back(baseName + " " + engine_.Actions().back() + " " +
                    context.CurrentDatabaseFile());
    return true;
  });
  UpdateAllDatabases(context_, "/inst/DB/");
  EXPECT_EQ((Lines{"accounting open /inst/DB/accounting.mdb immutable accounting.mdb",
                   "availability open /inst/DB/availability.mdb immutable availability.mdb",
                   "config open " + Working("config.mdb") + " exclusive config.mdb",
                   "onlineshop open /inst/DB/onlineshop.mdb immutable onlineshop.mdb",
                   "resource open " + Working("resource.mdb") + " exclusive resource.mdb",
                   "users open /inst/DB/users.mdb immutable users.mdb"}),
            calls);
}

// The database that the run changes and keeps: the database in use for data
// databases, the working copy for reference databases.
TEST_F(UpdateRunTest, ChangedDatabasesAreBroughtToTheCurrentFormatBeforeTheirReleaseSteps) {
  Lines upgrades_at_steps;
  context_.SetReleaseSteps([&](UpdateContext&, const std::string& baseName) {
    upgrades_at_steps.push_back(baseName + " " + std::to_string(engine_.Upgrades().size()));
    return true;
  });
  UpdateAllDatabases(context_, "/inst/DB/");
  Lines expected;
  for (const CatalogueEntry& entry : DatabaseCatalogue) {
    std::string file = entry.file_name;
    expected.push_back(IsDataDatabase(file)
                           ? "/share/DB/" + file + " after open /inst/DB/" + file + " immutable"
                           : Working(file) + " after open " + Working(file) + " exclusive");
  }
  EXPECT_EQ(expected, engine_.Upgrades());
  EXPECT_EQ((Lines{"accounting 1", "availability 2", "config 3", "onlineshop 4", "resource 5",
                   "users 6"}),
            upgrades_at_steps);
}

TEST_F(UpdateRunTest, FailedUpgradeIsLoggedAndTheReleaseStepsRunAllTheSame) {
  engine_.FailUpgrade("/share/DB/users.mdb", 3000);
  Lines steps;
  context_.SetReleaseSteps([&](UpdateContext&, const std::string& baseName) {
    steps.push_back(baseName);
    return true;
  });
  UpdateAllDatabases(context_, "/inst/DB/");
  EXPECT_EQ((Lines{"DATABASE START: users.mdb", " ERROR 3000: upgrade failed",
                   "DATABASE END: users.mdb"}),
            DatabaseLines("users.mdb"));
  EXPECT_EQ("users", steps.back());
  EXPECT_TRUE(context_.ErrorsDetected());
}

// Only the update information is opened, for its check.
TEST_F(UpdateRunTest, MissingDatabaseIsCopiedWholeWithoutBackup) {
  files_.DeleteFile("/share/DB/onlineshop.mdb", true);
  UpdateAllDatabases(context_, "/inst/DB/");
  EXPECT_EQ((Lines{"DATABASE START: onlineshop.mdb", " COPY WHOLE DATABASE onlineshop.mdb",
                   "DATABASE END: onlineshop.mdb"}),
            DatabaseLines("onlineshop.mdb"));
  EXPECT_EQ((Lines{"delete /share/DB/onlineshop.mdb",
                   "copy /inst/DB/onlineshop.mdb -> /share/DB/onlineshop.mdb"}),
            FileActions("onlineshop.mdb"));
  // The release file is checked, and its copy opened exclusively once, which
  // takes it out of WAL mode.
  Lines checked = OpenedAndClosed("onlineshop.mdb");
  EXPECT_EQ((Lines{checked[0], checked[1], "open /share/DB/onlineshop.mdb exclusive",
                   "close /share/DB/onlineshop.mdb"}),
            EngineActions("onlineshop.mdb"));
  EXPECT_FALSE(context_.ErrorsDetected());
}

TEST_F(UpdateRunTest, MissingReferenceDatabaseIsCopiedWholeToo) {
  files_.DeleteFile("/share/DB/resource.mdb", true);
  UpdateAllDatabases(context_, "/inst/DB/");
  EXPECT_EQ((Lines{"DATABASE START: resource.mdb", " COPY WHOLE DATABASE resource.mdb",
                   "DATABASE END: resource.mdb"}),
            DatabaseLines("resource.mdb"));
  EXPECT_EQ("new resource.mdb", files_.GetFile("/share/DB/resource.mdb").content);
  EXPECT_FALSE(files_.HasFile("/inst/DB/resource.mdb.bak"));
}

TEST_F(UpdateRunTest, UnregisteredDataSourceIsSkippedNotLookedForInTheRoot) {
  test::FakeRegistrationStore store;
  for (const CatalogueEntry& entry : DatabaseCatalogue) {
    if (std::string(entry.data_source_name) != "Orbisdat") {
      store.Register(entry.data_source_name, std::string(kShared) + entry.file_name);
    }
  }
  UpdateContext context{engine_, files_, store, log_, history_};
  UpdateAllDatabases(context, "/inst/DB/");
  EXPECT_EQ((Lines{"DATABASE START: availability.mdb",
                   " !ERROR ODBC data source not registered: Orbisdat",
                   "DATABASE END: availability.mdb"}),
            DatabaseLines("availability.mdb"));
  EXPECT_FALSE(files_.HasFile("/availability.mdb"));
  EXPECT_TRUE(FileActions("availability.mdb").empty());
  EXPECT_TRUE(context.ErrorsDetected());
  EXPECT_EQ("## END UPDATING", LogLines().back());
}

TEST_F(UpdateRunTest, UpdateFolderThatIsTheDatabaseFolderIsSkipped) {
  files_.AddFolderAlias("/inst/link", "/inst/DB");
  store_.Register("Accounting", "/inst/link/accounting.mdb");
  store_.Register("Config", "/inst//DB/config.mdb");
  UpdateAllDatabases(context_, "/inst/DB/");
  EXPECT_EQ((Lines{"DATABASE START: accounting.mdb",
                   " !ERROR update folder and database folder are the same: /inst/link/",
                   "DATABASE END: accounting.mdb"}),
            DatabaseLines("accounting.mdb"));
  EXPECT_EQ((Lines{"DATABASE START: config.mdb",
                   " !ERROR update folder and database folder are the same: /inst//DB/",
                   "DATABASE END: config.mdb"}),
            DatabaseLines("config.mdb"));
  EXPECT_TRUE(FileActions("config.mdb").empty());
  EXPECT_TRUE(EngineActions("accounting.mdb").empty());
  EXPECT_TRUE(context_.ErrorsDetected());
  EXPECT_EQ("## END UPDATING", LogLines().back());
}

TEST_F(UpdateRunTest, MissingDataSourceFolderEndsTheRunAtTheWholeCopy) {
  store_.Register("Config", "/gone/config.mdb");
  UpdateAllDatabases(context_, "/inst/DB/");
  Lines lines = LogLines();
  EXPECT_EQ((Lines{kStars, " ERROR 76: Path not found"}), Lines(lines.end() - 2, lines.end()));
  EXPECT_TRUE(context_.ErrorsDetected());
  EXPECT_TRUE(EngineActions("onlineshop.mdb").empty());
  EXPECT_TRUE(EngineActions("users.mdb").empty());
}

TEST_F(UpdateRunTest, DatabaseFileWithoutItsFolderIsReportedAndSkipped) {
  files_.HideFolder("/share/DB");
  UpdateAllDatabases(context_, "/inst/DB/");
  EXPECT_EQ((Lines{"DATABASE START: users.mdb",
                   " !ERROR ODBC-entried folder does not exist: /share/DB/",
                   "DATABASE END: users.mdb"}),
            DatabaseLines("users.mdb"));
  EXPECT_TRUE(engine_.Actions().empty());
  EXPECT_TRUE(context_.ErrorsDetected());
}

TEST_F(UpdateRunTest, FailedBackupKeepsDataDatabaseUnopened) {
  files_.FailOn("copy", "/share/DB/accounting.mdb.bak", 70);
  UpdateAllDatabases(context_, "/inst/DB/");
  EXPECT_EQ((Lines{"DATABASE START: accounting.mdb", " ERROR 70: Permission denied",
                   " !ERROR database not updated, its backup failed: /share/DB/accounting.mdb",
                   "DATABASE END: accounting.mdb"}),
            DatabaseLines("accounting.mdb"));
  Lines settled = OpenedAndClosed("accounting.mdb");
  EXPECT_EQ(Lines(settled.begin(), settled.begin() + 4), EngineActions("accounting.mdb"));
  EXPECT_TRUE(context_.ErrorsDetected());
  EXPECT_EQ(OpenedAndClosed("availability.mdb"), EngineActions("availability.mdb"));
}

TEST_F(UpdateRunTest, FailedBackupKeepsReferenceDatabaseUntouched) {
  files_.FailOn("copy", "/share/DB/resource.mdb.bak", 70);
  UpdateAllDatabases(context_, "/inst/DB/");
  EXPECT_EQ((Lines{"DATABASE START: resource.mdb",
                   "Database 'Resource' with merge information: /share/DB/resource.mdb",
                   "Database 'Resource' with DB to be updated: /inst/DB/resource.mdb",
                   " ERROR 70: Permission denied",
                   " !ERROR database not updated, its backup failed: /share/DB/resource.mdb",
                   "DATABASE END: resource.mdb"}),
            DatabaseLines("resource.mdb"));
  EXPECT_EQ(Lines{"copy /share/DB/resource.mdb -> /share/DB/resource.mdb.bak FAILED"},
            FileActions("resource.mdb"));
  EXPECT_EQ(4u, EngineActions("resource.mdb").size());
  EXPECT_EQ("old resource.mdb", files_.GetFile("/share/DB/resource.mdb").content);
}

// A full disk (the file system's 61, the engine's 3026) stops the run after
// the database it struck, which stays whole; the next databases are not
// touched. Another failure lets the run go on.
struct FullDiskCase {
  const char* name;
  const char* file;  // where it fails
  std::function<void(test::FakeFileSystem&, test::FakeDatabaseEngine&)> fail;
  const char* error;
  bool stops;
  long started;  // databases whose section began
};

class FullDiskTest : public UpdateRunTest, public ::testing::WithParamInterface<FullDiskCase> {};

TEST_P(FullDiskTest, FullDiskStopsTheRunAfterItsDatabase) {
  const FullDiskCase& c = GetParam();
  c.fail(files_, engine_);
  UpdateAllDatabases(context_, "/inst/DB/");
  Lines lines = LogLines();
  std::string stop = std::string(" !ERROR disk full, the run stops: the databases after ") +
                     c.file + " are not updated";
  EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), c.error));
  EXPECT_EQ(c.stops ? stop : "## END UPDATING", lines.back());
  EXPECT_EQ(c.started, std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
              return line.rfind("DATABASE START: ", 0) == 0;
            }));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FullDiskTest,
    ::testing::Values(
        FullDiskCase{"BackupOfAccounting", "accounting.mdb",
                     [](test::FakeFileSystem& f, test::FakeDatabaseEngine&) {
                       f.FailOn("copy", "/share/DB/accounting.mdb.bak", 61);
                     },
                     " ERROR 61: Disk full", true, 1},
        FullDiskCase{"CommitOfConfig", "config.mdb",
                     [](test::FakeFileSystem&, test::FakeDatabaseEngine& e) {
                       e.FailClose("/share/DB/.config.mdb.tabsync-merge", 3026);
                     },
                     " ERROR 3026: close failed", true, 3},
        FullDiskCase{"LastDatabase", "users.mdb",
                     [](test::FakeFileSystem&, test::FakeDatabaseEngine& e) {
                       e.FailClose("/share/DB/users.mdb", 3026);
                     },
                     " ERROR 3026: close failed", false, 6},
        FullDiskCase{"OtherFailure", "accounting.mdb",
                     [](test::FakeFileSystem& f, test::FakeDatabaseEngine&) {
                       f.FailOn("copy", "/share/DB/accounting.mdb.bak", 75);
                     },
                     " ERROR 75: Path/File access error", false, 6}),
    [](const ::testing::TestParamInfo<FullDiskCase>& info) { return info.param.name; });

TEST_F(UpdateRunTest, ReferenceBackupIsTakenBeforeTheOpenAndOnlyOnce) {
  Lines seen;
  context_.SetReleaseSteps([&](UpdateContext&, const std::string& baseName) {
    if (baseName == "resource") seen = FileActions("resource.mdb");
    return true;
  });
  UpdateAllDatabases(context_, "/inst/DB/");
  EXPECT_EQ((Lines{"copy /share/DB/resource.mdb -> /share/DB/resource.mdb.bak",
                   "copy /inst/DB/resource.mdb -> " + Working("resource.mdb"),
                   "copy owner /share/DB/resource.mdb -> " + Working("resource.mdb")}),
            seen);
  int backups = 0;
  for (const std::string& action : FileActions("resource.mdb")) {
    if (action == "copy /share/DB/resource.mdb -> /share/DB/resource.mdb.bak") ++backups;
  }
  EXPECT_EQ(1, backups);
}

TEST_F(UpdateRunTest, OlderBackupGoesIntoTheHistoryFirstEvenWhenReadOnly) {
  files_.AddFile("/share/DB/users.mdb.bak", "last run", true);
  UpdateAllDatabases(context_, "/inst/DB/");
  EXPECT_EQ((Lines{"move /share/DB/users.mdb.bak -> /share/DB/backups/20261207-090531/users.mdb.bak",
                   "copy /share/DB/users.mdb -> /share/DB/users.mdb.bak"}),
            FileActions("users.mdb"));
  EXPECT_EQ("old users.mdb", files_.GetFile("/share/DB/users.mdb.bak").content);
  EXPECT_EQ("last run",
            files_.GetFile("/share/DB/backups/20261207-090531/users.mdb.bak").content);
}

// A database another program holds open cannot be settled for its backup,
// so it is neither backed up nor changed; the line says that the open
// failed, and why when the file was in use.
TEST_F(UpdateRunTest, DataDatabaseHeldOpenElsewhereIsLoggedAndTheRunGoesOn) {
  engine_.FailOpen("/share/DB/accounting.mdb", 3045);
  engine_.FailOpen("/share/DB/availability.mdb", 3343);
  UpdateAllDatabases(context_, "/inst/DB/");
  EXPECT_EQ((Lines{"DATABASE START: accounting.mdb",
                   " ERROR 3045: open failed: /share/DB/accounting.mdb",
                   " !ERROR database not updated, another program is reading or writing it: "
                   "/share/DB/accounting.mdb",
                   "DATABASE END: accounting.mdb"}),
            DatabaseLines("accounting.mdb"));
  EXPECT_EQ(" !ERROR database not updated, it could not be opened exclusively: "
            "/share/DB/availability.mdb",
            DatabaseLines("availability.mdb").at(2));
  EXPECT_FALSE(files_.HasFile("/share/DB/accounting.mdb.bak"));
  EXPECT_TRUE(context_.ErrorsDetected());
  EXPECT_EQ(OpenedAndClosed("config.mdb"), EngineActions("config.mdb"));
}

// A leftover of a killed run that cannot be removed (an immutable working
// copy, a cut-off copy in a folder that refuses its removal) is logged
// within the database's lines, naming the file, and the update goes on.
TEST_F(UpdateRunTest, LeftoverThatCannotBeRemovedIsNamedAfterTheStartLine) {
  files_.AddFile(Working("config.mdb"), "killed run");
  files_.FailOn("delete", Working("config.mdb"), 70);
  files_.FailOn("remove cut-off copies", "/share/DB/config.mdb.bak", 70);
  UpdateAllDatabases(context_, "/inst/DB/");
  Lines lines = DatabaseLines("config.mdb");
  ASSERT_LE(4u, lines.size());
  EXPECT_EQ((Lines{"DATABASE START: config.mdb",
                   " ERROR 70: Permission denied (leftover of a killed run: " + Working("config.mdb") + ")",
                   " ERROR 70: Permission denied (leftover of a killed run: "
                   "/share/DB/.config.mdb.bak.tmp-XXXXXX)",
                   "Database 'Config' with merge information: /share/DB/config.mdb"}),
            Lines(lines.begin(), lines.begin() + 4));
  EXPECT_EQ("DATABASE END: config.mdb", lines.back());
  EXPECT_TRUE(context_.ErrorsDetected());
}

TEST_F(UpdateRunTest, FailedOpenLeavesThePreviousClosedHandle) {
  engine_.FailOpen("/share/DB/onlineshop.mdb", 3045, "exclusive");
  UpdateAllDatabases(context_, "/inst/DB/");
  EXPECT_EQ((Lines{"DATABASE START: onlineshop.mdb",
                   " ERROR 3045: open failed: /share/DB/onlineshop.mdb",
                   " ERROR 3420: Object invalid or no longer set.",
                   "DATABASE END: onlineshop.mdb"}),
            DatabaseLines("onlineshop.mdb"));
}

// Decided before the backup: the database in use is neither backed up nor
// opened, and the run goes on.
TEST_F(UpdateRunTest, UpdateInformationThatCannotBeOpenedLeavesTheDatabaseAlone) {
  engine_.FailOpen("/inst/DB/onlineshop.mdb", 3343);
  UpdateAllDatabases(context_, "/inst/DB/");
  EXPECT_EQ((Lines{"DATABASE START: onlineshop.mdb",
                   " !ERROR database not updated, its update information cannot be read (3343: "
                   "open failed: /inst/DB/onlineshop.mdb): /inst/DB/onlineshop.mdb",
                   "DATABASE END: onlineshop.mdb"}),
            DatabaseLines("onlineshop.mdb"));
  EXPECT_TRUE(FileActions("onlineshop.mdb").empty());
  EXPECT_EQ(Lines{"open /inst/DB/onlineshop.mdb immutable FAILED"}, EngineActions("onlineshop.mdb"));
  EXPECT_TRUE(context_.ErrorsDetected());
  EXPECT_EQ("## END UPDATING", LogLines().back());
}

TEST_F(UpdateRunTest, ReferenceDatabaseWhoseOpenFailedIsNotReplaced) {
  engine_.FailOpen(Working("config.mdb"), 3024);
  UpdateAllDatabases(context_, "/inst/DB/");
  Lines lines = DatabaseLines("config.mdb");
  EXPECT_EQ(" ERROR 3024: open failed: " + Working("config.mdb"), lines[3]);
  EXPECT_EQ(" !ERROR database not replaced, its merge failed: /share/DB/config.mdb",
            lines[lines.size() - 2]);
  EXPECT_EQ("old config.mdb", files_.GetFile("/share/DB/config.mdb").content);
  EXPECT_EQ((Lines{"copy /share/DB/config.mdb -> /share/DB/config.mdb.bak",
                   "copy /inst/DB/config.mdb -> " + Working("config.mdb"),
                   "copy owner /share/DB/config.mdb -> " + Working("config.mdb"),
                   "delete " + Working("config.mdb")}),
            FileActions("config.mdb"));
  EXPECT_TRUE(context_.ErrorsDetected());
}

TEST_F(UpdateRunTest, ReferenceDatabaseWhoseMergeFailedIsNotReplaced) {
  context_.SetReleaseSteps([](UpdateContext&, const std::string& baseName) {
    return baseName != "resource";
  });
  UpdateAllDatabases(context_, "/inst/DB/");
  EXPECT_EQ((Lines{"DATABASE START: resource.mdb",
                   "Database 'Resource' with merge information: /share/DB/resource.mdb",
                   "Database 'Resource' with DB to be updated: /inst/DB/resource.mdb",
                   " !ERROR database not replaced, its merge failed: /share/DB/resource.mdb",
                   "DATABASE END: resource.mdb"}),
            DatabaseLines("resource.mdb"));
  EXPECT_EQ("old resource.mdb", files_.GetFile("/share/DB/resource.mdb").content);
  EXPECT_FALSE(files_.HasFile("/inst/DB/resource.mdb.bak"));
  EXPECT_EQ("new config.mdb", files_.GetFile("/share/DB/config.mdb").content);
  EXPECT_TRUE(context_.ErrorsDetected());
}

TEST_F(UpdateRunTest, FailedCloseOfUpdateInformationStillClosesTheDatabaseInUse) {
  // Only the close of the update's session fails, not that of the check.
  context_.SetReleaseSteps([&](UpdateContext&, const std::string& baseName) {
    if (baseName == "users") engine_.FailClose("/inst/DB/users.mdb", 3000);
    return true;
  });
  UpdateAllDatabases(context_, "/inst/DB/");
  Lines actions = EngineActions("users.mdb");
  EXPECT_EQ((Lines{"open /share/DB/users.mdb exclusive", "open /inst/DB/users.mdb immutable",
                   "close /inst/DB/users.mdb FAILED", "close /share/DB/users.mdb"}),
            Lines(actions.begin() + 4, actions.end()));
  EXPECT_EQ(" ERROR 3000: close failed", DatabaseLines("users.mdb")[1]);
}

// Neither a failed commit of the working copy nor a failed rename may leave
// the database in use anything but what it was; the working copy goes.
TEST_F(UpdateRunTest, FailedCommitOrReplacementKeepsTheDatabaseInUse) {
  engine_.FailClose(Working("config.mdb"), 3000);
  files_.FailOn("replace", "/share/DB/resource.mdb", 70);
  UpdateAllDatabases(context_, "/inst/DB/");
  Lines config = DatabaseLines("config.mdb");
  EXPECT_EQ((Lines{" ERROR 3000: close failed",
                   " !ERROR database not replaced, its merge failed: /share/DB/config.mdb",
                   "DATABASE END: config.mdb"}),
            Lines(config.end() - 3, config.end()));
  EXPECT_EQ(" ERROR 70: Permission denied", DatabaseLines("resource.mdb")[3]);
  for (const char* file : {"config.mdb", "resource.mdb"}) {
    EXPECT_EQ(std::string("old ") + file, files_.GetFile(std::string(kShared) + file).content);
    EXPECT_FALSE(files_.HasFile(Working(file)));
    EXPECT_EQ(std::string("new ") + file, files_.GetFile(std::string(kUpdate) + file).content);
  }
  EXPECT_TRUE(context_.ErrorsDetected());
}

// A --restore killed half-way leaves its copy beside the database; the next
// run removes it under the run lock.
TEST_F(UpdateRunTest, WhatAKilledRestoreLeftIsRemoved) {
  std::string copy = std::string(kShared) + ".users.mdb.tabsync-restore";
  files_.AddFile(copy, "half a backup");
  UpdateAllDatabases(context_, "/inst/DB/");
  EXPECT_FALSE(files_.HasFile(copy));
  EXPECT_FALSE(context_.ErrorsDetected());
}

TEST_F(UpdateRunTest, UnwritableLogEndsTheRunWithErrorsDetected) {
  log_.SetLogFilePath("/missing/Stabmerge.log");
  UpdateAllDatabases(context_, "/inst/DB/");
  EXPECT_TRUE(context_.ErrorsDetected());
  EXPECT_TRUE(files_.Actions().empty());
  EXPECT_TRUE(engine_.Actions().empty());
}

TEST_F(UpdateRunTest, LogFailingMidRunEndsTheRunWithErrorsDetected) {
  context_.SetReleaseSteps([&](UpdateContext&, const std::string& baseName) {
    if (baseName == "availability") files_.FailOn("append", kLogFile, 61);
    return true;
  });
  UpdateAllDatabases(context_, "/inst/DB/");
  EXPECT_TRUE(context_.ErrorsDetected());
  // The failure shows when the database's lines are written at its end; those
  // lines are lost, and nothing after them is done.
  files_.StopFailing();
  EXPECT_EQ("DATABASE END: accounting.mdb", LogLines().back());
  EXPECT_EQ("close /share/DB/availability.mdb", engine_.Actions().back());
}

// Lines wait in the log's buffer, but each database's lines are in the file
// once it has ended, and an error line at once.
TEST_F(UpdateRunTest, DatabaseEndsAndErrorLinesReachTheFileAtOnce) {
  std::vector<std::string> file_ends;
  auto file_end = [&] {
    const std::string& content = files_.GetFile(kLogFile).content;
    size_t start = content.rfind("\r\n", content.size() - 3);
    return content.substr(start == std::string::npos ? 0 : start + 2 + 20);
  };
  context_.SetReleaseSteps([&](UpdateContext& context, const std::string& baseName) {
    if (baseName != "availability") return true;
    file_ends.push_back(file_end());
    context.WriteLog(" a line that waits");
    file_ends.push_back(file_end());
    ReportError(context, Error(3011, "not found"));
    file_ends.push_back(file_end());
    return true;
  });
  UpdateAllDatabases(context_, "/inst/DB/");
  EXPECT_EQ((Lines{"DATABASE END: accounting.mdb\r\n", "DATABASE END: accounting.mdb\r\n",
                   " ERROR 3011: not found\r\n"}),
            file_ends);
}

TEST_F(UpdateRunTest, SecondRunBacksUpWhatTheFirstLeft) {
  UpdateAllDatabases(context_, "/inst/DB/");
  UpdateAllDatabases(context_, "/inst/DB/");
  EXPECT_EQ("new config.mdb", files_.GetFile("/share/DB/config.mdb.bak").content);
  EXPECT_EQ("old users.mdb", files_.GetFile("/share/DB/users.mdb.bak").content);
  EXPECT_FALSE(context_.ErrorsDetected());
}

}  // namespace
}  // namespace tabsync::engine
