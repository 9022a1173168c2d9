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
  };

  // Adds a folder (and its parents) / a file (and its folders).
  void AddFolder(const std::string& path);
  void AddFile(const std::string& path, const std::string& content, bool read_only = false);
  // Adds the folder `alias`, which SameFolder takes for `folder`, as for a
  // symbolic link (its files are not shared, though).
  void AddFolderAlias(const std::string& alias, const std::string& folder);
  // Makes FolderExists deny the folder while its files stay reachable.
  void HideFolder(const std::string& path);

  // The next call of `operation` ("copy", "move", "delete", "create folder",
  // "append") whose path (the destination, for copy and move) is `path`
  // raises `number`, and so does every later one.
  void FailOn(const std::string& operation, const std::string& path, int number);
  // Ends every failure set by FailOn.
  void StopFailing() { failures_.clear(); }

  bool HasFile(const std::string& path) const;
  // Raises std::out_of_range when the file is missing.
  const File& GetFile(const std::string& path) const;
  // One entry per operation that changed something, e.g.
  // "copy /upd/config.mdb -> /db/config.mdb", "delete /db/config.mdb.bak",
  // "create folder /db", "move /a -> /b"; failed calls appear with " FAILED".
  // Appends are not listed (the log file would fill the list).
  const std::vector<std::string>& Actions() const { return actions_; }

  bool FileExists(const std::string& path) const override;
  bool FolderExists(const std::string& path) const override;
  bool SameFolder(const std::string& a, const std::string& b) const override;
  // Same folder (as SameFolder) and same name.
  bool SameFile(const std::string& a, const std::string& b) const override;
  void CreateFolder(const std::string& path) override;
  void CopyFile(const std::string& source, const std::string& destination,
                bool overwrite) override;
  void MoveFile(const std::string& source, const std::string& destination) override;
  void DeleteFile(const std::string& path, bool force) override;
  std::unique_ptr<platform::AppendFile> OpenForAppend(const std::string& path) override;

 private:
  class FakeAppendFile;

  static std::string Normal(const std::string& path);
  std::string Resolved(const std::string& folder) const;
  bool ParentExists(const std::string& normal_path) const;
  void Record(const std::string& action);
  void CheckInjected(const std::string& operation, const std::string& path,
                     const std::string& action);

  std::map<std::string, File> files_;
  std::set<std::string> folders_{"/"};
  std::map<std::string, std::string> aliases_;
  std::set<std::string> hidden_;
  std::map<std::pair<std::string, std::string>, int> failures_;
  std::vector<std::string> actions_;
};

}  // namespace tabsync::test

#endif  // TABSYNC_TESTS_SUPPORT_FAKE_FILE_SYSTEM_H_
