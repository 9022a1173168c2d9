#ifndef TABSYNC_STARTUP_DRY_RUN_H_
#define TABSYNC_STARTUP_DRY_RUN_H_

#include <map>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/odbc_installer.h"
#include "platform/registration_store.h"

namespace tabsync::startup {

// The data sources as a dry run sees them: those registered, and those that
// the run's check of the data sources creates, kept in memory where the real
// run writes them. A creation succeeds exactly where the real installer says
// it would (OdbcInstaller::CanAddSystemDataSource), so a data source that the
// real run fails to create (an odbc.ini that is a folder, or that a stray
// line or byte order mark makes unreadable) stays missing here too.
class DryRunDataSources : public platform::RegistrationStore, public platform::OdbcInstaller {
 public:
  // The objects must outlive this one.
  DryRunDataSources(const platform::RegistrationStore& real,
                    const platform::OdbcInstaller& installer)
      : real_(real), installer_(installer) {}

  bool AddSystemDataSource(const std::string& name, const std::string& databaseFile) override;
  bool CanAddSystemDataSource(const std::string& name,
                              const std::string& databaseFile) const override {
    return installer_.CanAddSystemDataSource(name, databaseFile);
  }

  // A created data source has the keys the installer writes: Driver, DBQ
  // and Database.
  bool ReadDataSourceValue(const std::string& data_source, const std::string& key,
                           std::string* value) const override;
  bool CanBeRead() const override { return !created_.empty() || real_.CanBeRead(); }
  std::string UnreadableCause() const override { return real_.UnreadableCause(); }
  std::string Source() const override { return real_.Source(); }

 private:
  const platform::RegistrationStore& real_;
  const platform::OdbcInstaller& installer_;
  std::map<std::string, std::string> created_;  // lower-case data source -> file
};

// The databases of a dry run: copies, in a private temporary folder, of the
// databases that the real run would update, and the data sources as the run
// sees them, pointing at the copies. The real run's code then updates the
// copies; nothing of the site is written.
//
// A data source is pointed at a copy only where the real run would update a
// database: a registered one (`real` holds those the run would create) whose
// "DBQ" names a file in an existing folder other than the update folder, the
// shared database folder counting as existing (the real run creates it
// first). Every other data source reads as it is, so the run skips it (or
// fails on it) just as the real run would, without writing.
class DryRunSite : public platform::RegistrationStore {
 public:
  // The objects must outlive the site. sharedFolder and updateFolder end in
  // "/".
  DryRunSite(platform::FileSystem& files, const platform::RegistrationStore& real,
             const std::string& sharedFolder, const std::string& updateFolder);
  ~DryRunSite() override;
  DryRunSite(const DryRunSite&) = delete;
  DryRunSite& operator=(const DryRunSite&) = delete;

  // Makes the temporary folder and copies the databases into it, one folder
  // of copies per folder of databases, each with its hot journal when it has
  // one (the run's backup rolls it back in the copy). A database in use that
  // is no regular file (a FIFO, a device, a link to one) gets an empty file
  // as its copy, which the run refuses as it refuses that file. Raises the
  // file errors.
  void CopyDatabases();
  // Where the dry run's log goes: in the temporary folder.
  std::string LogPath() const { return temporary_ + "Stabmerge.log"; }
  // The text with each folder of copies named as the real folder it stands
  // for, so that the log reads as the real run's would.
  std::string WithRealFolders(std::string text) const;

  bool ReadDataSourceValue(const std::string& data_source, const std::string& key,
                           std::string* value) const override;
  bool CanBeRead() const override { return real_.CanBeRead(); }
  std::string UnreadableCause() const override { return real_.UnreadableCause(); }
  std::string Source() const override { return real_.Source(); }

 private:
  std::string RealPathFor(const std::string& dataSource) const;
  std::string CopyFolderFor(const std::string& realFolder);
  void CopyDatabase(const std::string& real, const std::string& copy);
  void CopyIfThere(const std::string& path, const std::string& copy);
  void RemoveTree(const std::string& folder);

  platform::FileSystem& files_;
  const platform::RegistrationStore& real_;
  std::string shared_folder_;
  std::string update_folder_;
  std::string temporary_;
  std::map<std::string, std::string> copies_;        // lower-case data source -> copy
  std::vector<std::pair<std::string, std::string>> folders_;  // copy folder, real folder
};

}  // namespace tabsync::startup

#endif  // TABSYNC_STARTUP_DRY_RUN_H_
