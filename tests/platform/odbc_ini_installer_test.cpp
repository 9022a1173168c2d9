// The odbc.ini installer against a real odbc.ini in the private unixODBC
// folder of this process. That folder is shared by every test of the process,
// so each test writes odbc.ini whole first (or starts without one) and the
// fixture removes it again. Root writes whatever the permission bits say, so
// the cases that rely on the kernel refusing access are skipped for root.

#include "platform/odbc_ini_installer.h"

#include <errno.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/odbc_ini_store.h"
#include "platform/registration_store.h"
#include "support/private_odbc_folder.h"
#include "support/file_size_limit.h"
#include "support/temp_dir.h"

namespace tabsync::platform {
namespace {

namespace fs = std::filesystem;

bool RunningAsRoot() { return ::geteuid() == 0; }
constexpr char kRootIgnoresPermissions[] = "root is not refused by permission bits";

std::string DataSourceText(const std::string& header, const std::string& file) {
  return header + "\nDriver=SQLite3\nDBQ=" + file + "\nDatabase=" + file + "\n";
}

class OdbcIniInstallerTest : public testing::Test {
 protected:
  // Empties the shared folder, so that a file one test leaves behind fails
  // that test only.
  void TearDown() override {
    ::chmod(folder_.c_str(), 0700);  // undoes the read-only folder case
    for (const fs::directory_entry& entry : fs::directory_iterator(folder_)) {
      fs::remove_all(entry.path());
    }
  }

  static std::string OdbcIni() { return test::PrivateOdbcFolder() + "odbc.ini"; }
  static void WriteOdbcIni(const std::string& text) { test::WriteOdbcIni(text); }
  static std::string OdbcIniText() { return test::ReadFileBytes(OdbcIni()); }

  // Only odbc.ini, or nothing: a temporary file left behind would show here.
  void ExpectNoOtherFile() {
    std::set<std::string> names = test::NamesIn(folder_);
    names.erase("odbc.ini");
    EXPECT_TRUE(names.empty()) << *names.begin();
  }

  bool Add(const std::string& name, const std::string& file) {
    return installer_->AddSystemDataSource(name, file);
  }

