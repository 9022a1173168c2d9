#include "startup/dry_run.h"

#include "dbengine/names.h"
#include "engine/catalogue.h"
#include "install/data_source_lookup.h"

namespace tabsync::startup {

bool DryRunDataSources::AddSystemDataSource(const std::string& name,
                                            const std::string& databaseFile) {
  if (!installer_.CanAddSystemDataSource(name, databaseFile)) return false;
  created_[dao::LowerName(name)] = databaseFile;
  return true;
}

bool DryRunDataSources::ReadDataSourceValue(const std::string& data_source,
                                            const std::string& key, std::string* value) const {
  auto created = created_.find(dao::LowerName(data_source));
  if (created == created_.end()) return real_.ReadDataSourceValue(data_source, key, value);
  std::string lower_key = dao::LowerName(key);
  if (lower_key == "driver") {
    *value = platform::kDataSourceDriver;
  } else if (lower_key == "dbq" || lower_key == "database") {
    *value = created->second;
  } else {
    return false;
  }
  return true;
}

DryRunSite::DryRunSite(platform::FileSystem& files, const platform::RegistrationStore& real,
                       const std::string& sharedFolder, const std::string& updateFolder)
    : files_(files), real_(real), shared_folder_(sharedFolder), update_folder_(updateFolder) {}

DryRunSite::~DryRunSite() {
  if (temporary_.empty()) return;
  try {
    RemoveTree(temporary_);
  } catch (const Error&) {
    // A copy left in the temporary folder changes nothing of the site.
  }
}

void DryRunSite::CopyDatabases() {
  temporary_ = files_.CreateTemporaryFolder();
  for (const engine::CatalogueEntry& entry : engine::DatabaseCatalogue) {
    std::string real = RealPathFor(entry.data_source_name);
    if (real.empty()) continue;
    std::string folder = platform::GetParentFolderName(real) + "/";
    std::string copy = CopyFolderFor(folder) + real.substr(folder.size());
    // What cannot be examined is left to the run, which reports it.
    bool there = false;
    try {
      there = files_.CheckedFileExists(real);
    } catch (const Error&) {
      continue;
    }
    if (there) {
      CopyDatabase(real, copy);
      CopyIfThere(real + "-journal", copy + "-journal");
    }
    copies_[dao::LowerName(entry.data_source_name)] = copy;
  }
}

// "" when the real run would not update the database there.
std::string DryRunSite::RealPathFor(const std::string& dataSource) const {
  std::string path;
  if (!install::GetDataSourcePath(real_, dataSource, &path) ||
      !install::NamesDatabaseFile(files_, path))
    return "";
  std::string folder = platform::GetParentFolderName(path) + "/";
  // The real run creates the shared folder before it looks at a database.
  if (folder == shared_folder_ && !files_.FolderExists(folder)) return path;
  if (!files_.FolderExists(folder) || files_.SameFolder(folder, update_folder_)) return "";
  return path;
}

std::string DryRunSite::CopyFolderFor(const std::string& realFolder) {
  for (const auto& [copy, real] : folders_)
    if (real == realFolder) return copy;
  std::string copy = temporary_ + "db" + std::to_string(folders_.size() + 1) + "/";
  files_.CreateFolder(copy);
  folders_.emplace_back(copy, realFolder);
  return copy;
}

// A FIFO or a device is never read, nor copied: an empty file stands in for
// it, which the engine refuses before it opens anything with the error it
// gives a FIFO or a device (3343, naming the path), so the run logs and ends
// as the real run does.
void DryRunSite::CopyDatabase(const std::string& real, const std::string& copy) {
  if (files_.IsRegularFile(real)) {
    files_.CopyFile(real, copy, false);
  } else {
    files_.OpenForAppend(copy);
  }
}

void DryRunSite::CopyIfThere(const std::string& path, const std::string& copy) {
  if (files_.FileExists(path)) files_.CopyFile(path, copy, false);
}

std::string DryRunSite::WithRealFolders(std::string text) const {
  for (const auto& [copy, real] : folders_) {
    for (size_t at = text.find(copy); at != std::string::npos; at = text.find(copy, at + real.size()))
      text.replace(at, copy.size(), real);
  }
  return text;
}

bool DryRunSite::ReadDataSourceValue(const std::string& data_source, const std::string& key,
                                     std::string* value) const {
  auto copy = copies_.find(dao::LowerName(data_source));
  if (copy == copies_.end() || dao::LowerName(key) != "dbq") {
    return real_.ReadDataSourceValue(data_source, key, value);
  }
  *value = copy->second;
  return true;
}

void DryRunSite::RemoveTree(const std::string& folder) {
  for (const std::string& name : files_.ListFolder(folder)) {
    std::string path = platform::BuildPath(folder, name);
    if (files_.FolderExists(path) && !files_.IsSymbolicLink(path)) {
      RemoveTree(path);
    } else {
      files_.DeleteFile(path, true);
    }
  }
  files_.DeleteFolder(folder);
}

}  // namespace tabsync::startup
