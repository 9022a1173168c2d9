// The POSIX file system against real files in a temporary folder. Root may
// open and remove files whatever their permission bits say, so the cases that
// rely on the kernel refusing access are skipped when run as root; the
// read-only rule that the file system checks itself is tested for every user.

#include <signal.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/file_system.h"
#include "platform/ini_file.h"
#include "platform/posix_file_system.h"
#include "support/raised_error.h"
#include "support/file_size_limit.h"
#include "support/temp_dir.h"

namespace tabsync::platform {
namespace {

using test::ExpectError;
using test::RaisedError;
using test::TempDir;

namespace fs = std::filesystem;

bool RunningAsRoot() { return ::geteuid() == 0; }
constexpr char kRootIgnoresPermissions[] = "root is not refused by permission bits";

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  ASSERT_TRUE(out.good()) << path;
}

// Bytes that a text-mode copy or a copy stopping at a zero byte would change.
std::string BinaryBytes(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) % 256);
  return bytes;
}

// Sets a path's mode for one test and gives it back, so that the temporary
// folder can be removed even after a failed assertion.
class ModeForTest {
 public:
  ModeForTest(std::string path, mode_t mode) : path_(std::move(path)), old_(test::ModeOf(path_)) {
    ::chmod(path_.c_str(), mode);
  }
  ~ModeForTest() { ::chmod(path_.c_str(), old_); }

 private:
  std::string path_;
  mode_t old_;
};

class PosixFileSystemTest : public ::testing::Test {
 protected:
  TempDir dir_;
  std::unique_ptr<FileSystem> files_ = NewPosixFileSystem();
};

// Existence

TEST_F(PosixFileSystemTest, FileExistsOnlyForFiles) {
  WriteFile(dir_.File("a.mdb"), "a");
  EXPECT_TRUE(files_->FileExists(dir_.File("a.mdb")));
  EXPECT_FALSE(files_->FileExists(dir_.Path()));
  EXPECT_FALSE(files_->FileExists(dir_.File("missing.mdb")));
  EXPECT_FALSE(files_->FileExists(""));
}

TEST_F(PosixFileSystemTest, FolderExistsOnlyForFolders) {
  WriteFile(dir_.File("a.mdb"), "a");
  EXPECT_TRUE(files_->FolderExists(dir_.Path()));
  EXPECT_TRUE(files_->FolderExists(GetParentFolderName(dir_.Path() + "x")));
  EXPECT_FALSE(files_->FolderExists(dir_.File("a.mdb")));
  EXPECT_FALSE(files_->FolderExists(dir_.File("missing")));
  EXPECT_FALSE(files_->FolderExists(""));
}

// CopyFile

TEST_F(PosixFileSystemTest, CopyCreatesDestinationWithSourceBytes) {
  std::string bytes = BinaryBytes(1200 * 1024);  // more than one read of the fallback
  WriteFile(dir_.File("a.mdb"), bytes);
  files_->CopyFile(dir_.File("a.mdb"), dir_.File("b.mdb"), false);
  EXPECT_EQ(bytes, test::ReadFileBytes(dir_.File("b.mdb")));
  EXPECT_EQ(bytes, test::ReadFileBytes(dir_.File("a.mdb")));
}

// Files in /proc report a size of 0 and the kernel's in-file copy copies
// none of their bytes; the copy must still have them all.
TEST_F(PosixFileSystemTest, CopyOfFileWithoutTrueSizeHasAllItsBytes) {
  std::string bytes = test::ReadFileBytes("/proc/version");
  ASSERT_FALSE(bytes.empty());
  files_->CopyFile("/proc/version", dir_.File("version"), false);
  EXPECT_EQ(bytes, test::ReadFileBytes(dir_.File("version")));
}

TEST_F(PosixFileSystemTest, CopyOfEmptyFileGivesEmptyFile) {
  WriteFile(dir_.File("a.mdb"), "");
  files_->CopyFile(dir_.File("a.mdb"), dir_.File("b.mdb"), false);
  EXPECT_TRUE(files_->FileExists(dir_.File("b.mdb")));
  EXPECT_EQ("", test::ReadFileBytes(dir_.File("b.mdb")));
}

TEST_F(PosixFileSystemTest, CopyWithOverwriteReplacesContentWhole) {
  WriteFile(dir_.File("a.mdb"), "new");
  WriteFile(dir_.File("a.mdb.bak"), "a much longer old content");
  files_->CopyFile(dir_.File("a.mdb"), dir_.File("a.mdb.bak"), true);
  EXPECT_EQ("new", test::ReadFileBytes(dir_.File("a.mdb.bak")));
}

TEST_F(PosixFileSystemTest, CopyLeavesNoTemporaryFiles) {
  WriteFile(dir_.File("a.mdb"), "new");
  WriteFile(dir_.File("b.mdb"), "old");
  files_->CopyFile(dir_.File("a.mdb"), dir_.File("b.mdb"), true);
  files_->CopyFile(dir_.File("a.mdb"), dir_.File("c.mdb"), false);
  EXPECT_EQ((std::set<std::string>{"a.mdb", "b.mdb", "c.mdb"}), test::NamesIn(dir_.Path()));
}

