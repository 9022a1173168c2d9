// The path functions of file_system.h and the descriptions of FileError.

#include <gtest/gtest.h>

#include "platform/file_system.h"

namespace tabsync::platform {
namespace {

TEST(GetParentFolderNameTest, FileInFolderGivesFolderWithoutSlash) {
  EXPECT_EQ("/srv/db", GetParentFolderName("/srv/db/users.mdb"));
  EXPECT_EQ("db", GetParentFolderName("db/users.mdb"));
}

TEST(GetParentFolderNameTest, FileInRootGivesRoot) {
  EXPECT_EQ("/", GetParentFolderName("/users.mdb"));
  // The caller appends one "/" to a folder, so a root file's folder is "//".
  EXPECT_EQ("//", GetParentFolderName("/users.mdb") + "/");
}

TEST(GetParentFolderNameTest, NameWithoutFolderGivesEmpty) {
  EXPECT_EQ("", GetParentFolderName("users.mdb"));
}

TEST(GetParentFolderNameTest, EmptyPathAndRootGiveEmpty) {
  EXPECT_EQ("", GetParentFolderName(""));
  EXPECT_EQ("", GetParentFolderName("/"));
  EXPECT_EQ("", GetParentFolderName("//"));
}

TEST(GetParentFolderNameTest, TrailingSlashIsIgnored) {
  EXPECT_EQ("/srv", GetParentFolderName("/srv/db/"));
  EXPECT_EQ("/srv", GetParentFolderName("/srv/db//"));
  EXPECT_EQ("/", GetParentFolderName("/srv/"));
  EXPECT_EQ("", GetParentFolderName("db/"));
}

TEST(GetParentFolderNameTest, RepeatedSlashesBeforeNameAreDropped) {
  EXPECT_EQ("/srv//db", GetParentFolderName("/srv//db//users.mdb"));
  EXPECT_EQ("/", GetParentFolderName("//users.mdb"));
}

TEST(GetParentFolderNameTest, DotFoldersAreKeptAsText) {
  EXPECT_EQ(".", GetParentFolderName("./users.mdb"));
  EXPECT_EQ("/srv/db/..", GetParentFolderName("/srv/db/../users.mdb"));
}

TEST(BuildPathTest, InsertsSlashOnlyWhenFolderLacksOne) {
  EXPECT_EQ("/srv/db/users.mdb", BuildPath("/srv/db", "users.mdb"));
  EXPECT_EQ("/srv/db/users.mdb", BuildPath("/srv/db/", "users.mdb"));
}

TEST(BuildPathTest, EmptyFolderGivesNameAlone) {
  EXPECT_EQ("users.mdb", BuildPath("", "users.mdb"));
}

TEST(BuildPathTest, RootFolderGivesOneSlash) {
  EXPECT_EQ("/users.mdb", BuildPath("/", "users.mdb"));
}

TEST(BuildPathTest, ExtraSlashesBetweenFolderAndNameBecomeOne) {
  EXPECT_EQ("/srv/db/users.mdb", BuildPath("/srv/db//", "users.mdb"));
  EXPECT_EQ("/srv/db/users.mdb", BuildPath("/srv/db", "/users.mdb"));
  EXPECT_EQ("/srv/db/users.mdb", BuildPath("/srv/db/", "//users.mdb"));
}

TEST(BuildPathTest, RelativeFolderStaysRelative) {
  EXPECT_EQ("db/users.mdb", BuildPath("db", "users.mdb"));
}

TEST(WithTrailingSlashTest, AppendsSlashWhenMissing) {
  EXPECT_EQ("/srv/db/", WithTrailingSlash("/srv/db"));
  EXPECT_EQ("a/", WithTrailingSlash("a"));
}

TEST(WithTrailingSlashTest, KeepsExistingSlash) {
  EXPECT_EQ("a/", WithTrailingSlash("a/"));
  EXPECT_EQ("/", WithTrailingSlash("/"));
}

TEST(WithTrailingSlashTest, EmptyGivesRoot) { EXPECT_EQ("/", WithTrailingSlash("")); }

TEST(FileErrorTest, KnownNumbersHaveTheirDescriptions) {
  struct Case {
    int number;
    const char* description;
  };
  const Case cases[] = {
      {file_errors::kFileNotFound, "File not found"},
      {file_errors::kFileAlreadyExists, "File already exists"},
      {file_errors::kDiskFull, "Disk full"},
      {file_errors::kPermissionDenied, "Permission denied"},
      {file_errors::kPathFileAccess, "Path/File access error"},
      {file_errors::kPathNotFound, "Path not found"},
  };
  for (const Case& c : cases) {
    Error error = FileError(c.number);
    EXPECT_EQ(c.number, error.Number());
    EXPECT_EQ(c.description, error.Description());
  }
  EXPECT_EQ(53, file_errors::kFileNotFound);
  EXPECT_EQ(58, file_errors::kFileAlreadyExists);
  EXPECT_EQ(61, file_errors::kDiskFull);
  EXPECT_EQ(70, file_errors::kPermissionDenied);
  EXPECT_EQ(75, file_errors::kPathFileAccess);
  EXPECT_EQ(76, file_errors::kPathNotFound);
}

TEST(FileErrorTest, UnknownNumberReadsAsAccessError) {
  Error error = FileError(57);
  EXPECT_EQ(57, error.Number());
  EXPECT_EQ("Path/File access error", error.Description());
}

}  // namespace
}  // namespace tabsync::platform
