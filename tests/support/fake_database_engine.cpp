#include "support/fake_database_engine.h"

#include "dbengine/error.h"
#include "support/fake_file_system.h"

namespace tabsync::test {

class FakeDatabaseEngine::FakeDatabase : public dao::Database {
 public:
  FakeDatabase(FakeDatabaseEngine& engine, std::string path, bool commits)
      : engine_(engine), path_(std::move(path)), commits_(commits) {}

  dao::Collection<dao::TableDef>& TableDefs() override { throw Unsupported(); }
  std::shared_ptr<dao::TableDef> CreateTableDef(const std::string&) override {
    throw Unsupported();
  }
  std::shared_ptr<dao::TableDef> CreateTableDef(const std::string&, int32_t, const std::string&,
                                                const std::string&) override {
    throw Unsupported();
  }
  std::unique_ptr<dao::Recordset> OpenRecordset(const std::string&, int, int) override {
    throw Unsupported();
  }
  void Execute(const std::string&, int) override { throw Unsupported(); }
  // The fake's databases are always sound.
  std::string QuickCheck() override {
    if (closed_) throw ObjectClosed();
    return "";
  }
  int FormatVersion() override { return dao::kFormatVersion; }
  void UpgradeFormat() override {
    auto failure = engine_.upgrade_failures_.find(path_);
    if (failure != engine_.upgrade_failures_.end()) throw Error(failure->second, "upgrade failed");
    engine_.upgrades_.push_back(path_ + " after " + engine_.actions_.back());
  }

  void Close() override {
    if (closed_) throw ObjectClosed();
    engine_.Close(path_, commits_);
    closed_ = true;
  }

 private:
  Error Unsupported() const { return Error(errors::kReserved, "not in the fake: " + path_); }

  FakeDatabaseEngine& engine_;
  std::string path_;
  bool commits_;
  bool closed_ = false;
};

void FakeDatabaseEngine::FailOpen(const std::string& path, int number, const std::string& mode) {
  open_failures_[mode.empty() ? path : path + " " + mode] = number;
}

void FakeDatabaseEngine::FailClose(const std::string& path, int number) {
  close_failures_[path] = number;
}

void FakeDatabaseEngine::FailCloseCall(int k, int number) {
  fail_close_ = closes_ + k;
  fail_close_number_ = number;
}

void FakeDatabaseEngine::Close(const std::string& path, bool commits) {
  auto failure = close_failures_.find(path);
  int number = failure != close_failures_.end() ? failure->second : 0;
  if (++closes_ == fail_close_) number = fail_close_number_;
  if (number != 0) {
    actions_.push_back("close " + path + " FAILED");
    throw Error(number, "close failed");
  }
  actions_.push_back("close " + path);
  if (commits && files_ && files_->HasFile(path)) {
    FakeFileSystem::File file = files_->GetFile(path);
    files_->AddFile(path, file.content + kCommitMark, file.read_only);
  }
}

std::unique_ptr<dao::Database> FakeDatabaseEngine::OpenDatabase(const std::string& path,
                                                                int options, bool readOnly) {
  std::string mode = (options & dao::kOpenImmutable)        ? " immutable"
                     : readOnly                             ? " read-only"
                     : (options & dao::kOpenDiscardChanges) ? " discarding"
                     : options != 0                         ? " exclusive"
                                                            : " shared";
  std::string action = "open " + path + mode;
  auto failure = open_failures_.find(path);
  if (failure == open_failures_.end()) failure = open_failures_.find(path + mode);
  if (failure != open_failures_.end() || (files_ && !files_->HasFile(path))) {
    actions_.push_back(action + " FAILED");
    if (failure == open_failures_.end()) throw FileNotFound(path);
    throw Error(failure->second, "open failed: " + path);
  }
  actions_.push_back(action);
  bool commits = options == dao::kOpenExclusive && !readOnly;
  return std::make_unique<FakeDatabase>(*this, path, commits);
}

std::unique_ptr<dao::Database> FakeDatabaseEngine::CreateDatabase(const std::string& path, int) {
  throw Error(errors::kReserved, "not in the fake: " + path);
}

}  // namespace tabsync::test
