#ifndef TABSYNC_TESTS_SUPPORT_FAKE_DATABASE_ENGINE_H_
#define TABSYNC_TESTS_SUPPORT_FAKE_DATABASE_ENGINE_H_

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/dao.h"

namespace tabsync::test {

// A database engine that opens nothing real and records what was done:
// "open <path> exclusive", "open <path> shared", "close <path>". Its databases
// can only be closed: every other operation raises 3000, and a second Close
// raises 3420, as the engine's does.
class FakeDatabaseEngine : public dao::DatabaseEngine {
 public:
  // Every later OpenDatabase of path raises `number` (e.g. 3045, file in use).
  void FailOpen(const std::string& path, int number);
  // The Close of the database opened from path raises `number`.
  void FailClose(const std::string& path, int number);

  const std::vector<std::string>& Actions() const { return actions_; }

  std::unique_ptr<dao::Database> OpenDatabase(const std::string& path, int options) override;
  std::unique_ptr<dao::Database> CreateDatabase(const std::string& path) override;

 private:
  class FakeDatabase;

  std::map<std::string, int> open_failures_;
  std::map<std::string, int> close_failures_;
  std::vector<std::string> actions_;
};

}  // namespace tabsync::test

#endif  // TABSYNC_TESTS_SUPPORT_FAKE_DATABASE_ENGINE_H_
