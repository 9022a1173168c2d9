#include "startup/space_estimate.h"

#include <algorithm>
#include <deque>

#include "engine/catalogue.h"
#include "install/data_source_lookup.h"
#include "startup/main_flow.h"
#include "startup/site_tools.h"

namespace tabsync::startup {
namespace {

std::string FolderOf(const std::string& path) {
  return platform::WithTrailingSlash(platform::GetParentFolderName(path));
}

// The needs by file system, each made on the first folder of it asked for.
class Needs {
 public:
  explicit Needs(const platform::FileSystem& files) : files_(files) {}

  // Null when the folder's free space cannot be had (a missing folder).
  SpaceNeed* For(const std::string& folder) {
    platform::DiskSpace space;
    if (!files_.GetDiskSpace(folder, &space)) return nullptr;
    for (SpaceNeed& need : needs_)
      if (need.device == space.device) return &need;
    needs_.push_back({folder, space.device, space.available});
    return &needs_.back();
  }
  std::vector<SpaceNeed> Take() { return {needs_.begin(), needs_.end()}; }

 private:
  const platform::FileSystem& files_;
  std::deque<SpaceNeed> needs_;  // a deque keeps the pointers For gave
};

// Where the run will find the database in use, and the file it will work
// on; false when it will skip the database.
bool FindDatabase(const platform::FileSystem& files,
                  const platform::RegistrationStore& registrations, const std::string& dataSource,
                  const std::string& updateFolder, std::string* path, std::string* target) {
  if (!install::GetDataSourcePath(registrations, dataSource, path) ||
      !install::NamesDatabaseFile(files, *path))
    return false;
  *target = *path;
  if (files.IsSymbolicLink(*path)) {
    try {
      *target = files.ResolvedPath(*path);
    } catch (const Error&) {
      return false;  // a link to nowhere: the run skips the database
    }
  }
  return !files.SameFolder(FolderOf(*path), updateFolder) &&
         !files.SameFolder(FolderOf(*target), updateFolder);
}

void AddDatabase(Needs& needs, const platform::FileSystem& files, const std::string& fileName,
                 const std::string& path, const std::string& target, uint64_t update,
                 SpaceNeed* log) {
  SpaceNeed* beside = needs.For(FolderOf(target));
  SpaceNeed* backup = needs.For(FolderOf(path));
  if (beside == nullptr || backup == nullptr) return;  // a missing folder: skipped
  platform::FileInfo info;
  if (!files.GetFileInfo(target, &info)) {
    beside->copies += update;
    return;
  }
  uint64_t in_use = static_cast<uint64_t>(info.size);
  backup->backups += in_use;
  if (engine::IsDataDatabase(fileName)) {
    beside->growth += update;
    beside->journal = std::max(beside->journal, in_use);
    if (log != nullptr) log->log += kLogBytesPerMergedByte * update;
  } else {
    beside->copies += update + in_use;
    beside->journal = std::max(beside->journal, update);
    if (log != nullptr) log->log += kLogBytesPerMergedByte * in_use;
  }
}

}  // namespace

std::vector<SpaceNeed> EstimateSpace(const platform::FileSystem& files,
                                     const platform::RegistrationStore& registrations,
                                     const std::string& updateFolder,
                                     const std::string& sharedFolder) {
  Needs needs(files);
  SpaceNeed* shared = needs.For(sharedFolder);
  platform::FileInfo old_log;
  if (shared != nullptr) {
    // The old log goes into the history compressed, before it is removed.
    shared->history += kHistoryBytesPerFolder;
    if (files.GetFileInfo(sharedFolder + kLogFileName, &old_log))
      shared->history += static_cast<uint64_t>(old_log.size);
  }
  for (const engine::CatalogueEntry& entry : engine::DatabaseCatalogue) {
    std::string update = updateFolder + entry.file_name;
    platform::FileInfo info;
    std::string path, target;
    if (!files.IsRegularFile(update) || !files.GetFileInfo(update, &info) ||
        !FindDatabase(files, registrations, entry.data_source_name, updateFolder, &path, &target))
      continue;
    AddDatabase(needs, files, entry.file_name, path, target, static_cast<uint64_t>(info.size),
                shared);
  }
  return needs.Take();
}

std::string NoSpaceText(const SpaceNeed& need) {
  auto size = [](uint64_t bytes) { return SizeText(static_cast<long long>(bytes)); };
  return "No space for the update on the file system of\r\n\r\n" + need.folder +
         "\r\n\r\nIt has " + size(need.available) + " free; the update writes about " +
         size(need.Total()) + ": backups " + size(need.backups) + ", working copies " +
         size(need.copies) + ", new records " + size(need.growth) + ", journal " +
         size(need.journal) + ", log " + size(need.log) + ", history " + size(need.history) +
         ".\r\n\r\nFree some space (older run folders of the backup history may go), then "
         "run\r\n\r\n  'tabsync DB'";
}

}  // namespace tabsync::startup