TEST_F(PosixFileSystemTest, CopyKeepsOwnerOnlyPermissionBits) {
  WriteFile(dir_.File("a.mdb"), "secret");
  ASSERT_EQ(0, ::chmod(dir_.File("a.mdb").c_str(), 0600));
  files_->CopyFile(dir_.File("a.mdb"), dir_.File("a.mdb.bak"), false);
  EXPECT_EQ(0600u, test::ModeOf(dir_.File("a.mdb.bak")));
}

TEST_F(PosixFileSystemTest, CopyKeepsReadableByAllPermissionBitsUnderStrictUmask) {
  WriteFile(dir_.File("a.mdb"), "shared");
  ASSERT_EQ(0, ::chmod(dir_.File("a.mdb").c_str(), 0644));
  mode_t old_umask = ::umask(077);
  Error error = RaisedError([&] { files_->CopyFile(dir_.File("a.mdb"), dir_.File("b.mdb"), false); });
  ::umask(old_umask);
  EXPECT_EQ(0, error.Number()) << error.what();
  EXPECT_EQ(0644u, test::ModeOf(dir_.File("b.mdb")));
}

TEST_F(PosixFileSystemTest, CopyOverExistingFileTakesSourcePermissionBits) {
  WriteFile(dir_.File("a.mdb"), "secret");
  WriteFile(dir_.File("a.mdb.bak"), "old");
  ASSERT_EQ(0, ::chmod(dir_.File("a.mdb").c_str(), 0600));
  ASSERT_EQ(0, ::chmod(dir_.File("a.mdb.bak").c_str(), 0666));
  files_->CopyFile(dir_.File("a.mdb"), dir_.File("a.mdb.bak"), true);
  EXPECT_EQ(0600u, test::ModeOf(dir_.File("a.mdb.bak")));
}

TEST_F(PosixFileSystemTest, CopyOfReadOnlySourceIsReadOnly) {
  WriteFile(dir_.File("a.mdb"), "fixed");
  ASSERT_EQ(0, ::chmod(dir_.File("a.mdb").c_str(), 0444));
  files_->CopyFile(dir_.File("a.mdb"), dir_.File("b.mdb"), false);
  EXPECT_EQ("fixed", test::ReadFileBytes(dir_.File("b.mdb")));
  EXPECT_EQ(0444u, test::ModeOf(dir_.File("b.mdb")));
}

TEST_F(PosixFileSystemTest, CopyOfMissingOrFolderSourceIsFileNotFound) {
  EXPECT_EQ("File not found", ExpectError(file_errors::kFileNotFound, [&] {
              files_->CopyFile(dir_.File("missing.mdb"), dir_.File("b.mdb"), true);
            }));
  ASSERT_EQ(0, ::mkdir(dir_.File("folder").c_str(), 0777));
  ExpectError(file_errors::kFileNotFound,
              [&] { files_->CopyFile(dir_.File("folder"), dir_.File("b.mdb"), true); });
  EXPECT_FALSE(files_->FileExists(dir_.File("b.mdb")));
}

TEST_F(PosixFileSystemTest, CopyIntoMissingFolderIsPathNotFoundAndLeavesNothing) {
  WriteFile(dir_.File("a.mdb"), "a");
  EXPECT_EQ("Path not found", ExpectError(file_errors::kPathNotFound, [&] {
              files_->CopyFile(dir_.File("a.mdb"), dir_.File("missing/a.mdb"), true);
            }));
  ExpectError(file_errors::kPathNotFound,
              [&] { files_->CopyFile(dir_.File("a.mdb"), dir_.File("a.mdb/b.mdb"), true); });
  EXPECT_EQ((std::set<std::string>{"a.mdb"}), test::NamesIn(dir_.Path()));
}

TEST_F(PosixFileSystemTest, CopyOntoExistingFileWithoutOverwriteIsRefused) {
  WriteFile(dir_.File("a.mdb"), "new");
  WriteFile(dir_.File("b.mdb"), "old");
  EXPECT_EQ("File already exists", ExpectError(file_errors::kFileAlreadyExists, [&] {
              files_->CopyFile(dir_.File("a.mdb"), dir_.File("b.mdb"), false);
            }));
  EXPECT_EQ("old", test::ReadFileBytes(dir_.File("b.mdb")));
}

TEST_F(PosixFileSystemTest, CopyOntoReadOnlyDestinationIsRefused) {
  WriteFile(dir_.File("a.mdb"), "new");
  WriteFile(dir_.File("a.mdb.bak"), "old");
  ASSERT_EQ(0, ::chmod(dir_.File("a.mdb.bak").c_str(), 0444));
  EXPECT_EQ("Permission denied", ExpectError(file_errors::kPermissionDenied, [&] {
              files_->CopyFile(dir_.File("a.mdb"), dir_.File("a.mdb.bak"), true);
            }));
  EXPECT_EQ("old", test::ReadFileBytes(dir_.File("a.mdb.bak")));
  EXPECT_EQ(0444u, test::ModeOf(dir_.File("a.mdb.bak")));
  EXPECT_EQ((std::set<std::string>{"a.mdb", "a.mdb.bak"}), test::NamesIn(dir_.Path()));
}

