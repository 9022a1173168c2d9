#include "import/import_errors.h"

#include "dbengine/error.h"

namespace tabsync::import {

Error NotJetFile(const std::string& path) {
  return Error(tabsync::errors::kUnrecognizedFormat, path + ": not a Jet or ACE database file");
}

Error ProtectedFile(const std::string& path, const std::string& what) {
  return Error(errors::kProtected, path + ": the file is " + what + ", which cannot be imported");
}

Error PasswordNeeded(const std::string& path) {
  return Error(errors::kProtected,
               path + ": the file is password-protected: give its password with --password or --password-file");
}

Error WrongPassword(const std::string& path) {
  return Error(errors::kProtected, path + ": the password given is not the file's password");
}

Error Unsupported(const std::string& table, const std::string& column, const std::string& what) {
  return Error(errors::kUnsupported, "table '" + table + "', column '" + column + "': " + what +
                                         ", which the format cannot hold");
}

Error ReaderFailed(const std::string& reason) {
  return Error(errors::kReaderFailed, "reading the file failed: " + reason);
}

Error DamagedStream() {
  return Error(errors::kDamagedStream, "reading the file failed: the reader's output is damaged");
}

}  // namespace tabsync::import
