#ifndef TABSYNC_BASE_ERROR_H_
#define TABSYNC_BASE_ERROR_H_

#include <exception>
#include <string>

namespace tabsync {

// The one error type of every layer (the database engine, the file
// operations, the stores, the import): a number and a description, as the
// update run logs them (" ERROR " + number + ": " + description). Every
// failing engine or file operation raises it; callers let it pass or capture
// it. The engine's numbers are in dbengine/error.h, the file operations' in
// platform/file_system.h.
class Error : public std::exception {
 public:
  Error(int number, std::string description);

  int Number() const { return number_; }
  const std::string& Description() const { return description_; }

  // "<number>: <description>", for diagnostics and test failures.
  const char* what() const noexcept override { return what_.c_str(); }

 private:
  int number_;
  std::string description_;
  std::string what_;
};

}  // namespace tabsync

#endif  // TABSYNC_BASE_ERROR_H_