TEST_F(PosixFileSystemTest, CopyOntoFolderIsRefused) {
  WriteFile(dir_.File("a.mdb"), "new");
  ASSERT_EQ(0, ::mkdir(dir_.File("b.mdb").c_str(), 0777));
  ExpectError(file_errors::kPermissionDenied,
              [&] { files_->CopyFile(dir_.File("a.mdb"), dir_.File("b.mdb"), true); });
  ExpectError(file_errors::kFileAlreadyExists,
              [&] { files_->CopyFile(dir_.File("a.mdb"), dir_.File("b.mdb"), false); });
  EXPECT_TRUE(files_->FolderExists(dir_.File("b.mdb")));
}

TEST_F(PosixFileSystemTest, CopyThatFailsHalfWayLeavesDestinationAsItWas) {
  std::string bytes = BinaryBytes(256 * 1024);
  WriteFile(dir_.File("a.mdb"), bytes);
  WriteFile(dir_.File("a.mdb.bak"), "old");
  Error error(0, "");
  {
    test::FileSizeLimit limit(64 * 1024);
    error = RaisedError([&] { files_->CopyFile(dir_.File("a.mdb"), dir_.File("a.mdb.bak"), true); });
  }
  EXPECT_EQ(file_errors::kPathFileAccess, error.Number()) << error.what();
  EXPECT_EQ("old", test::ReadFileBytes(dir_.File("a.mdb.bak")));
  EXPECT_EQ((std::set<std::string>{"a.mdb", "a.mdb.bak"}), test::NamesIn(dir_.Path()));
}

TEST_F(PosixFileSystemTest, CopyOfUnreadableSourceIsPermissionDenied) {
  if (RunningAsRoot()) GTEST_SKIP() << kRootIgnoresPermissions;
  WriteFile(dir_.File("a.mdb"), "a");
  ModeForTest unreadable(dir_.File("a.mdb"), 0);
  ExpectError(file_errors::kPermissionDenied,
              [&] { files_->CopyFile(dir_.File("a.mdb"), dir_.File("b.mdb"), false); });
  EXPECT_EQ((std::set<std::string>{"a.mdb"}), test::NamesIn(dir_.Path()));
}

TEST_F(PosixFileSystemTest, CopyIntoUnwritableFolderIsPermissionDenied) {
  if (RunningAsRoot()) GTEST_SKIP() << kRootIgnoresPermissions;
  WriteFile(dir_.File("a.mdb"), "a");
  ASSERT_EQ(0, ::mkdir(dir_.File("locked").c_str(), 0777));
  ModeForTest locked(dir_.File("locked"), 0555);
  ExpectError(file_errors::kPermissionDenied,
              [&] { files_->CopyFile(dir_.File("a.mdb"), dir_.File("locked/a.mdb"), false); });
  EXPECT_TRUE(test::NamesIn(dir_.File("locked")).empty());
}

TEST_F(PosixFileSystemTest, CopyOntoDestinationTheUserMayNotWriteIsRefused) {
  if (RunningAsRoot()) GTEST_SKIP() << kRootIgnoresPermissions;
  WriteFile(dir_.File("a.mdb"), "new");
  WriteFile(dir_.File("b.mdb"), "old");
  // A group write bit keeps the file from counting as read-only, yet its
  // owner may not write it.
  ModeForTest group_only(dir_.File("b.mdb"), 0464);
  ExpectError(file_errors::kPermissionDenied,
              [&] { files_->CopyFile(dir_.File("a.mdb"), dir_.File("b.mdb"), true); });
  EXPECT_EQ(0464u, test::ModeOf(dir_.File("b.mdb")));
}

// MoveFile

TEST_F(PosixFileSystemTest, MoveRenamesFile) {
  WriteFile(dir_.File("a.mdb"), "a");
  files_->MoveFile(dir_.File("a.mdb"), dir_.File("a.mdb.bak"));
  EXPECT_FALSE(files_->FileExists(dir_.File("a.mdb")));
  EXPECT_EQ("a", test::ReadFileBytes(dir_.File("a.mdb.bak")));
}

TEST_F(PosixFileSystemTest, MoveOntoExistingFileIsRefused) {
  WriteFile(dir_.File("a.mdb"), "a");
  WriteFile(dir_.File("b.mdb"), "b");
  ExpectError(file_errors::kFileAlreadyExists,
              [&] { files_->MoveFile(dir_.File("a.mdb"), dir_.File("b.mdb")); });
  EXPECT_EQ("a", test::ReadFileBytes(dir_.File("a.mdb")));
  EXPECT_EQ("b", test::ReadFileBytes(dir_.File("b.mdb")));
}

TEST_F(PosixFileSystemTest, MoveOfMissingOrFolderSourceIsFileNotFound) {
  ExpectError(file_errors::kFileNotFound,
              [&] { files_->MoveFile(dir_.File("missing.mdb"), dir_.File("b.mdb")); });
  ASSERT_EQ(0, ::mkdir(dir_.File("folder").c_str(), 0777));
  ExpectError(file_errors::kFileNotFound,
              [&] { files_->MoveFile(dir_.File("folder"), dir_.File("b.mdb")); });
  EXPECT_TRUE(files_->FolderExists(dir_.File("folder")));
}

