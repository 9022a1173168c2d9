#ifndef TABSYNC_TESTS_SUPPORT_FAKE_FILE_SYSTEM_H_
#define TABSYNC_TESTS_SUPPORT_FAKE_FILE_SYSTEM_H_

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace tabsync::test {

// An in-memory file system that records what was done. Paths are compared
// after folding repeated "/" and dropping a trailing one, so "//db/" and
// "/db" name the same folder. Operations follow the contract of
// platform::FileSystem, including its error numbers.
class FakeFileSystem : public platform::FileSystem {
 public:
  struct File {
    std::string content;
    bool read_only = false;
    std::string owner = "operator";  // stands for owner, group and mode
  };

  // Adds a folder (and its parents) / a file (and its folders).
  void AddFolder(const std::string& path);
  void AddFile(const std::string& path, const std::string& content, bool read_only = false);
  // Adds the folder `alias`, which SameFolder takes for `folder`, as for a
  // symbolic link (its files are not shared, though).
  void AddFolderAlias(const std::string& alias, const std::string& folder);
  // The file system of `folder` and the folders below it (unless one of them
  // has its own): `available` bytes free, device `device`. Every other
  // folder has 1 TiB free on device 0.
  void SetDiskSpace(const std::string& folder, uint64_t available, uint64_t device);
  // Makes FolderExists deny the folder while its files stay reachable.
  void HideFolder(const std::string& path);
  // Adds a name that is there but cannot be examined (a link to nowhere, a
  // file behind a folder that may not be searched): FileExists is false,
  // CheckedFileExists raises `number`, DeleteFile removes the name.
  void AddUnexaminable(const std::string& path, int number);
  // Adds a symbolic link to nowhere, which OpenForAppend refuses (75).
  void AddDanglingLink(const std::string& path);

  // The next call of `operation` ("copy", "move", "replace", "copy owner",
  // "delete", "delete folder", "create folder", "lock", "open for append",
  // "append") whose path (the destination, for copy, move, replace and copy
  // owner) is `path` raises `number`, and so does every later one.
  void FailOn(const std::string& operation, const std::string& path, int number);
  // A failing append (FailOn, FailCall) first writes this many bytes of its
  // text, as a write cut off by a full disk does; 0 by default.
  void CutOffFailingAppends(size_t bytes) { cut_off_bytes_ = bytes; }
  // Ends every failure set by FailOn and FailCall.
  void StopFailing() {
    failures_.clear();
    fail_call_ = 0;
  }
  // The k-th call from now (from 1) of an operation that may change
  // something (create or delete a folder, copy, move, replace, copy owner,
  // delete, lock, open for appending, append) raises `number`; the calls
  // before and after it work.
  void FailCall(int k, int number);
  // How many such calls were made so far.
  int CallCount() const { return calls_; }

  bool HasFile(const std::string& path) const;
  // Raises std::out_of_range when the file is missing.
  const File& GetFile(const std::string& path) const;
  // One entry per operation that changed something, e.g.
  // "copy /upd/config.mdb -> /db/config.mdb", "delete /db/config.mdb.bak",
  // "create folder /db", "move /a -> /b", "replace /db/x by /db/y",
  // "copy owner /a -> /b"; failed calls appear with " FAILED".
  // Appends are not listed (the log file would fill the list).
  const std::vector<std::string>& Actions() const { return actions_; }

  // Whether a FileLock of TryLockFile is held on the path.
  bool IsLocked(const std::string& path) const { return locked_.count(Normal(path)) != 0; }

  bool FileExists(const std::string& path) const override;
  bool CheckedFileExists(const std::string& path) const override;
  bool IsSymbolicLink(const std::string& path) const override;
  // Every file of the fake is a regular one.
  bool IsRegularFile(const std::string& path) const override;
  // The fake's only links lead nowhere (AddDanglingLink): a file or folder
  // is its own path, folded.
  std::string ResolvedPath(const std::string& path) const override;
  std::string ReadFile(const std::string& path) const override;
  // The size is the content's; the time is 12-07-2026 09:05:31.
  bool GetFileInfo(const std::string& path, platform::FileInfo* info) const override;
  // "/tmp/fake.N/", made anew at each call.
  std::string CreateTemporaryFolder() override;
  bool FolderExists(const std::string& path) const override;
  // As SetDiskSpace set it, for an existing folder.
  bool GetDiskSpace(const std::string& path, platform::DiskSpace* space) const override;
  bool SameFolder(const std::string& a, const std::string& b) const override;
  // Same folder (as SameFolder) and same name.
  bool SameFile(const std::string& a, const std::string& b) const override;
  void CreateFolder(const std::string& path) override;
  void CopyFile(const std::string& source, const std::string& destination,
                bool overwrite) override;
  // The fake's copies are never cut off: nothing to remove.
  void RemoveCutOffCopies(const std::string& destination) override;
  void ReplaceFile(const std::string& source, const std::string& destination) override;
  void CopyOwnerAndMode(const std::string& model, const std::string& path) override;
  void MoveFile(const std::string& source, const std::string& destination) override;
  void DeleteFile(const std::string& path, bool force) override;
  std::vector<std::string> ListFolder(const std::string& path) const override;
  void DeleteFolder(const std::string& path) override;
  std::unique_ptr<platform::FileLock> TryLockFile(const std::string& path) override;
  std::unique_ptr<platform::AppendFile> OpenForAppend(const std::string& path) override;

 private:
  class FakeAppendFile;
  class FakeFileLock;

  static std::string Normal(const std::string& path);
  std::string Resolved(const std::string& folder) const;
  bool ParentExists(const std::string& normal_path) const;
  void Record(const std::string& action);
  void CheckInjected(const std::string& operation, const std::string& path,
                     const std::string& action);

  std::map<std::string, File> files_;
  std::map<std::string, int> unexaminable_;  // name -> error number
  std::set<std::string> links_;
  std::set<std::string> locked_;
  std::set<std::string> folders_{"/"};
  int calls_ = 0;
  int temporary_folders_ = 0;
  int fail_call_ = 0;  // the call count that fails; 0: none
  int fail_number_ = 0;
  size_t cut_off_bytes_ = 0;
  std::map<std::string, std::string> aliases_;
  std::set<std::string> hidden_;
  std::map<std::string, platform::DiskSpace> disk_space_;  // by folder
  std::map<std::pair<std::string, std::string>, int> failures_;
  std::vector<std::string> actions_;
};

}  // namespace tabsync::test

#endif  // TABSYNC_TESTS_SUPPORT_FAKE_FILE_SYSTEM_H_
