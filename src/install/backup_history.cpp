#include "install/backup_history.h"

#include <algorithm>
#include <cstdio>

#include "install/install_platform.h"

namespace tabsync::install {
namespace {

namespace fe = platform::file_errors;

// A record is a few lines; a larger file is none the history wrote.
constexpr long long kMaxRecordSize = 1 << 20;
// A sequence has at most this many digits: no count of runs comes near, and
// no value overflows.
constexpr size_t kMaxSequenceDigits = 18;
// How many "-N" names a run tries before it gives up on a second.
constexpr int kMaxRunFolderNumber = 1000;
constexpr char kLinkRefused[] = "is a symbolic link, which the backup history does not follow";

bool AllDigits(const std::string& text, size_t from, size_t count) {
  if (from + count > text.size()) return false;
  return std::all_of(text.begin() + from, text.begin() + from + count,
                     [](char c) { return c >= '0' && c <= '9'; });
}

std::string FileNameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

std::string FolderOf(const std::string& path) {
  return platform::WithTrailingSlash(platform::GetParentFolderName(path));
}

std::string TimeText(const platform::LocalTime& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return text;
}

// A name the history may have put into a run folder: one entry of it, not
// the record, and one line of it. The databases' paths hold no control
// character (NamesDatabaseFile), nor does the log's.
bool IsKeptName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name != kRunRecordName &&
         name.find('/') == std::string::npos && !HasControlCharacter(name);
}

// The complete lines of a record; a last line cut off by a crash is none.
std::vector<std::string> CompleteLines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
       start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

bool ParseSequence(const std::string& digits, uint64_t* sequence) {
  if (digits.empty() || digits.size() > kMaxSequenceDigits || !AllDigits(digits, 0, digits.size()))
    return false;
  *sequence = std::stoull(digits);
  return *sequence > 0;
}

// Lines the record does not know (a later tabsync's) are passed over.
bool ParseRecord(const std::string& text, RunRecord* record) {
  std::vector<std::string> lines = CompleteLines(text);
  if (lines.empty() || lines[0] != kRunRecordHeader) return false;
  bool sequenced = false;
  for (const std::string& line : lines) {
    if (!sequenced && line.rfind("sequence ", 0) == 0) {
      sequenced = ParseSequence(line.substr(9), &record->sequence);
    } else if (line.rfind("kept ", 0) == 0 && IsKeptName(line.substr(5))) {
      record->kept.push_back(line.substr(5));
    }
  }
  return sequenced;
}

// Run folder names sort by time; a "-2" of the same second sorts after its
// first.
bool NameBefore(const std::string& a, const std::string& b) {
  return a.substr(0, 15) != b.substr(0, 15) ? a < b
         : a.size() != b.size()             ? a.size() < b.size()
                                            : a < b;
}

struct RecordedRun {
  std::string name;
  RunRecord record;
};

struct HistoryScan {
  std::vector<std::string> unrecorded;  // by name
  std::vector<RecordedRun> recorded;    // by sequence
};

// The run folders of the history folder `history` (no trailing "/").
HistoryScan ScanHistory(const platform::FileSystem& files, const std::string& history) {
  HistoryScan scan;
  if (files.IsSymbolicLink(history) || !files.FolderExists(history)) return scan;
  std::vector<std::string> names;
  try {
    names = files.ListFolder(history);
  } catch (const Error&) {
    return scan;  // a history that cannot be read lists as none
  }
  for (const std::string& name : names) {
    std::string run = history + "/" + name;
    if (!IsRunFolderName(name) || files.IsSymbolicLink(run) || !files.FolderExists(run)) continue;
    RecordedRun recorded{name, {}};
    if (ReadRunRecord(files, run, &recorded.record)) {
      scan.recorded.push_back(std::move(recorded));
    } else {
      scan.unrecorded.push_back(name);
    }
  }
  std::sort(scan.unrecorded.begin(), scan.unrecorded.end(), NameBefore);
  std::sort(scan.recorded.begin(), scan.recorded.end(),
            [](const RecordedRun& a, const RecordedRun& b) {
              return a.record.sequence != b.record.sequence
                         ? a.record.sequence < b.record.sequence
                         : NameBefore(a.name, b.name);
            });
  return scan;
}

// Removes what the record of `run` lists, then the record and the folder.
// Anything else in it stays, and so does the folder then, no longer the
// history's. A listed name that is a symbolic link now is not the history's
// either.
void RemoveRun(platform::FileSystem& files, const std::string& run, const RunRecord& record) {
  for (const std::string& name : record.kept) {
    std::string path = run + "/" + name;
    files.RemoveCutOffCopies(path);
    if (!files.IsSymbolicLink(path) && files.FileExists(path)) files.DeleteFile(path, true);
  }
  files.DeleteFile(run + "/" + kRunRecordName, true);
  files.DeleteFolder(run);
}

// `runs` are the recorded runs before the current one, oldest first: its
// last is the previous run, which stays whatever the count, as the current
// one does.
void RemoveOldRuns(platform::FileSystem& files, const std::string& history,
                   const std::vector<RecordedRun>& runs) {
  size_t total = runs.size() + 1;
  if (total <= static_cast<size_t>(kBackupRunsKept)) return;
  size_t removed = std::min(total - kBackupRunsKept, runs.size() - 1);
  for (size_t i = 0; i < removed; ++i) {
    try {
      RemoveRun(files, history + "/" + runs[i].name, runs[i].record);
    } catch (const Error&) {
      // An old run that cannot be removed only takes room; what the run
      // keeps now is safe all the same. Its record stays while its files
      // do, so a later run tries again.
    }
  }
}

// 75, with the path and why the history keeps nothing there, so that the
// message of the file the run could not keep says where the fault lies.
Error Refused(const std::string& path, const std::string& why) {
  return Error(fe::kPathFileAccess, "Path/File access error: " + path + " " + why);
}

void DeleteIfThere(platform::FileSystem& files, const std::string& path) {
  if (files.FileExists(path) || files.IsSymbolicLink(path)) files.DeleteFile(path, true);
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

bool ReadRunRecord(const platform::FileSystem& files, const std::string& run, RunRecord* record) {
  std::string path = run + "/" + kRunRecordName;
  platform::FileInfo info;
  if (files.IsSymbolicLink(run) || files.IsSymbolicLink(path) || !files.IsRegularFile(path) ||
      !files.GetFileInfo(path, &info) || info.size > kMaxRecordSize) {
    return false;
  }
  *record = RunRecord();
  try {
    return ParseRecord(files.ReadFile(path), record);
  } catch (const Error&) {
    return false;  // a record that cannot be read proves nothing
  }
}

std::vector<std::string> ListRunFolders(const platform::FileSystem& files,
                                        const std::string& folder) {
  HistoryScan scan = ScanHistory(files, folder + kBackupHistoryFolder);
  std::vector<std::string> runs = std::move(scan.unrecorded);
  for (const RecordedRun& run : scan.recorded) runs.push_back(run.name);
  return runs;
}

bool RunFolderIsLinked(const platform::FileSystem& files, const std::string& folder,
                       const std::string& run) {
  std::string history = folder + kBackupHistoryFolder;
  return files.IsSymbolicLink(history) || files.IsSymbolicLink(history + "/" + run);
}

std::string RestoreCopyPath(const std::string& database) {
  std::string folder = platform::GetParentFolderName(database) + "/";
  return folder + "." + database.substr(folder.size()) + ".tabsync-restore";
}

void RemoveRestoreLeftovers(platform::FileSystem& files, const std::string& database) {
  std::vector<std::string> places = {database};
  // The restore works beside the file a link leads to.
  if (files.IsSymbolicLink(database) && files.IsRegularFile(database))
    places.push_back(files.ResolvedPath(database));
  for (const std::string& place : places) {
    std::string copy = RestoreCopyPath(place);
    DeleteIfThere(files, copy);
    files.RemoveCutOffCopies(copy);  // "..X.mdb.tabsync-restore.tmp-XXXXXX"
    // ".X.mdb.tabsync-restore.tmp-XXXXXX" is the restore's name as well:
    // nothing else names a file for the restore's copy of X.mdb.
    files.RemoveCutOffCopies(place + ".tabsync-restore");
  }
}

BackupHistory::BackupHistory(platform::FileSystem& files, const platform::LocalTime& runStart)
    : files_(files), run_start_(runStart), run_name_(RunFolderName(runStart)) {}

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

// The name goes into the record first: a run killed between the two leaves
// a record that names a file not there, which harms nothing, never a file
// that no record names, which no later run could tell from the operator's.
std::string BackupHistory::PlaceFor(const std::string& path) {
  std::string folder = FolderOf(path);
  RunFolder& run = RunFolderFor(folder);
  CheckNoLinks(folder, run);
  std::string name = FreeName(run.path, FileNameOf(path));
  if (!IsKeptName(name)) throw platform::FileError(fe::kPathFileAccess);
  run.record->Append("kept " + name + "\n");
  return run.path + name;
}

std::string BackupHistory::RunFolderIn(const std::string& folder) const {
  auto found = run_folders_.find(folder);
  return found == run_folders_.end() ? "" : found->second.path;
}

BackupHistory::RunFolder& BackupHistory::RunFolderFor(const std::string& folder) {
  auto found = run_folders_.find(folder);
  if (found != run_folders_.end()) return found->second;
  std::string history = folder + kBackupHistoryFolder;
  // Writing through a link would put the history, and its pruning, into a
  // folder outside the site.
  if (files_.IsSymbolicLink(history)) throw Refused(history, kLinkRefused);
  if (files_.FileExists(history)) throw Refused(history, "is no folder");
  if (!files_.FolderExists(history)) files_.CreateFolder(history);
  HistoryScan scan = ScanHistory(files_, history);
  uint64_t sequence = scan.recorded.empty() ? 1 : scan.recorded.back().record.sequence + 1;
  std::string run = MakeRunFolder(history);
  RunFolder made{run + "/", WriteRecord(run, sequence)};
  RunFolder& stored = run_folders_[folder] = std::move(made);
  RemoveOldRuns(files_, history, scan.recorded);
  return stored;
}

std::string BackupHistory::MakeRunFolder(const std::string& history) {
  for (int n = 1; n <= kMaxRunFolderNumber; ++n) {
    std::string run = history + "/" + run_name_ + (n == 1 ? "" : "-" + std::to_string(n));
    if (files_.FolderExists(run) || files_.FileExists(run) || files_.IsSymbolicLink(run)) continue;
    files_.CreateFolder(run);
    return run;
  }
  throw platform::FileError(fe::kFileAlreadyExists);
}

std::unique_ptr<platform::AppendFile> BackupHistory::WriteRecord(const std::string& run,
                                                                 uint64_t sequence) {
  std::string path = run + "/" + kRunRecordName;
  try {
    std::unique_ptr<platform::AppendFile> record = files_.OpenForAppend(path);
    record->Append(std::string(kRunRecordHeader) + "\nsequence " + std::to_string(sequence) +
                   "\nstart " + TimeText(run_start_) + "\n");
    return record;
  } catch (const Error&) {
    try {
      DeleteIfThere(files_, path);
      files_.DeleteFolder(run);
    } catch (const Error&) {
      // The folder stays empty but for a record cut off: no run of the
      // history, and nothing in it to lose.
    }
    throw;
  }
}

void BackupHistory::CheckNoLinks(const std::string& folder, const RunFolder& run) const {
  if (RunFolderIsLinked(files_, folder, FileNameOf(run.path.substr(0, run.path.size() - 1))))
    throw Refused(run.path, kLinkRefused);
}

std::string BackupHistory::FreeName(const std::string& runFolder, const std::string& name) const {
  std::string free = name;
  for (int n = 2; files_.FileExists(runFolder + free) || files_.FolderExists(runFolder + free) ||
                  files_.IsSymbolicLink(runFolder + free);
       ++n) {
    free = name + "." + std::to_string(n);
  }
  return free;
}

}  // namespace tabsync::install
