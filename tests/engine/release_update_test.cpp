// The whole update on a realistic release: the installed older release and
// the update information written by tools/make-release, the real engine, file
// system and clock, and data sources in a private odbc.ini pointing at the
// installed release. The log and the six databases afterwards are compared
// with the files in engine/data/release_update/.

#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/catalogue.h"
#include "engine/update_run.h"
#include "make-release/release_maker.h"
#include "support/private_odbc_folder.h"
#include "support/real_run_test.h"
#include "support/sqlite_files.h"
#include "support/temp_dir.h"

namespace tabsync::engine {
namespace {

using Lines = std::vector<std::string>;
using test::QuerySql;
using test::ReadFileBytes;

const std::string kExpectedFolder = std::string(TABSYNC_TEST_DATA) + "release_update/";

Lines SplitLines(const std::string& text, const std::string& end) {
  Lines lines;
  size_t start = 0;
  for (size_t stop; (stop = text.find(end, start)) != std::string::npos; start = stop + end.size())
    lines.push_back(text.substr(start, stop - start));
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

Lines ExpectedLines(const std::string& name) {
  std::ifstream in(kExpectedFolder + name, std::ios::binary);
  EXPECT_TRUE(in) << "missing " << kExpectedFolder + name;
  std::stringstream text;
  text << in.rdbuf();
  return SplitLines(text.str(), "\n");
}

class ReleaseUpdateTest : public test::RealRunTest {
 protected:
  void SetUp() override {
    test::PrivateOdbcFolder();
    ASSERT_EQ(0, mkdir(installed_.c_str(), 0755));
    ASSERT_EQ(0, mkdir(update_.c_str(), 0755));
    release::MakeRelease(*engine_, installed_, update_, 1);
    std::string ini = "# data sources of the server\n";
    for (const CatalogueEntry& entry : DatabaseCatalogue) {
      ini += std::string("[") + entry.data_source_name + "]\nDriver=SQLite3\nDBQ=" + installed_ +
             entry.file_name + "\n";
    }
    test::WriteOdbcIni(ini);
    log_.SetLogFilePath(LogPath());
  }

  void TearDown() override { test::WriteOdbcIni(""); }

  std::string LogPath() const { return installed_ + "Stabmerge.log"; }

  // Runs the update as the installer does: the log of an earlier run is
  // deleted first, ErrorsDetected starts false.
  void RunUpdate() {
    log_.SetLogFilePath(LogPath());
    std::remove(LogPath().c_str());
    context_.SetErrorsDetected(false);
    UpdateAllDatabases(context_, update_);
  }

  // Replaces the temporary folders by names that stay the same from run to
  // run.
  std::string WithoutFolders(std::string text) const {
    for (auto [folder, name] : {std::pair{installed_, "<installed>/"}, {update_, "<update>/"}}) {
      for (size_t at; (at = text.find(folder)) != std::string::npos;)
        text.replace(at, folder.size(), name);
    }
    return text;
  }

  // The log's lines, each checked for its date and time prefix and given
  // without it.
  Lines LogLines() {
    log_.Flush();
    static const std::regex prefix("[0-9]{2}-[0-9]{2}-[0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2} ");
    Lines lines;
    for (const std::string& line : SplitLines(ReadFileBytes(LogPath()), "\r\n")) {
      EXPECT_TRUE(std::regex_search(line.substr(0, 20), prefix)) << line;
      lines.push_back(WithoutFolders(line.substr(20)));
    }
    return lines;
  }

  // One database as plain SQLite sees it: every schema object with its SQL,
  // then the rows of every table in stored order.
  Lines DumpDatabase(const std::string& fileName) const {
    std::string path = installed_ + fileName;
    Lines dump;
    std::string objects = QuerySql(
        path, "SELECT type, name, sql FROM sqlite_schema ORDER BY type DESC, name COLLATE NOCASE");
    for (const std::string& object : SplitLines(objects, "\n")) dump.push_back(object);
    std::string tables = QuerySql(path,
                                  "SELECT name FROM sqlite_schema WHERE type = 'table' AND name "
                                  "NOT LIKE 'sqlite\\_%' ESCAPE '\\' ORDER BY name COLLATE NOCASE");
    for (const std::string& table : SplitLines(tables, "\n")) {
      dump.push_back("rows of " + table + ":");
      std::string rows = QuerySql(path, "SELECT * FROM \"" + table + "\" ORDER BY rowid");
      for (const std::string& row : SplitLines(rows, "\n")) dump.push_back("  " + row);
    }
    for (std::string& line : dump) line = WithoutFolders(line);
    return dump;
  }

  std::string installed_ = dir_.File("installed/");
  std::string update_ = dir_.File("DB/");
};

TEST_F(ReleaseUpdateTest, FirstRunLogsEveryActionAndLeavesTheExpectedDatabases) {
  RunUpdate();

  EXPECT_FALSE(context_.ErrorsDetected());
  EXPECT_EQ(ExpectedLines("update.log"), LogLines());
  for (const CatalogueEntry& entry : DatabaseCatalogue) {
    std::string name = BaseName(entry.file_name);
    EXPECT_EQ(ExpectedLines(name + ".txt"), DumpDatabase(entry.file_name)) << name;
  }
}

TEST_F(ReleaseUpdateTest, SecondRunChangesNothingAndReportsNoError) {
  RunUpdate();
  std::vector<Lines> first;
  for (const CatalogueEntry& entry : DatabaseCatalogue) first.push_back(DumpDatabase(entry.file_name));

  RunUpdate();

  EXPECT_FALSE(context_.ErrorsDetected());
  for (size_t i = 0; i < DatabaseCatalogue.size(); ++i)
    EXPECT_EQ(first[i], DumpDatabase(DatabaseCatalogue[i].file_name)) << DatabaseCatalogue[i].file_name;
  EXPECT_EQ(ExpectedLines("second-update.log"), LogLines());
}

TEST_F(ReleaseUpdateTest, UpdateInformationIsRestoredAndBackupsHoldTheInstalledRelease) {
  std::vector<std::string> installed, update;
  for (const CatalogueEntry& entry : DatabaseCatalogue) {
    installed.push_back(ReadFileBytes(installed_ + entry.file_name));
    update.push_back(ReadFileBytes(update_ + entry.file_name));
  }

  RunUpdate();

  for (size_t i = 0; i < DatabaseCatalogue.size(); ++i) {
    std::string file = DatabaseCatalogue[i].file_name;
    EXPECT_EQ(installed[i], ReadFileBytes(installed_ + file + ".bak")) << file;
    EXPECT_EQ(update[i], ReadFileBytes(update_ + file)) << file;
    EXPECT_FALSE(std::ifstream(update_ + file + ".bak")) << file;
  }
}

}  // namespace
}  // namespace tabsync::engine
