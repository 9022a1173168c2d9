#include "install/backup_history.h"

#include <algorithm>
#include <cstdio>

#include "install/gzip_file.h"
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

// "key value": value of the line when it starts with key and a blank.
bool Value(const std::string& line, const char* key, std::string* value) {
  size_t length = std::char_traits<char>::length(key);
  if (line.size() <= length + 1 || line.compare(0, length, key) != 0 || line[length] != ' ')
    return false;
  *value = line.substr(length + 1);
  return true;
}

// "database <file> <outcome>[ <why>]": catalogue file names hold no blank.
bool ParseOutcome(const std::string& text, DatabaseOutcome* outcome) {
  size_t blank = text.find(' ');
  if (blank == std::string::npos || blank == 0) return false;
  outcome->file = text.substr(0, blank);
  size_t why = text.find(' ', blank + 1);
  outcome->outcome = text.substr(blank + 1, why == std::string::npos ? why : why - blank - 1);
  outcome->why = why == std::string::npos ? "" : text.substr(why + 1);
  return !outcome->outcome.empty();
}

// "end YYYY-MM-DD HH:MM:SS <ending>".
void ParseEnd(const std::string& text, RunRecord* record) {
  if (!record->end.empty() || text.size() < 21 || text[19] != ' ') return;
  record->end = text.substr(0, 19);
  record->ending = text.substr(20);
}

void ParseLine(const std::string& line, RunRecord* record) {
  std::string value;
  DatabaseOutcome outcome;
  if (Value(line, "kept", &value)) {
    if (IsKeptName(value)) record->kept.push_back(value);
  } else if (Value(line, "backup", &value)) {
    record->backups.push_back(value);
  } else if (Value(line, "saved", &value)) {
    record->saved.push_back(value);
  } else if (Value(line, "database", &value)) {
    if (ParseOutcome(value, &outcome)) record->databases.push_back(outcome);
  } else if (Value(line, "errors", &value)) {
    uint64_t count = 0;
    if (value == "0") record->errors = 0;
    else if (ParseSequence(value, &count) && count < 1000000000) record->errors = static_cast<int>(count);
  } else if (Value(line, "end", &value)) {
    ParseEnd(value, record);
  } else {
    for (auto [key, field] : {std::pair{"start", &record->start}, {"kind", &record->kind},
                              {"version", &record->version}, {"release", &record->release},
                              {"folder", &record->folder}, {"restore-of", &record->restore_of}}) {
      if (field->empty() && Value(line, key, &value)) *field = value;
    }
  }
}

