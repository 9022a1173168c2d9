#ifndef TABSYNC_PLATFORM_REGISTRATION_STORE_H_
#define TABSYNC_PLATFORM_REGISTRATION_STORE_H_

#include <string>

namespace tabsync::platform {

// Where the system's ODBC data sources are registered. Every call reads the
// store afresh, so a registration made a moment earlier, by this program or
// another, is seen.
//
// Abstract so that the logic can be tested against an in-memory fake; the real
// one is NewOdbcIniStore() in odbc_ini_store.h.
class RegistrationStore {
 public:
  virtual ~RegistrationStore() = default;

  // The value of `key` of the system data source `data_source` (both names
  // compared ignoring letter case), blanks around it trimmed, whatever its
  // length. False, with *value untouched, when the store cannot be read, or
  // the data source or its key is not there.
  virtual bool ReadDataSourceValue(const std::string& data_source, const std::string& key,
                                   std::string* value) const = 0;

  // True when the store itself can be read (odbc.ini exists and may be
  // read), whatever it holds.
  virtual bool CanBeRead() const = 0;
  // Why the store, which is there, cannot be read, for a message after
  // Source() (odbc.ini "a folder", "larger than 1 MiB ..."; see
  // TextFileProblem in ini_file.h). "" when it can be read, and when there is
  // none yet: a first installation creates it.
  virtual std::string UnreadableCause() const = 0;
  // Where the store is kept, for messages (the path of odbc.ini).
  virtual std::string Source() const = 0;
};

}  // namespace tabsync::platform

#endif  // TABSYNC_PLATFORM_REGISTRATION_STORE_H_
