#ifndef TABSYNC_IMPORT_IMPORT_ERRORS_H_
#define TABSYNC_IMPORT_IMPORT_ERRORS_H_

// The errors of tabsync-import. They are tabsync::Error values like the
// engine's, with numbers of their own (4001 on) next to the engine numbers
// they reuse (3024 missing file, 3204 output exists, 3343 not a database).

#include <string>

#include "base/error.h"

namespace tabsync::import {

namespace errors {
constexpr int kUnsupported = 4001;        // a column or value the format cannot hold
constexpr int kProtected = 4002;          // password-protected or encrypted file
constexpr int kReaderFailed = 4003;       // the libmdb reader crashed, hung, overran or failed
constexpr int kDamagedStream = 4004;      // the reader's output is not well formed
constexpr int kOutputFailed = 4005;       // the output could not be put in place
}  // namespace errors

// "<file>: not a Jet or ACE database file" (3343).
Error NotJetFile(const std::string& path);
// "<file>: the file is encrypted, which cannot be imported" (4002).
Error ProtectedFile(const std::string& path, const std::string& what);
// "<file>: the file is password-protected: give its password ..." (4002).
Error PasswordNeeded(const std::string& path);
// "<file>: the password given is not the file's password" (4002).
Error WrongPassword(const std::string& path);
// "Table 'T', column 'C': <what>, which the format cannot hold" (4001).
Error Unsupported(const std::string& table, const std::string& column, const std::string& what);
// The reader's failure, with its reason (4003).
Error ReaderFailed(const std::string& reason);
// A frame that does not decode (4004).
Error DamagedStream();

}  // namespace tabsync::import

#endif  // TABSYNC_IMPORT_IMPORT_ERRORS_H_
