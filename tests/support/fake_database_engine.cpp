#include "support/fake_database_engine.h"

#include "dbengine/error.h"

namespace tabsync::test {

class FakeDatabaseEngine::FakeDatabase : public dao::Database {
 public:
  FakeDatabase(FakeDatabaseEngine& engine, std::string path) : engine_(engine), path_(std::move(path)) {}

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

  void Close() override {
    if (closed_) throw ObjectClosed();
    auto failure = engine_.close_failures_.find(path_);
    if (failure != engine_.close_failures_.end()) {
      engine_.actions_.push_back("close " + path_ + " FAILED");
      throw Error(failure->second, "close failed");
    }
    closed_ = true;
    engine_.actions_.push_back("close " + path_);
  }

 private:
  Error Unsupported() const { return Error(errors::kReserved, "not in the fake: " + path_); }

  FakeDatabaseEngine& engine_;
  std::string path_;
  bool closed_ = false;
};

void FakeDatabaseEngine::FailOpen(const std::string& path, int number) {
  open_failures_[path] = number;
}

void FakeDatabaseEngine::FailClose(const std::string& path, int number) {
  close_failures_[path] = number;
}

std::unique_ptr<dao::Database> FakeDatabaseEngine::OpenDatabase(const std::string& path,
                                                                int options) {
  std::string action = "open " + path + (options != 0 ? " exclusive" : " shared");
  auto failure = open_failures_.find(path);
  if (failure != open_failures_.end()) {
    actions_.push_back(action + " FAILED");
    throw Error(failure->second, "open failed: " + path);
  }
  actions_.push_back(action);
  return std::make_unique<FakeDatabase>(*this, path);
}

std::unique_ptr<dao::Database> FakeDatabaseEngine::CreateDatabase(const std::string& path) {
  throw Error(errors::kReserved, "not in the fake: " + path);
}

}  // namespace tabsync::test
