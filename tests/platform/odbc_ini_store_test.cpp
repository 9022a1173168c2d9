#include "platform/odbc_ini_store.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "support/private_odbc_folder.h"

namespace tabsync::platform {
namespace {

class OdbcIniStoreTest : public testing::Test {
 protected:
  void TearDown() override {
    std::error_code ignored;  // most tests write no file
    std::filesystem::remove(OdbcIni(), ignored);
  }

  static std::string OdbcIni() { return test::PrivateOdbcFolder() + "odbc.ini"; }
  static void WriteOdbcIni(const std::string& text) { test::WriteOdbcIni(text); }

  // Made after the fixture has named the private folder, which must happen
  // before libodbcinst is first asked.
  std::string folder_ = test::PrivateOdbcFolder();
  std::unique_ptr<RegistrationStore> store_ = NewOdbcIniStore();
};

TEST_F(OdbcIniStoreTest, SystemPathIsOdbcIniInTheOdbcSysIniFolder) {
  EXPECT_EQ(SystemOdbcIniPath(), OdbcIni());
}

TEST_F(OdbcIniStoreTest, ValueOfDataSourceIsRead) {
  WriteOdbcIni(
      "# system data sources\n"
      "[Accounting]\nDBQ=/srv/db/accounting.mdb\n"
      "[Users]\nDescription=operators\nDBQ = /srv/other/users.mdb \n");
  std::string value;
  ASSERT_TRUE(store_->ReadDataSourceValue("Users", "DBQ", &value));
  EXPECT_EQ(value, "/srv/other/users.mdb");
}

TEST_F(OdbcIniStoreTest, NamesIgnoreCase) {
  WriteOdbcIni("[Users]\nDbq=/srv/db/users.mdb\n");
  std::string value;
  ASSERT_TRUE(store_->ReadDataSourceValue("USERS", "dbq", &value));
  EXPECT_EQ(value, "/srv/db/users.mdb");
}

TEST_F(OdbcIniStoreTest, MissingDataSourceIsNotFound) {
  WriteOdbcIni("[Accounting]\nDBQ=/srv/db/accounting.mdb\n");
  std::string value = "kept";
  EXPECT_FALSE(store_->ReadDataSourceValue("Users", "DBQ", &value));
  EXPECT_EQ(value, "kept");
}

TEST_F(OdbcIniStoreTest, MissingFileHoldsNoDataSource) {
  std::string value = "kept";
  EXPECT_FALSE(store_->ReadDataSourceValue("Users", "DBQ", &value));
  EXPECT_EQ(value, "kept");
}

TEST_F(OdbcIniStoreTest, RegistrationWrittenBetweenTwoReadsIsSeen) {
  WriteOdbcIni("[Accounting]\nDBQ=/srv/db/accounting.mdb\n");
  std::string value;
  EXPECT_FALSE(store_->ReadDataSourceValue("Users", "DBQ", &value));

  WriteOdbcIni("[Accounting]\nDBQ=/srv/db/accounting.mdb\n[Users]\nDBQ=/srv/db/users.mdb\n");
  ASSERT_TRUE(store_->ReadDataSourceValue("Users", "DBQ", &value));
  EXPECT_EQ(value, "/srv/db/users.mdb");

  WriteOdbcIni("[Users]\nDBQ=/srv/moved/users.mdb\n");
  ASSERT_TRUE(store_->ReadDataSourceValue("Users", "DBQ", &value));
  EXPECT_EQ(value, "/srv/moved/users.mdb");
}

TEST_F(OdbcIniStoreTest, UnreadableFileHoldsNoDataSource) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads a file whatever its mode";
  WriteOdbcIni("[Users]\nDBQ=/srv/db/users.mdb\n");
  ASSERT_EQ(chmod(OdbcIni().c_str(), 0), 0);
  std::string value = "kept";
  EXPECT_FALSE(store_->ReadDataSourceValue("Users", "DBQ", &value));
  EXPECT_EQ(value, "kept");
}

TEST_F(OdbcIniStoreTest, FolderInPlaceOfFileHoldsNoDataSource) {
  ASSERT_TRUE(std::filesystem::create_directory(OdbcIni()));
  std::string value = "kept";
  EXPECT_FALSE(store_->ReadDataSourceValue("Users", "DBQ", &value));
  EXPECT_EQ(value, "kept");
}

// What the run refuses to start with: an odbc.ini that is there but can
// never be read whole, without waiting or reading without end.
TEST_F(OdbcIniStoreTest, UnreadableCauseNamesWhatOdbcIniIsInstead) {
  struct Case {
    const char* what;
    std::function<void(const std::string&)> make;
    std::string cause;
  };
  const Case cases[] = {
      {"missing", [](const std::string&) {}, ""},
      {"dangling link",
       [](const std::string& p) { std::filesystem::create_symlink("/nothing/here", p); }, ""},
      {"readable", [](const std::string&) { WriteOdbcIni("[Users]\n"); }, ""},
      {"folder", [](const std::string& p) { std::filesystem::create_directory(p); }, "a folder"},
      {"fifo", [](const std::string& p) { ASSERT_EQ(0, mkfifo(p.c_str(), 0644)); },
       "no regular file (a FIFO, a device or a socket)"},
      {"link to /dev/zero",
       [](const std::string& p) { std::filesystem::create_symlink("/dev/zero", p); },
       "no regular file (a FIFO, a device or a socket)"},
      {"huge",
       [](const std::string& p) {
         WriteOdbcIni("");
         std::filesystem::resize_file(p, 1 << 30);
       },
       "larger than 1 MiB (1,048,576 bytes)"},
  };
  for (const Case& c : cases) {
    c.make(OdbcIni());
    EXPECT_EQ(c.cause, store_->UnreadableCause()) << c.what;
    std::error_code ignored;
    std::filesystem::remove(OdbcIni(), ignored);
  }
}

TEST_F(OdbcIniStoreTest, OverlongOdbcSysIniIsNotPassedToTheLibrary) {
  // libodbcinst would copy it into a fixed buffer without a length check.
  std::string saved = getenv("ODBCSYSINI");
  std::string overlong = "/" + std::string(5000, 'x');
  setenv("ODBCSYSINI", overlong.c_str(), 1);
  std::string path = SystemOdbcIniPath();
  std::string value;
  bool found = store_->ReadDataSourceValue("Users", "DBQ", &value);
  setenv("ODBCSYSINI", saved.c_str(), 1);
  EXPECT_EQ(overlong + "/odbc.ini", path);
  EXPECT_FALSE(found);
  EXPECT_EQ(OdbcIni(), SystemOdbcIniPath());
}

}  // namespace
}  // namespace tabsync::platform
