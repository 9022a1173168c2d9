#include "install/backup_history.h"

#include <algorithm>
#include <cstdio>

namespace tabsync::install {
namespace {

bool AllDigits(const std::string& text, size_t from, size_t count) {
  if (from + count > text.size()) return false;
  return std::all_of(text.begin() + from, text.begin() + from + count,
                     [](char c) { return c >= '0' && c <= '9'; });
}

std::string FileNameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

std::string FolderOf(const std::string& path) {
  return platform::WithTrailingSlash(platform::GetParentFolderName(path));
}

}  // namespace

std::string RunFolderName(const platform::LocalTime& t) {
  char name[32];
  std::snprintf(name, sizeof name, "%04d%02d%02d-%02d%02d%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return name;
}

bool IsRunFolderName(const std::string& name) {
  if (!AllDigits(name, 0, 8) || name.size() < 15 || name[8] != '-' || !AllDigits(name, 9, 6))
    return false;
  if (name.size() == 15) return true;
  return name[15] == '-' && name.size() > 16 && AllDigits(name, 16, name.size() - 16);
}

std::vector<std::string> ListRunFolders(const platform::FileSystem& files,
                                        const std::string& folder) {
  std::string history = folder + kBackupHistoryFolder;
  std::vector<std::string> runs;
  if (!files.FolderExists(history)) return runs;
  try {
    for (const std::string& name : files.ListFolder(history)) {
      if (IsRunFolderName(name) && files.FolderExists(history + "/" + name)) runs.push_back(name);
    }
  } catch (const Error&) {
    return {};  // a history that cannot be read lists as none
  }
  // The names sort by time; a "-2" of the same second sorts after its first.
  std::sort(runs.begin(), runs.end(), [](const std::string& a, const std::string& b) {
    return a.substr(0, 15) != b.substr(0, 15) ? a < b
           : a.size() != b.size()             ? a.size() < b.size()
                                              : a < b;
  });
  return runs;
}

BackupHistory::BackupHistory(platform::FileSystem& files, const platform::LocalTime& runStart)
    : files_(files), run_name_(RunFolderName(runStart)) {}

std::string BackupHistory::Keep(const std::string& path) {
  std::string kept = PlaceFor(path);
  files_.MoveFile(path, kept);
  return kept;
}

std::string BackupHistory::KeepCopy(const std::string& path) {
  std::string kept = PlaceFor(path);
  files_.CopyFile(path, kept, false);
  return kept;
}

std::string BackupHistory::PlaceFor(const std::string& path) {
  std::string run_folder = RunFolderFor(FolderOf(path));
  return run_folder + FreeName(run_folder, FileNameOf(path));
}

std::string BackupHistory::RunFolderIn(const std::string& folder) const {
  auto found = run_folders_.find(folder);
  return found == run_folders_.end() ? "" : found->second;
}

std::string BackupHistory::RunFolderFor(const std::string& folder) {
  auto found = run_folders_.find(folder);
  if (found != run_folders_.end()) return found->second;
  std::string history = folder + kBackupHistoryFolder;
  if (!files_.FolderExists(history)) files_.CreateFolder(history);
  std::string run = MakeRunFolder(history);
  run_folders_[folder] = run;
  RemoveOldRuns(folder, run);
  return run;
}

std::string BackupHistory::MakeRunFolder(const std::string& history) {
  std::string name = run_name_;
  for (int n = 2; files_.FolderExists(history + "/" + name); ++n) {
    name = run_name_ + "-" + std::to_string(n);
  }
  std::string run = history + "/" + name;
  files_.CreateFolder(run);
  return run + "/";
}

void BackupHistory::RemoveOldRuns(const std::string& folder, const std::string& current) {
  std::vector<std::string> runs = ListRunFolders(files_, folder);
  std::string history = folder + kBackupHistoryFolder + "/";
  for (size_t i = 0; i + kBackupRunsKept < runs.size(); ++i) {
    if (history + runs[i] + "/" == current) continue;
    try {
      RemoveRun(history + runs[i]);
    } catch (const Error&) {
      // An old run that cannot be removed only takes room; what the run
      // keeps now is safe all the same.
    }
  }
}

void BackupHistory::RemoveRun(const std::string& run) {
  for (const std::string& name : files_.ListFolder(run)) {
    files_.DeleteFile(run + "/" + name, true);
  }
  files_.DeleteFolder(run);
}

std::string BackupHistory::FreeName(const std::string& runFolder, const std::string& name) const {
  std::string free = name;
  for (int n = 2; files_.FileExists(runFolder + free) || files_.IsSymbolicLink(runFolder + free);
       ++n) {
    free = name + "." + std::to_string(n);
  }
  return free;
}

}  // namespace tabsync::install