  // The private folder must be named before libodbcinst is first asked; the
  // library then fixes it for the process, before any thread starts.
  std::string folder_ = test::PrivateOdbcFolder();
  std::string path_ = SystemOdbcIniPath();
  std::unique_ptr<OdbcInstaller> installer_ = NewOdbcIniInstaller();
  std::unique_ptr<RegistrationStore> store_ = NewOdbcIniStore();
};

TEST_F(OdbcIniInstallerTest, WritesTheFileThatTheStoreReads) { EXPECT_EQ(OdbcIni(), path_); }

TEST_F(OdbcIniInstallerTest, MissingFileIsCreatedWithTheDataSource) {
  ASSERT_TRUE(Add("Users", "/srv/db/users.mdb"));
  EXPECT_EQ(DataSourceText("[Users]", "/srv/db/users.mdb"), OdbcIniText());
  EXPECT_EQ(0644u, test::ModeOf(OdbcIni()));
  ExpectNoOtherFile();
}

TEST_F(OdbcIniInstallerTest, EmptyFileGetsTheDataSourceAlone) {
  WriteOdbcIni("");
  ASSERT_TRUE(Add("Users", "/srv/db/users.mdb"));
  EXPECT_EQ(DataSourceText("[Users]", "/srv/db/users.mdb"), OdbcIniText());
}

TEST_F(OdbcIniInstallerTest, NewDataSourceFollowsExistingTextAfterOneEmptyLine) {
  std::string old_text = "# system data sources\n[Accounting]\nDBQ=/srv/db/accounting.mdb\n";
  WriteOdbcIni(old_text);
  ASSERT_TRUE(Add("Users", "/srv/db/users.mdb"));
  EXPECT_EQ(old_text + "\n" + DataSourceText("[Users]", "/srv/db/users.mdb"), OdbcIniText());
}

TEST_F(OdbcIniInstallerTest, TextWithoutFinalLineFeedIsEndedBeforeNewDataSource) {
  std::string old_text = "# data sources\r\n[Accounting]\r\nDBQ=/srv/db/accounting.mdb\r\n; end";
  WriteOdbcIni(old_text);
  ASSERT_TRUE(Add("Users", "/srv/db/users.mdb"));
  EXPECT_EQ(old_text + "\n\n" + DataSourceText("[Users]", "/srv/db/users.mdb"), OdbcIniText());
}

TEST_F(OdbcIniInstallerTest, ExistingSectionIsReplacedInPlaceKeepingItsComments) {
  WriteOdbcIni(
      "# head\n"
      "[Accounting]\nDBQ=/srv/db/accounting.mdb\n\n"
      "[ users ] old\r\n"
      "# operators\r\n"
      "Description=operators\r\n"
      "DBQ=/old/users.mdb\r\n"
      "  Indented=not a key\r\n"
      "_under=not a key\n"
      "\r\n"
      "[Zeta]\nDBQ=/srv/db/zeta.mdb\n");
  ASSERT_TRUE(Add("Users", "/new/users.mdb"));
  EXPECT_EQ(
      "# head\n"
      "[Accounting]\nDBQ=/srv/db/accounting.mdb\n\n" +
          DataSourceText("[ users ] old\r", "/new/users.mdb") +
          "# operators\r\n"
          "  Indented=not a key\r\n"
          "_under=not a key\n"
          "\r\n"
          "[Zeta]\nDBQ=/srv/db/zeta.mdb\n",
      OdbcIniText());
}

TEST_F(OdbcIniInstallerTest, OnlyTheFirstOfTwoSameNamedSectionsChanges) {
  WriteOdbcIni("[Users]\nDBQ=/first.mdb\n[USERS]\nDBQ=/second.mdb\nDatabase=/second.mdb\n");
  ASSERT_TRUE(Add("users", "/new.mdb"));
  EXPECT_EQ(DataSourceText("[Users]", "/new.mdb") + "[USERS]\nDBQ=/second.mdb\nDatabase=/second.mdb\n",
            OdbcIniText());
}

TEST_F(OdbcIniInstallerTest, HeaderOnTheLastLineGetsItsLineFeed) {
  WriteOdbcIni("[Accounting]\nDBQ=/a.mdb\n[Users]");
  ASSERT_TRUE(Add("Users", "/u.mdb"));
  EXPECT_EQ("[Accounting]\nDBQ=/a.mdb\n" + DataSourceText("[Users]", "/u.mdb"), OdbcIniText());
}

TEST_F(OdbcIniInstallerTest, NameThatMatchesOnlyOutsideAsciiCaseIsANewSection) {
  WriteOdbcIni("[\xC3\x9C" "ber]\nDBQ=/old.mdb\n");  // "Über"; the reader folds ASCII only
  ASSERT_TRUE(Add("\xC3\xBC" "ber", "/new.mdb"));     // "über"
  EXPECT_EQ("[\xC3\x9C" "ber]\nDBQ=/old.mdb\n\n" + DataSourceText("[\xC3\xBC" "ber]", "/new.mdb"),
            OdbcIniText());
}

TEST_F(OdbcIniInstallerTest, AddingTheSameDataSourceTwiceGivesTheSameText) {
  WriteOdbcIni("[Accounting]\nDBQ=/a.mdb\n");
  ASSERT_TRUE(Add("Users", "/u.mdb"));
  std::string once = OdbcIniText();
  ASSERT_TRUE(Add("USERS", "/u.mdb"));
  EXPECT_EQ(once, OdbcIniText());
}

TEST_F(OdbcIniInstallerTest, ValuesReadBackThroughTheStore) {
  WriteOdbcIni("; data sources\n[Users]\nDBQ=/old.mdb\nDriver=Other\n");
  std::string file = "/srv/my db/a;b=c#d.mdb";
  ASSERT_TRUE(Add("Users", file));
  std::string value;
  ASSERT_TRUE(store_->ReadDataSourceValue("users", "DBQ", &value));
  EXPECT_EQ(file, value);
  ASSERT_TRUE(store_->ReadDataSourceValue("Users", "Database", &value));
  EXPECT_EQ(file, value);
  ASSERT_TRUE(store_->ReadDataSourceValue("Users", "Driver", &value));
  EXPECT_EQ(kDataSourceDriver, value);
}

struct Refusal {
  const char* case_name;
  std::string name;
  std::string file;
};

void PrintTo(const Refusal& refusal, std::ostream* out) { *out << refusal.case_name; }

class OdbcIniInstallerRefusalTest : public OdbcIniInstallerTest,
                                    public testing::WithParamInterface<Refusal> {};

TEST_P(OdbcIniInstallerRefusalTest, LeavesTheFileAsItWas) {
  std::string old_text = "# kept\r\n[Users]\nDBQ=/old.mdb\n";
  WriteOdbcIni(old_text);
  EXPECT_FALSE(Add(GetParam().name, GetParam().file));
  EXPECT_EQ(old_text, OdbcIniText());
  ExpectNoOtherFile();
}

TEST_P(OdbcIniInstallerRefusalTest, CreatesNoFile) {
  EXPECT_FALSE(Add(GetParam().name, GetParam().file));
  EXPECT_FALSE(fs::exists(OdbcIni()));
  ExpectNoOtherFile();
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, OdbcIniInstallerRefusalTest,
    testing::Values(Refusal{"LineFeedInPath", "Users", "/srv/a\n.mdb"},
                    Refusal{"CarriageReturnInPath", "Users", "/srv/a\r.mdb"},
                    Refusal{"NulInPath", "Users", std::string("/srv/a\0b.mdb", 12)},
                    Refusal{"LineFeedInName", "Us\ners", "/u.mdb"},
                    Refusal{"CarriageReturnInName", "Users\r", "/u.mdb"},
                    Refusal{"NulInName", std::string("Us\0ers", 6), "/u.mdb"},
                    Refusal{"ClosingBracketInName", "Us]ers", "/u.mdb"},
                    Refusal{"OpeningBracketInName", "[Users", "/u.mdb"},
                    Refusal{"BlankBeforeName", " Users", "/u.mdb"},
                    Refusal{"TabAfterName", "Users\t", "/u.mdb"},
                    Refusal{"BlankBeforePath", "Users", " /u.mdb"},
                    Refusal{"BlankAfterPath", "Users", "/u.mdb "},
                    Refusal{"VerticalTabAfterPath", "Users", "/u.mdb\v"},
                    Refusal{"FormFeedBeforePath", "Users", "\f/u.mdb"},
                    Refusal{"EmptyName", "", "/u.mdb"},
                    Refusal{"EmptyPath", "Users", ""}),
    [](const testing::TestParamInfo<Refusal>& info) { return std::string(info.param.case_name); });

TEST_F(OdbcIniInstallerTest, StrayLineBeforeFirstSectionIsRefused) {
  std::string old_text = "stray\n[Accounting]\nDBQ=/a.mdb\n";
  WriteOdbcIni(old_text);
  EXPECT_FALSE(Add("Users", "/u.mdb"));
  EXPECT_EQ(old_text, OdbcIniText());
  ExpectNoOtherFile();
}

TEST_F(OdbcIniInstallerTest, IndentedFirstSectionIsRefused) {
  std::string old_text = "  [Users]\nDBQ=/old.mdb\n";
  WriteOdbcIni(old_text);
  EXPECT_FALSE(Add("Users", "/u.mdb"));
  EXPECT_EQ(old_text, OdbcIniText());
}

TEST_F(OdbcIniInstallerTest, PermissionBitsOfTheOldFileAreKept) {
  WriteOdbcIni("[Accounting]\nDBQ=/a.mdb\n");
  ASSERT_EQ(0, ::chmod(OdbcIni().c_str(), 0640));
  ASSERT_TRUE(Add("Users", "/u.mdb"));
  EXPECT_EQ(0640u, test::ModeOf(OdbcIni()));
}

TEST_F(OdbcIniInstallerTest, ReadOnlyFolderIsRefused) {
  if (RunningAsRoot()) GTEST_SKIP() << kRootIgnoresPermissions;
  std::string old_text = "[Accounting]\nDBQ=/a.mdb\n";
  WriteOdbcIni(old_text);
  ASSERT_EQ(0, ::chmod(folder_.c_str(), 0555));
  EXPECT_FALSE(Add("Users", "/u.mdb"));
  ASSERT_EQ(0, ::chmod(folder_.c_str(), 0700));
  EXPECT_EQ(old_text, OdbcIniText());
  ExpectNoOtherFile();
}

TEST_F(OdbcIniInstallerTest, UnreadableFileIsRefused) {
  if (RunningAsRoot()) GTEST_SKIP() << kRootIgnoresPermissions;
  std::string old_text = "[Accounting]\nDBQ=/a.mdb\n";
  WriteOdbcIni(old_text);
  ASSERT_EQ(0, ::chmod(OdbcIni().c_str(), 0));
  EXPECT_FALSE(Add("Users", "/u.mdb"));
  ASSERT_EQ(0, ::chmod(OdbcIni().c_str(), 0600));
  EXPECT_EQ(old_text, OdbcIniText());
  ExpectNoOtherFile();
}

TEST_F(OdbcIniInstallerTest, FolderInPlaceOfTheFileIsRefused) {
  ASSERT_TRUE(fs::create_directory(OdbcIni()));
  EXPECT_FALSE(Add("Users", "/u.mdb"));
  EXPECT_TRUE(fs::is_directory(OdbcIni()));
  ExpectNoOtherFile();
}

TEST_F(OdbcIniInstallerTest, FailedWriteLeavesTheFileAndNoTemporaryFile) {
  std::string old_text = "[Accounting]\nDBQ=/srv/db/accounting.mdb\n";
  WriteOdbcIni(old_text);
  bool added;
  {
    test::FileSizeLimit limit(old_text.size());
    added = Add("Users", "/srv/db/users.mdb");
  }
  EXPECT_FALSE(added);
  EXPECT_EQ(old_text, OdbcIniText());
  ExpectNoOtherFile();
}

constexpr int kWritesPerWriter = 50;

std::string WriterName(int writer, int i) {
  return "Writer" + std::to_string(writer) + "Source" + std::to_string(i);
}

std::string WriterFile(int writer, int i) { return "/srv/db/" + WriterName(writer, i) + ".mdb"; }

// The number of the writer's data sources that it failed to write.
int WriteDataSources(int writer) {
  std::unique_ptr<OdbcInstaller> installer = NewOdbcIniInstaller();
  int failures = 0;
  for (int i = 0; i < kWritesPerWriter; ++i) {
    if (!installer->AddSystemDataSource(WriterName(writer, i), WriterFile(writer, i))) ++failures;
  }
  return failures;
}

void ExpectEveryWritersDataSource(const RegistrationStore& store) {
  std::vector<std::string> lost;
  for (int writer = 0; writer < 2; ++writer) {
    for (int i = 0; i < kWritesPerWriter; ++i) {
      std::string value;
      bool found = store.ReadDataSourceValue(WriterName(writer, i), "DBQ", &value);
      if (!found || value != WriterFile(writer, i)) lost.push_back(WriterName(writer, i));
    }
  }
  EXPECT_TRUE(lost.empty()) << lost.size() << " lost, among them " << lost.front();
}

TEST_F(OdbcIniInstallerTest, ThreadsWritingAtOnceLoseNoDataSource) {
  WriteOdbcIni("# shared\n");
  std::atomic<bool> go{false};
  int failures[2] = {-1, -1};
  std::vector<std::thread> writers;
  for (int writer = 0; writer < 2; ++writer) {
    writers.emplace_back([&go, &failures, writer] {
      while (!go) std::this_thread::yield();
      failures[writer] = WriteDataSources(writer);
    });
  }
  go = true;
  for (std::thread& writer : writers) writer.join();
  EXPECT_EQ(0, failures[0]);
  EXPECT_EQ(0, failures[1]);
  ExpectEveryWritersDataSource(*store_);
  ExpectNoOtherFile();
}

// A child that waits until the parent closes the pipe `start`, writes, and
// exits with the number of its failures. _exit, because the child must not run
// the parent's exit handlers, which remove the private folder.
pid_t StartWriterProcess(int writer, const int start[2]) {
  pid_t child = ::fork();
  if (child != 0) return child;
  ::close(start[1]);  // else the child's own copy would keep the pipe open
  char byte;
  while (::read(start[0], &byte, 1) < 0 && errno == EINTR) {
  }
  ::_exit(WriteDataSources(writer));
}

int ExitCodeOf(pid_t child) {
  int status = 0;
  if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST_F(OdbcIniInstallerTest, ProcessesWritingAtOnceLoseNoDataSource) {
  WriteOdbcIni("# shared\n");
  int start[2];
  ASSERT_EQ(0, ::pipe(start));
  pid_t first = StartWriterProcess(0, start);
  pid_t second = StartWriterProcess(1, start);
  ::close(start[1]);  // lets both children go at once
  ::close(start[0]);
  ASSERT_GT(first, 0);
  ASSERT_GT(second, 0);
  EXPECT_EQ(0, ExitCodeOf(first));
  EXPECT_EQ(0, ExitCodeOf(second));
  ExpectEveryWritersDataSource(*store_);
  ExpectNoOtherFile();
}

}  // namespace
}  // namespace tabsync::platform