// Lines the record does not know (a later tabsync's) are passed over.
bool ParseRecord(const std::string& text, RunRecord* record) {
  std::vector<std::string> lines = CompleteLines(text);
  if (lines.empty() || lines[0] != kRunRecordHeader) return false;
  bool sequenced = false;
  for (const std::string& line : lines) {
    if (!sequenced && line.rfind("sequence ", 0) == 0) {
      sequenced = ParseSequence(line.substr(9), &record->sequence);
    } else {
      ParseLine(line, record);
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

// How many of `runs` (the recorded runs before the current one, oldest
// first) go: those before the oldest of the last `kept` update runs, the
// current one counted when it is an update; the restores made since stay.
// The last of `runs` is the previous run, which stays whatever the count.
size_t RunsToRemove(const std::vector<RecordedRun>& runs, bool currentIsUpdate, int kept) {
  if (runs.empty()) return 0;
  int updates = currentIsUpdate ? 1 : 0;
  size_t keep_from = updates >= kept ? runs.size() : 0;
  for (size_t i = runs.size(); keep_from == 0 && i-- > 0;) {
    if (runs[i].record.IsUpdate() && ++updates >= kept) keep_from = i;
  }
  return std::min(keep_from, runs.size() - 1);
}

void RemoveOldRuns(platform::FileSystem& files, const std::string& history,
                   const std::vector<RecordedRun>& runs, size_t removed) {
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

std::string TimeText(const platform::LocalTime& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return text;
}

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

std::vector<RecordedRun> ReadRecordedRuns(const platform::FileSystem& files,
                                          const std::string& folder) {
  return ScanHistory(files, folder + kBackupHistoryFolder).recorded;
}

long long HistorySize(const platform::FileSystem& files, const std::string& folder) {
  std::string history = folder + kBackupHistoryFolder;
  if (files.IsSymbolicLink(history) || !files.FolderExists(history)) return 0;
  long long bytes = 0;
  try {
    for (const std::string& run : files.ListFolder(history)) {
      std::string path = history + "/" + run;
      if (!IsRunFolderName(run) || files.IsSymbolicLink(path) || !files.FolderExists(path))
        continue;
      for (const std::string& name : files.ListFolder(path)) {
        platform::FileInfo info;
        if (!files.IsSymbolicLink(path + "/" + name) && files.GetFileInfo(path + "/" + name, &info))
          bytes += info.size;
      }
    }
  } catch (const Error&) {
    // A folder that cannot be listed adds nothing it could tell.
  }
  return bytes;
}

namespace {

bool Lists(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// Where the ".bak" that run `made` of `runs` made of `file` lies now: in the
// run folder of the next update that kept it (each run keeps an older
// ".bak" before it makes its own, so the first to keep one after `made`
// kept this one), or still beside the database.
std::string BackupMadeBy(const std::string& folder, const std::string& file,
                         const std::vector<RecordedRun>& runs, size_t made) {
  for (size_t k = made + 1; k < runs.size(); ++k) {
    if (runs[k].record.IsUpdate() && Lists(runs[k].record.kept, file + ".bak"))
      return folder + kBackupHistoryFolder + "/" + runs[k].name + "/" + file + ".bak";
  }
  return folder + file + ".bak";
}

}  // namespace

std::string StateBefore(const platform::FileSystem& files, const std::string& folder,
                        const std::string& file, const std::string& run) {
  std::vector<RecordedRun> runs = ReadRecordedRuns(files, folder);
  size_t from = runs.size();
  for (size_t i = 0; i < runs.size() && from == runs.size(); ++i) {
    if (runs[i].name == run) from = i;
  }
  for (size_t i = 0; i < runs.size() && from == runs.size(); ++i) {
    if (!NameBefore(runs[i].name, run)) from = i;
  }
  for (size_t j = from; j < runs.size(); ++j) {
    if (Lists(runs[j].record.saved, file))
      return folder + kBackupHistoryFolder + "/" + runs[j].name + "/" + file;
    if (Lists(runs[j].record.backups, file)) return BackupMadeBy(folder, file, runs, j);
  }
  return "";
}

std::string RunToUndo(const platform::FileSystem& files, const std::string& folder) {
  std::vector<RecordedRun> runs = ReadRecordedRuns(files, folder);
  size_t last = runs.size();
  for (size_t i = runs.size(); last == runs.size() && i-- > 0;) {
    if (runs[i].record.kind == "update") last = i;
  }
  if (last == runs.size()) return "";
  // An attempt that ended "done" is a state of its own; one killed or
  // stopped before the re-run's release is part of that release's update.
  const std::string& release = runs[last].record.release;
  size_t first = last;
  while (first > 0) {
    const RunRecord& before = runs[first - 1].record;
    if (before.kind != "update" || before.ending == "done" ||
        (!before.release.empty() && before.release != release))
      break;
    --first;
  }
  return runs[first].name;
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

BackupHistory::BackupHistory(platform::FileSystem& files, const platform::LocalTime& runStart,
                             RunKind kind)
    : files_(files), run_start_(runStart), kind_(kind), run_name_(RunFolderName(runStart)) {}

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

std::string BackupHistory::KeepCompressed(const std::string& path) {
  std::string kept = PlaceNamed(FolderOf(path), FileNameOf(path) + ".gz");
  try {
    GzipFile(files_, path, kept);
  } catch (const Error&) {
    // A log that cannot be compressed (no room, no permission to read it) is
    // kept as it is; the record names the copy cut off, which goes with its
    // run.
    DeleteIfThere(files_, kept);
    return Keep(path);
  }
  files_.DeleteFile(path, true);
  return kept;
}

std::string BackupHistory::SaveCopy(const std::string& database) {
  std::string kept = KeepCopy(database);
  Append(RunFolderFor(FolderOf(database)), "saved " + FileNameOf(database));
  return kept;
}

void BackupHistory::NoteBackup(const std::string& database) {
  std::string folder = FolderOf(database);
  RunFolder& run = RunFolderFor(folder);
  CheckNoLinks(folder, run);
  run.record->Append("backup " + FileNameOf(database) + "\n");
}

std::string BackupHistory::PlaceNew(const std::string& folder, const std::string& name) {
  return PlaceNamed(platform::WithTrailingSlash(folder), name);
}

std::string BackupHistory::PlaceFor(const std::string& path) {
  return PlaceNamed(FolderOf(path), FileNameOf(path));
}

// The name goes into the record first: a run killed between the two leaves
// a record that names a file not there, which harms nothing, never a file
// that no record names, which no later run could tell from the operator's.
std::string BackupHistory::PlaceNamed(const std::string& folder, const std::string& wanted) {
  RunFolder& run = RunFolderFor(folder);
  CheckNoLinks(folder, run);
  std::string name = FreeName(run.path, wanted);
  if (!IsKeptName(name)) throw platform::FileError(fe::kPathFileAccess);
  run.record->Append("kept " + name + "\n");
  return run.path + name;
}

void BackupHistory::StartRecord(const std::string& folder) {
  main_folder_ = platform::WithTrailingSlash(folder);
  main_ = &RunFolderFor(main_folder_);
}

void BackupHistory::Append(RunFolder& run, const std::string& line) {
  std::string text = line;
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
  try {
    run.record->Append(text + "\n");
  } catch (const Error&) {
    // Lost: the record sums the run up, its log tells it in full.
  }
}

void BackupHistory::Note(const std::string& key, const std::string& value) {
  if (main_ == nullptr && !main_folder_.empty()) {
    try {
      main_ = &RunFolderFor(main_folder_);
    } catch (const Error&) {
      return;  // the history refuses still; the line is lost
    }
  }
  if (main_ != nullptr) Append(*main_, key + " " + value);
}

void BackupHistory::End(const platform::LocalTime& now, int errors, const std::string& ending) {
  Note("errors", std::to_string(errors));
  for (auto& [folder, run] : run_folders_) Append(run, "end " + TimeText(now) + " " + ending);
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
  RemoveOldRuns(files_, history, scan.recorded,
                RunsToRemove(scan.recorded, kind_ == RunKind::kUpdate,
                             std::clamp(runs_kept_, 1, kMaxBackupRunsKept)));
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
                   "\nstart " + TimeText(run_start_) + "\nkind " +
                   (kind_ == RunKind::kUpdate ? "update" : "restore") + "\n");
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
