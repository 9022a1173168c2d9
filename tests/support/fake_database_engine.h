#ifndef TABSYNC_TESTS_SUPPORT_FAKE_DATABASE_ENGINE_H_
#define TABSYNC_TESTS_SUPPORT_FAKE_DATABASE_ENGINE_H_

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/dao.h"

namespace tabsync::test {

class FakeFileSystem;

// A database engine that opens nothing real and records what was done:
// "open <path> exclusive", "open <path> shared", "open <path> read-only",
// "open <path> discarding" (kOpenDiscardChanges), "open <path> immutable"
// (kOpenImmutable), "close <path>", and apart from these the paths whose
// databases were asked to UpgradeFormat. Its databases can only be checked
// (always sound), closed, report kFormatVersion and upgrade: every other
// operation raises 3000, and a second Close raises 3420, as the engine's
// does.
class FakeDatabaseEngine : public dao::DatabaseEngine {
 public:
  // What a commit appends to a database file of CommitInto's file system.
  static constexpr char kCommitMark[] = "|committed";

  // Every later OpenDatabase of path raises `number` (e.g. 3045, file in use);
  // with a mode ("exclusive", ... as in Actions), only the opens in that mode.
  void FailOpen(const std::string& path, int number, const std::string& mode = "");
  // UpgradeFormat of the database opened from path raises `number`.
  void FailUpgrade(const std::string& path, int number) { upgrade_failures_[path] = number; }
  // The Close of the database opened from path raises `number`.
  void FailClose(const std::string& path, int number);
  // The k-th Close from now (from 1) raises `number`, the others work.
  void FailCloseCall(int k, int number);
  // From now on the databases are files of `files`: opening a missing one
  // raises 3024, and the Close of an exclusive session that keeps its
  // changes appends kCommitMark to the file, standing for its commit. A
  // failed Close leaves the file as it was.
  void CommitInto(FakeFileSystem* files) { files_ = files; }

  const std::vector<std::string>& Actions() const { return actions_; }
  // "<path> after <last action>" for each UpgradeFormat, in order.
  const std::vector<std::string>& Upgrades() const { return upgrades_; }

  std::unique_ptr<dao::Database> OpenDatabase(const std::string& path, int options,
                                              bool readOnly) override;
  std::unique_ptr<dao::Database> CreateDatabase(const std::string& path,
                                                int formatVersion) override;

 private:
  class FakeDatabase;

  void Close(const std::string& path, bool commits);

  std::map<std::string, int> open_failures_;
  std::map<std::string, int> close_failures_;
  std::map<std::string, int> upgrade_failures_;
  int closes_ = 0;
  int fail_close_ = 0;
  int fail_close_number_ = 0;
  FakeFileSystem* files_ = nullptr;
  std::vector<std::string> actions_;
  std::vector<std::string> upgrades_;
};

}  // namespace tabsync::test

#endif  // TABSYNC_TESTS_SUPPORT_FAKE_DATABASE_ENGINE_H_