TEST_F(PosixFileSystemTest, MoveIntoMissingFolderIsPathNotFound) {
  WriteFile(dir_.File("a.mdb"), "a");
  ExpectError(file_errors::kPathNotFound,
              [&] { files_->MoveFile(dir_.File("a.mdb"), dir_.File("missing/a.mdb")); });
  EXPECT_EQ("a", test::ReadFileBytes(dir_.File("a.mdb")));
}

TEST_F(PosixFileSystemTest, MoveOutOfUnwritableFolderIsPermissionDenied) {
  if (RunningAsRoot()) GTEST_SKIP() << kRootIgnoresPermissions;
  ASSERT_EQ(0, ::mkdir(dir_.File("locked").c_str(), 0777));
  WriteFile(dir_.File("locked/a.mdb"), "a");
  ModeForTest locked(dir_.File("locked"), 0555);
  ExpectError(file_errors::kPermissionDenied,
              [&] { files_->MoveFile(dir_.File("locked/a.mdb"), dir_.File("a.mdb")); });
  EXPECT_FALSE(files_->FileExists(dir_.File("a.mdb")));
}

// A folder on another file system than the temporary folder, removed with
// everything in it when the object goes; Path() is empty when there is none.
class OtherFileSystemFolder {
 public:
  explicit OtherFileSystemFolder(const std::string& here) {
    struct stat ours, shm;
    if (::stat(here.c_str(), &ours) != 0 || ::stat("/dev/shm", &shm) != 0) return;
    if (!S_ISDIR(shm.st_mode) || ours.st_dev == shm.st_dev) return;
    std::string pattern = "/dev/shm/tabsync-test-XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern + "/";
  }
  ~OtherFileSystemFolder() {
    std::error_code ignored;  // a leftover temporary folder is no test failure
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }

  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

TEST_F(PosixFileSystemTest, MoveAcrossFileSystemsCopiesAndRemovesSource) {
  OtherFileSystemFolder other(dir_.Path());
  if (other.Path().empty()) GTEST_SKIP() << "no writable /dev/shm on another file system";
  WriteFile(dir_.File("a.mdb"), "a");
  ASSERT_EQ(0, ::chmod(dir_.File("a.mdb").c_str(), 0600));
  files_->MoveFile(dir_.File("a.mdb"), other.Path() + "a.mdb");
  EXPECT_FALSE(files_->FileExists(dir_.File("a.mdb")));
  EXPECT_EQ("a", test::ReadFileBytes(other.Path() + "a.mdb"));
  EXPECT_EQ(0600u, test::ModeOf(other.Path() + "a.mdb"));
  EXPECT_EQ((std::set<std::string>{"a.mdb"}), test::NamesIn(other.Path()));
}

// DeleteFile

TEST_F(PosixFileSystemTest, DeleteRemovesFile) {
  WriteFile(dir_.File("a.mdb"), "a");
  files_->DeleteFile(dir_.File("a.mdb"), false);
  EXPECT_FALSE(files_->FileExists(dir_.File("a.mdb")));
}

TEST_F(PosixFileSystemTest, DeleteOfMissingFileOrFolderIsFileNotFound) {
  ExpectError(file_errors::kFileNotFound,
              [&] { files_->DeleteFile(dir_.File("missing.mdb"), true); });
  ASSERT_EQ(0, ::mkdir(dir_.File("folder").c_str(), 0777));
  ExpectError(file_errors::kFileNotFound, [&] { files_->DeleteFile(dir_.File("folder"), true); });
  EXPECT_TRUE(files_->FolderExists(dir_.File("folder")));
}

TEST_F(PosixFileSystemTest, DeleteOfReadOnlyFileWithoutForceIsRefused) {
  WriteFile(dir_.File("tabsync.log"), "log");
  ASSERT_EQ(0, ::chmod(dir_.File("tabsync.log").c_str(), 0444));
  ExpectError(file_errors::kPermissionDenied,
              [&] { files_->DeleteFile(dir_.File("tabsync.log"), false); });
  EXPECT_EQ("log", test::ReadFileBytes(dir_.File("tabsync.log")));
}

TEST_F(PosixFileSystemTest, ForcedDeleteRemovesReadOnlyFile) {
  WriteFile(dir_.File("a.mdb.bak"), "old");
  ASSERT_EQ(0, ::chmod(dir_.File("a.mdb.bak").c_str(), 0444));
  files_->DeleteFile(dir_.File("a.mdb.bak"), true);
  EXPECT_FALSE(files_->FileExists(dir_.File("a.mdb.bak")));
}

TEST_F(PosixFileSystemTest, DeleteInUnwritableFolderIsPermissionDenied) {
  if (RunningAsRoot()) GTEST_SKIP() << kRootIgnoresPermissions;
  ASSERT_EQ(0, ::mkdir(dir_.File("locked").c_str(), 0777));
  WriteFile(dir_.File("locked/a.mdb"), "a");
  ModeForTest locked(dir_.File("locked"), 0555);
  ExpectError(file_errors::kPermissionDenied,
              [&] { files_->DeleteFile(dir_.File("locked/a.mdb"), true); });
  EXPECT_TRUE(files_->FileExists(dir_.File("locked/a.mdb")));
}

// CreateFolder

TEST_F(PosixFileSystemTest, CreateFolderMakesFolderWithOrWithoutTrailingSlash) {
  files_->CreateFolder(dir_.File("Infrastructure"));
  files_->CreateFolder(dir_.File("Infrastructure/DB/"));
  EXPECT_TRUE(files_->FolderExists(dir_.File("Infrastructure/DB")));
}

TEST_F(PosixFileSystemTest, CreateExistingFolderOrFileNameIsRefused) {
  ASSERT_EQ(0, ::mkdir(dir_.File("folder").c_str(), 0777));
  WriteFile(dir_.File("file"), "f");
  ExpectError(file_errors::kFileAlreadyExists, [&] { files_->CreateFolder(dir_.File("folder")); });
  ExpectError(file_errors::kFileAlreadyExists, [&] { files_->CreateFolder(dir_.File("file")); });
  EXPECT_TRUE(files_->FileExists(dir_.File("file")));
}

TEST_F(PosixFileSystemTest, CreateFolderInMissingParentIsPathNotFound) {
  ExpectError(file_errors::kPathNotFound,
              [&] { files_->CreateFolder(dir_.File("missing/DB")); });
  WriteFile(dir_.File("file"), "f");
  ExpectError(file_errors::kPathNotFound, [&] { files_->CreateFolder(dir_.File("file/DB")); });
  EXPECT_FALSE(files_->FolderExists(dir_.File("missing")));
}

TEST_F(PosixFileSystemTest, CreateFolderWithOverlongNameIsAccessError) {
  EXPECT_EQ("Path/File access error", ExpectError(file_errors::kPathFileAccess, [&] {
              files_->CreateFolder(dir_.File(std::string(300, 'x')));
            }));
}

TEST_F(PosixFileSystemTest, CreateFolderInUnwritableParentIsPermissionDenied) {
  if (RunningAsRoot()) GTEST_SKIP() << kRootIgnoresPermissions;
  ASSERT_EQ(0, ::mkdir(dir_.File("locked").c_str(), 0777));
  ModeForTest locked(dir_.File("locked"), 0555);
  ExpectError(file_errors::kPermissionDenied,
              [&] { files_->CreateFolder(dir_.File("locked/DB")); });
}

// SameFolder

TEST_F(PosixFileSystemTest, SameFolderFollowsSymbolicLink) {
  ASSERT_EQ(0, ::mkdir(dir_.File("db").c_str(), 0777));
  ASSERT_EQ(0, ::symlink(dir_.File("db").c_str(), dir_.File("link").c_str()));
  EXPECT_TRUE(files_->SameFolder(dir_.File("db"), dir_.File("link/")));
}

TEST_F(PosixFileSystemTest, SameFolderIgnoresSpelling) {
  ASSERT_EQ(0, ::mkdir(dir_.File("a").c_str(), 0777));
  ASSERT_EQ(0, ::mkdir(dir_.File("a/b").c_str(), 0777));
  EXPECT_TRUE(files_->SameFolder(dir_.File("a/b"), dir_.File("a//b/./")));
  EXPECT_TRUE(files_->SameFolder(dir_.File("a/b"), dir_.File("a/b/../b")));
  EXPECT_TRUE(files_->SameFolder("//", "/"));
}

TEST_F(PosixFileSystemTest, SameFolderIsFalseForDifferentMissingOrFileArguments) {
  ASSERT_EQ(0, ::mkdir(dir_.File("a").c_str(), 0777));
  ASSERT_EQ(0, ::mkdir(dir_.File("b").c_str(), 0777));
  WriteFile(dir_.File("f"), "f");
  EXPECT_FALSE(files_->SameFolder(dir_.File("a"), dir_.File("b")));
  EXPECT_FALSE(files_->SameFolder(dir_.File("a"), dir_.File("missing")));
  EXPECT_FALSE(files_->SameFolder(dir_.File("missing"), dir_.File("missing")));
  EXPECT_FALSE(files_->SameFolder(dir_.File("f"), dir_.File("f")));
}

// OpenForAppend

TEST_F(PosixFileSystemTest, AppendWritesExactBytesFromTwoOpenings) {
  std::string log = dir_.File("tabsync.log");
  std::unique_ptr<AppendFile> first = files_->OpenForAppend(log);
  std::unique_ptr<AppendFile> second = files_->OpenForAppend(log);
  first->Append("one\r\n");
  second->Append(std::string("t\0o\r\n", 5));
  first->Append("three\r\n");
  EXPECT_EQ(std::string("one\r\nt\0o\r\nthree\r\n", 17), test::ReadFileBytes(log));
}

TEST_F(PosixFileSystemTest, AppendKeepsExistingContent) {
  WriteFile(dir_.File("tabsync.log"), "old\r\n");
  files_->OpenForAppend(dir_.File("tabsync.log"))->Append("new\r\n");
  EXPECT_EQ("old\r\nnew\r\n", test::ReadFileBytes(dir_.File("tabsync.log")));
}

TEST_F(PosixFileSystemTest, AppendIsInFileBeforeItReturns) {
  std::unique_ptr<AppendFile> log = files_->OpenForAppend(dir_.File("tabsync.log"));
  log->Append("line\r\n");
  EXPECT_EQ("line\r\n", test::ReadFileBytes(dir_.File("tabsync.log")));
}

// The log reads its lines back through the opening that wrote them, also
// once the name has gone.
TEST_F(PosixFileSystemTest, AppendedBytesReadBackThroughTheSameOpening) {
  WriteFile(dir_.File("tabsync.log"), "old\r\n");
  std::unique_ptr<AppendFile> log = files_->OpenForAppend(dir_.File("tabsync.log"));
  log->Append("new\r\n");
  ASSERT_TRUE(log->Readable());
  ASSERT_EQ(0, ::unlink(dir_.File("tabsync.log").c_str()));
  EXPECT_EQ(10u, log->Size());
  std::string bytes;
  log->ReadAt(3, 100, &bytes);
  EXPECT_EQ("\r\nnew\r\n", bytes);
  log->ReadAt(10, 5, &bytes);
  EXPECT_EQ("", bytes);
}

TEST_F(PosixFileSystemTest, AppendFileClosesItsDescriptorWhenDestroyed) {
  size_t before = test::NamesIn("/proc/self/fd").size();
  std::unique_ptr<AppendFile> log = files_->OpenForAppend(dir_.File("tabsync.log"));
  EXPECT_EQ(before + 1, test::NamesIn("/proc/self/fd").size());
  log.reset();
  EXPECT_EQ(before, test::NamesIn("/proc/self/fd").size());
}

TEST_F(PosixFileSystemTest, OpenForAppendOfEmptyPathOrFolderIsAccessError) {
  ExpectError(file_errors::kPathFileAccess, [&] { files_->OpenForAppend(""); });
  ExpectError(file_errors::kPathFileAccess, [&] { files_->OpenForAppend(dir_.Path()); });
  std::string folder = dir_.Path().substr(0, dir_.Path().size() - 1);
  ExpectError(file_errors::kPathFileAccess, [&] { files_->OpenForAppend(folder); });
}

TEST_F(PosixFileSystemTest, OpenForAppendInMissingFolderIsPathNotFound) {
  ExpectError(file_errors::kPathNotFound,
              [&] { files_->OpenForAppend(dir_.File("missing/tabsync.log")); });
  EXPECT_FALSE(files_->FolderExists(dir_.File("missing")));
}

TEST_F(PosixFileSystemTest, OpenForAppendOfUnwritableFileIsPermissionDenied) {
  if (RunningAsRoot()) GTEST_SKIP() << kRootIgnoresPermissions;
  WriteFile(dir_.File("tabsync.log"), "old");
  ModeForTest read_only(dir_.File("tabsync.log"), 0444);
  ExpectError(file_errors::kPermissionDenied,
              [&] { files_->OpenForAppend(dir_.File("tabsync.log")); });
}

TEST_F(PosixFileSystemTest, AppendOnFullDeviceIsDiskFull) {
  if (!files_->FileExists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  std::unique_ptr<AppendFile> full = files_->OpenForAppend("/dev/full");
  EXPECT_EQ("Disk full", ExpectError(file_errors::kDiskFull, [&] { full->Append("line\r\n"); }));
}

// Names that lead elsewhere

// A link is never taken for a missing file, never written through, and a
// delete removes the link itself.
TEST_F(PosixFileSystemTest, SymbolicLinksAreExaminedNotFollowedForWriting) {
  WriteFile(dir_.File("target"), "target");
  ASSERT_EQ(0, symlink(dir_.File("target").c_str(), dir_.File("good").c_str()));
  ASSERT_EQ(0, symlink(dir_.File("gone").c_str(), dir_.File("dangling").c_str()));
  ASSERT_EQ(0, symlink(dir_.File("loop").c_str(), dir_.File("loop").c_str()));
  EXPECT_TRUE(files_->CheckedFileExists(dir_.File("good")));
  EXPECT_FALSE(files_->CheckedFileExists(dir_.File("nothing")));
  EXPECT_FALSE(files_->CheckedFileExists(dir_.Path()));
  EXPECT_FALSE(files_->CheckedFileExists(dir_.File("target/below")));
  for (const char* name : {"dangling", "loop"}) {
    EXPECT_FALSE(files_->FileExists(dir_.File(name))) << name;
    EXPECT_TRUE(files_->IsSymbolicLink(dir_.File(name))) << name;
    ExpectError(file_errors::kPathFileAccess, [&] { files_->CheckedFileExists(dir_.File(name)); });
    ExpectError(file_errors::kPathFileAccess, [&] { files_->OpenForAppend(dir_.File(name)); });
    ExpectError(file_errors::kPathFileAccess, [&] { files_->TryLockFile(dir_.File(name)); });
  }
  ExpectError(file_errors::kPathFileAccess, [&] { files_->OpenForAppend(dir_.File("good")); });
  EXPECT_FALSE(fs::exists(dir_.File("gone")));
  files_->DeleteFile(dir_.File("good"), false);
  files_->DeleteFile(dir_.File("dangling"), false);
  EXPECT_FALSE(fs::is_symlink(dir_.File("good")));
  EXPECT_FALSE(fs::is_symlink(dir_.File("dangling")));
  EXPECT_EQ("target", test::ReadFileBytes(dir_.File("target")));
}

// A FIFO or a device in the place of a database or an ini file: nothing
// waits for a writer or reads without end, and nothing is left behind. A
// link to a regular file is one, and resolves to it; an ini file beyond its
// cap is not read.
TEST_F(PosixFileSystemTest, NoRegularFileIsNeitherReadNorCopied) {
  WriteFile(dir_.File("target"), "target");
  ASSERT_EQ(0, symlink(dir_.File("target").c_str(), dir_.File("good").c_str()));
  ASSERT_EQ(0, mkfifo(dir_.File("fifo").c_str(), 0644));
  ASSERT_EQ(0, symlink("/dev/zero", dir_.File("zero").c_str()));
  EXPECT_TRUE(files_->IsRegularFile(dir_.File("good")));
  EXPECT_EQ(dir_.File("target"), files_->ResolvedPath(dir_.File("good")));
  EXPECT_FALSE(files_->IsRegularFile(dir_.Path()));
  std::set<std::string> names = test::NamesIn(dir_.Path());
  for (const char* name : {"fifo", "zero"}) {
    std::string path = dir_.File(name);
    EXPECT_FALSE(files_->IsRegularFile(path)) << name;
    ExpectError(file_errors::kPathFileAccess,
                [&] { files_->CopyFile(path, dir_.File("copy"), true); });
    ExpectError(file_errors::kPathFileAccess, [&] { files_->ReadFile(path); });
    std::string text;
    EXPECT_FALSE(ReadTextFile(path, &text)) << name;
    EXPECT_EQ(names, test::NamesIn(dir_.Path())) << name;
  }
  std::string text;
  WriteFile(dir_.File("odbc.ini"), std::string(kMaxIniFileSize, '\n'));
  EXPECT_TRUE(ReadTextFile(dir_.File("odbc.ini"), &text));
  WriteFile(dir_.File("odbc.ini"), std::string(kMaxIniFileSize + 1, '\n'));
  EXPECT_FALSE(ReadTextFile(dir_.File("odbc.ini"), &text));
}

TEST_F(PosixFileSystemTest, UnsearchableFolderIsNoMissingFile) {
  if (RunningAsRoot()) GTEST_SKIP() << kRootIgnoresPermissions;
  ASSERT_EQ(0, mkdir(dir_.File("closed").c_str(), 0755));
  WriteFile(dir_.File("closed/users.mdb"), "in use");
  ModeForTest closed(dir_.File("closed"), 0);
  ExpectError(file_errors::kPermissionDenied,
              [&] { files_->CheckedFileExists(dir_.File("closed/users.mdb")); });
}

// Replacing, owners, folders and locks

TEST_F(PosixFileSystemTest, ReplaceRenamesOverTheDestination) {
  WriteFile(dir_.File("new"), "new");
  WriteFile(dir_.File("old"), "old");
  files_->ReplaceFile(dir_.File("new"), dir_.File("old"));
  EXPECT_EQ("new", test::ReadFileBytes(dir_.File("old")));
  EXPECT_FALSE(fs::exists(dir_.File("new")));
  ExpectError(file_errors::kFileNotFound, [&] { files_->ReplaceFile(dir_.File("new"), dir_.File("old")); });
  WriteFile(dir_.File("new"), "new");
  ExpectError(file_errors::kPermissionDenied,
              [&] { files_->ReplaceFile(dir_.File("new"), dir_.Path()); });
}

// As root, a copy and a replacement keep the owner, group and mode of the
// operator's file, not root's.
TEST_F(PosixFileSystemTest, CopiesAndReplacementsKeepOwnerGroupAndMode) {
  if (!RunningAsRoot()) GTEST_SKIP() << "only root may give files away";
  WriteFile(dir_.File("db"), "in use");
  ASSERT_EQ(0, chown(dir_.File("db").c_str(), 65534, 65534));
  ASSERT_EQ(0, chmod(dir_.File("db").c_str(), 0640));
  files_->CopyFile(dir_.File("db"), dir_.File("db.bak"), true);
  WriteFile(dir_.File("work"), "merged");
  files_->CopyOwnerAndMode(dir_.File("db"), dir_.File("work"));
  for (const char* name : {"db.bak", "work"}) {
    struct stat info;
    ASSERT_EQ(0, stat(dir_.File(name).c_str(), &info));
    EXPECT_EQ(65534u, info.st_uid) << name;
    EXPECT_EQ(65534u, info.st_gid) << name;
    EXPECT_EQ(0640u, info.st_mode & 07777) << name;
  }
}

TEST_F(PosixFileSystemTest, OnlyCutOffCopiesOfTheNameAreRemoved) {
  for (const char* name : {".users.mdb.tmp-Ab3xYz", ".users.mdb.bak.tmp-Ab3xYz", "users.mdb",
                           ".users.mdb.tmp-Ab3xY", ".xusers.mdb.tmp-Ab3xYz"})
    WriteFile(dir_.File(name), "x");
  files_->RemoveCutOffCopies(dir_.File("users.mdb"));
  EXPECT_EQ((std::set<std::string>{".users.mdb.bak.tmp-Ab3xYz", "users.mdb",
                                   ".users.mdb.tmp-Ab3xY", ".xusers.mdb.tmp-Ab3xYz"}),
            test::NamesIn(dir_.Path()));
}

TEST_F(PosixFileSystemTest, FoldersAreListedAndOnlyEmptyOnesDeleted) {
  ASSERT_EQ(0, mkdir(dir_.File("run").c_str(), 0755));
  WriteFile(dir_.File("run/a.bak"), "a");
  ASSERT_EQ(0, symlink("nowhere", dir_.File("run/link").c_str()));
  std::vector<std::string> names = files_->ListFolder(dir_.File("run"));
  EXPECT_EQ((std::set<std::string>{"a.bak", "link"}), std::set<std::string>(names.begin(), names.end()));
  ExpectError(file_errors::kPathFileAccess, [&] { files_->DeleteFolder(dir_.File("run")); });
  for (const std::string& name : names) files_->DeleteFile(dir_.File("run/" + name), true);
  files_->DeleteFolder(dir_.File("run"));
  EXPECT_FALSE(fs::exists(dir_.File("run")));
  ExpectError(file_errors::kPathNotFound, [&] { files_->ListFolder(dir_.File("run")); });
  ExpectError(file_errors::kPathNotFound, [&] { files_->DeleteFolder(dir_.File("run")); });
}

// One holder at a time, within a process and across processes; a holder that
// dies drops its lock.
TEST_F(PosixFileSystemTest, LockIsHeldByOneAtATimeAndDiesWithItsHolder) {
  std::string path = dir_.File("tabsync.lock");
  std::unique_ptr<FileLock> first = files_->TryLockFile(path);
  ASSERT_NE(nullptr, first);
  EXPECT_EQ(nullptr, files_->TryLockFile(path));
  pid_t child = fork();
  if (child == 0) _exit(NewPosixFileSystem()->TryLockFile(path) == nullptr ? 0 : 1);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(0, WEXITSTATUS(status)) << "another process got the lock";
  first.reset();
  child = fork();
  if (child == 0) {
    auto held = NewPosixFileSystem()->TryLockFile(path);
    pause();
  }
  while (files_->TryLockFile(path) != nullptr) usleep(1000);  // until the child holds it
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  EXPECT_NE(nullptr, files_->TryLockFile(path));
  ExpectError(file_errors::kPathNotFound, [&] { files_->TryLockFile(dir_.File("no/x.lock")); });
}

// The free space of a small file system of its own (a tmpfs of 1 MiB, where
// the test may mount one): its own device, and less room once a file takes
// some.
TEST_F(PosixFileSystemTest, DiskSpaceIsThatOfTheFoldersFileSystem) {
  std::string small = dir_.File("small");
  ASSERT_EQ(0, mkdir(small.c_str(), 0755));
  if (mount("tabsync-test", small.c_str(), "tmpfs", 0, "size=1m") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here";
  DiskSpace outside, before, after, none;
  bool got = files_->GetDiskSpace(dir_.Path(), &outside) && files_->GetDiskSpace(small, &before);
  std::ofstream(small + "/taken", std::ios::binary) << std::string(256 * 1024, 'x');
  got = got && files_->GetDiskSpace(small + "/", &after);
  bool of_file = files_->GetDiskSpace(small + "/taken", &none);
  bool of_missing = files_->GetDiskSpace(small + "/missing", &none);
  umount(small.c_str());
  ASSERT_TRUE(got);
  EXPECT_FALSE(of_file);
  EXPECT_FALSE(of_missing);
  EXPECT_NE(outside.device, before.device);
  EXPECT_EQ(before.device, after.device);
  EXPECT_EQ(1024u * 1024, before.available);
  EXPECT_EQ(before.available - 256 * 1024, after.available);
}

// The holder is readable while it holds the lock, and the file is empty again
// once it is gone.
TEST_F(PosixFileSystemTest, LockHolderIsRecordedWhileTheLockIsHeld) {
  std::string path = dir_.File("tabsync.lock");
  std::unique_ptr<FileLock> lock = files_->TryLockFile(path);
  lock->RecordHolder("2026-12-08 09:05:31");
  LockHolder holder;
  ASSERT_TRUE(ParseLockHolder(files_->ReadFile(path), &holder));
  EXPECT_EQ(getpid(), holder.pid);
  EXPECT_EQ("2026-12-08 09:05:31", holder.started);
  lock.reset();
  EXPECT_EQ("", files_->ReadFile(path));
  EXPECT_FALSE(ParseLockHolder("", &holder));
  EXPECT_FALSE(ParseLockHolder("pid x\nstarted 2026-12-08 09:05:31\n", &holder));
}

}  // namespace
}  // namespace tabsync::platform
