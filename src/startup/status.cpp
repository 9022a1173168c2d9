#include "startup/status.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "dbengine/error.h"
#include "dbengine/names.h"
#include "engine/catalogue.h"
#include "engine/schema_renames.h"
#include "engine/release_version.h"
#include "install/backup_history.h"
#include "install/data_source_lookup.h"
#include "install/relocation.h"

namespace tabsync::startup {
namespace {

// The database only read, with nothing written beside it: read as the image
// it is, a file in WAL mode gets no -wal or -shm file. Where a -wal or a
// journal beside it holds changes the file lacks (another program is
// writing it), it is read through them as a reader does; their files are
// there already.
std::unique_ptr<dao::Database> OpenToRead(dao::DatabaseEngine& engine, const std::string& path) {
  try {
    return engine.OpenDatabase(path, dao::kOpenImmutable);
  } catch (const Error& error) {
    if (error.Number() != errors::kCannotOpenDatabase) throw;
  }
  return engine.OpenDatabase(path, 0, true);
}

void ReadRelease(dao::DatabaseEngine& engine, DatabaseStatus* status) {
  std::unique_ptr<dao::Database> db = OpenToRead(engine, status->file);
  status->format_version = db->FormatVersion();
  status->version = engine::NewestVersion(*db, &status->version_table);
  db->Close();
}

DatabaseStatus ReadDatabase(const SiteTools& tools, const std::string& dataSource) {
  DatabaseStatus status;
  status.data_source = dataSource;
  platform::FileSystem& files = tools.install.files;
  if (!install::GetDataSourcePath(tools.install.registrations, dataSource, &status.file)) {
    status.problem = "not registered";
    return status;
  }
  if (!install::NamesDatabaseFile(files, status.file)) {
    status.problem = "names no database file";
    return status;
  }
  try {
    status.exists = files.CheckedFileExists(status.file);
  } catch (const Error& error) {
    status.problem = install::ErrorLine(error);
    return status;
  }
  std::string folder = platform::GetParentFolderName(status.file) + "/";
  status.runs = install::ListRunFolders(files, folder);
  status.backup = files.GetFileInfo(status.file + ".bak", &status.backup_info);
  if (!status.exists) return status;
  files.GetFileInfo(status.file, &status.info);
  try {
    ReadRelease(tools.engine, &status);
  } catch (const Error& error) {
    status.problem = install::ErrorLine(error);
  }
  return status;
}

// A JSON string: quotes, backslashes and control characters escaped.
std::string Json(const std::string& text) {
  std::string json = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      json += '\\';
      json += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      json += escaped;
    } else {
      json += static_cast<char>(c);
    }
  }
  return json + "\"";
}

std::string FileJson(bool exists, const platform::FileInfo& info) {
  if (!exists) return "null";
  return "{\"size\": " + std::to_string(info.size) + ", \"modified\": " +
         Json(TimeText(info.modified)) + "}";
}

std::string HolderJson(const RunLockState& lock) {
  if (!lock.held || !lock.holder_known) return "null";
  return "{\"pid\": " + std::to_string(lock.holder.pid) +
         ", \"started\": " + Json(lock.holder.started) + "}";
}

std::string FormatText(int version) { return version ? std::to_string(version) : "-"; }

// To the minute: "2026-12-08 09:05".
std::string MinuteText(const platform::LocalTime& time) { return TimeText(time).substr(0, 16); }

// The folder of a database's file, ending in "/".
std::string FolderOf(const std::string& file) {
  return platform::GetParentFolderName(file) + "/";
}

bool InSharedFolder(const SiteStatus& status, const DatabaseStatus& db) {
  return db.file.rfind(status.shared_folder, 0) == 0;
}

// The file relative to the shared folder; a file elsewhere by its name, with
// its full path in a note below the table.
std::string ShownFile(const SiteStatus& status, const DatabaseStatus& db) {
  if (db.file.empty()) return "-";
  if (InSharedFolder(status, db)) return db.file.substr(status.shared_folder.size());
  return db.file.substr(db.file.find_last_of('/') + 1) + " (elsewhere)";
}

std::string ReleaseText(const DatabaseStatus& db) {
  if (!db.problem.empty()) return "?";
  if (!db.version.empty()) return db.version;
  return db.version_table ? "-" : "none";
}

std::vector<std::string> Row(const SiteStatus& status, const DatabaseStatus& db) {
  if (!db.problem.empty() && !db.exists) return {db.data_source, ShownFile(status, db), db.problem};
  return {db.data_source,
          ShownFile(status, db),
          db.exists ? ReleaseText(db) : "-",
          db.exists ? FormatText(db.format_version) : "-",
          db.exists ? SizeText(db.info.size) : "missing",
          db.exists ? MinuteText(db.info.modified) : "-",
          db.backup ? MinuteText(db.backup_info.modified) : "none"};
}

std::string RunningLine(const SiteStatus& status) {
  if (!status.lock.held) return "Update running: no\n";
  return "Update running: yes (" + HolderText(status.lock) + ")\n";
}

// What the table's short forms leave out: full paths of databases elsewhere,
// problems of databases that are there, and what "none" means.
std::string Notes(const SiteStatus& status) {
  std::string notes;
  bool none = false;
  for (const DatabaseStatus& db : status.databases) {
    if (!db.file.empty() && !InSharedFolder(status, db))
      notes += db.data_source + ": " + db.file + "\n";
    if (!db.problem.empty() && db.exists) notes += db.data_source + ": " + db.problem + "\n";
    none |= db.exists && db.problem.empty() && !db.version_table;
  }
  if (none) notes += "Release none: the database has no Version table to read its release from.\n";
  return notes;
}

// One line per folder of databases: the runs of the history beside them.
std::string HistoryLines(const SiteStatus& status) {
  std::vector<std::string> folders;
  std::string lines;
  for (const DatabaseStatus& db : status.databases) {
    if (db.file.empty() || (!db.problem.empty() && !db.exists)) continue;
    std::string folder = FolderOf(db.file);
    if (std::find(folders.begin(), folders.end(), folder) != folders.end()) continue;
    folders.push_back(folder);
    std::string runs = db.runs.empty() ? "none"
                                       : std::to_string(db.runs.size()) +
                                             (db.runs.size() == 1 ? " run" : " runs") +
                                             ", newest " + db.runs.back();
    lines += (folder == status.shared_folder ? std::string("History: ")
                                             : "History of " + folder + ": ") +
             runs + "\n";
  }
  return lines;
}

// The history's size in every folder that holds a database, each once.
long long HistoriesSize(const platform::FileSystem& files, const SiteStatus& status) {
  std::set<std::string> folders = {status.shared_folder};
  for (const DatabaseStatus& db : status.databases) {
    if (db.problem.empty() && !db.file.empty())
      folders.insert(platform::GetParentFolderName(db.file) + "/");
  }
  long long bytes = 0;
  for (const std::string& folder : folders) bytes += install::HistorySize(files, folder);
  return bytes;
}

std::string WhatRan(const install::RunRecord& record) {
  if (!record.IsUpdate())
    return "restore of " + (record.restore_of.empty() ? std::string("?") : record.restore_of);
  return record.release.empty() ? "update" : "update to release " + record.release;
}

// "1 run", "2 runs".
std::string Count(int count, const std::string& noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

// The text with the shared folder's path left out of the paths in it, as the
// table shows them.
std::string Relative(const SiteStatus& status, std::string text) {
  for (size_t at = text.find(status.shared_folder); at != std::string::npos;
       at = text.find(status.shared_folder, at))
    text.erase(at, status.shared_folder.size());
  return text;
}

// The databases' outcomes as the record gives them; for an update that did
// not end (killed, or going on), the catalogue's databases it has not told
// of too: the first "interrupted" (its update had begun or was about to;
// it is whole, as before or after it), the others "not-reached".
std::vector<install::DatabaseOutcome> Outcomes(const install::RunRecord& r, bool running) {
  std::vector<install::DatabaseOutcome> outcomes = r.databases;
  if (!r.end.empty() || !r.IsUpdate()) return outcomes;
  bool first = true;
  for (const engine::CatalogueEntry& entry : engine::DatabaseCatalogue) {
    bool told = std::any_of(outcomes.begin(), outcomes.end(), [&](const install::DatabaseOutcome& o) {
      return o.file == entry.file_name;
    });
    if (told) continue;
    outcomes.push_back(
        {entry.file_name, first ? (running ? "running" : "interrupted") : "not-reached", ""});
    first = false;
  }
  return outcomes;
}

std::string LastRunText(const SiteStatus& status) {
  if (status.runs.empty()) return "Last run: none recorded\n";
  const install::RecordedRun& last = status.runs.back();
  const install::RunRecord& r = last.record;
  std::string text = "Last run: " + last.name + ", " + WhatRan(r) +
                     (r.version.empty() ? "" : " (tabsync " + r.version + ")") + "\n";
  text += "  started " + r.start + (r.end.empty() ? std::string(": ") : ", ended " + r.end + ": ") +
          RunEnding(r, status.lock.held);
  if (r.errors >= 0) text += ", " + Count(r.errors, "error");
  text += "\n";
  if (!r.folder.empty()) text += "  update folder " + r.folder + "\n";
  for (const install::DatabaseOutcome& db : Outcomes(r, status.lock.held))
    text += "  " + db.file + ": " + db.outcome +
            (db.why.empty() ? "" : " (" + Relative(status, db.why) + ")") + "\n";
  return text;
}

// The size of every history beside a database, and the kinds of the runs
// recorded in the shared folder's.
std::string HistorySizeLine(const SiteStatus& status) {
  int updates = 0;
  for (const install::RecordedRun& run : status.runs) updates += run.record.IsUpdate() ? 1 : 0;
  int restores = static_cast<int>(status.runs.size()) - updates;
  return "History size: " + SizeText(status.history_bytes) + " (" +
         std::to_string(status.history_bytes) + " bytes); recorded: " + Count(updates, "update") +
         ", " + Count(restores, "restore") + "\n";
}

std::string NullOr(const std::string& text) { return text.empty() ? "null" : Json(text); }

std::string LastRunJson(const SiteStatus& status) {
  if (status.runs.empty()) return "null";
  const install::RecordedRun& last = status.runs.back();
  const install::RunRecord& r = last.record;
  std::string databases;
  for (const install::DatabaseOutcome& db : Outcomes(r, status.lock.held)) {
    databases += std::string(databases.empty() ? "" : ", ") + "{\"file\": " + Json(db.file) +
                 ", \"outcome\": " + Json(db.outcome) + ", \"why\": " + NullOr(db.why) + "}";
  }
  return "{\"run\": " + Json(last.name) + ", \"kind\": " + Json(r.IsUpdate() ? "update" : "restore") +
         ", \"version\": " + NullOr(r.version) + ", \"folder\": " + NullOr(r.folder) +
         ", \"release\": " + NullOr(r.release) + ", \"restore_of\": " + NullOr(r.restore_of) +
         ", \"start\": " + NullOr(r.start) + ", \"end\": " + NullOr(r.end) +
         ", \"ending\": " + Json(RunEnding(r, status.lock.held)) +
         ", \"errors\": " + (r.errors >= 0 ? std::to_string(r.errors) : "null") +
         ", \"databases\": [" + databases + "]}";
}

}  // namespace

std::string RunEnding(const install::RunRecord& record, bool running) {
  if (!record.ending.empty()) return record.ending;
  return running ? "running" : "interrupted";
}

bool ReadSiteStatus(const SiteTools& tools, SiteStatus* status) {
  std::string location;
  if (!ReadLocation(tools.share, tools.install.ui, &location)) return false;
  if (!CheckRegistrations(tools.install, "")) return false;
  if (!tools.install.registrations.CanBeRead()) {
    install::ShowCritical(tools.install.ui,
                          "Cannot read the ODBC data sources:\r\n\r\n" +
                              tools.install.registrations.Source());
    return false;
  }
  status->shared_folder = location + install::kDatabaseSubfolder;
  status->lock_file = status->shared_folder + kLockFileName;
  status->lock = ReadRunLock(tools.install.files, status->shared_folder);
  for (const engine::CatalogueEntry& entry : engine::DatabaseCatalogue)
    status->databases.push_back(ReadDatabase(tools, entry.data_source_name));
  platform::FileSystem& files = tools.install.files;
  status->runs = install::ReadRecordedRuns(files, status->shared_folder);
  status->history_runs =
      static_cast<int>(install::ListRunFolders(files, status->shared_folder).size());
  status->history_bytes = HistoriesSize(files, *status);
  return true;
}

std::string StatusTable(const SiteStatus& status) {
  std::vector<std::vector<std::string>> rows = {
      {"DATA SOURCE", "DATABASE", "RELEASE", "FORMAT", "SIZE", "MODIFIED", "BACKUP"}};
  for (const DatabaseStatus& db : status.databases) rows.push_back(Row(status, db));
  std::string notes = Notes(status);
  return "Shared database folder: " + status.shared_folder + "\n" + RunningLine(status) +
         LastRunText(status) + "\n" + AlignedColumns(rows) + (notes.empty() ? "" : "\n" + notes) +
         "\n" + HistoryLines(status) + HistorySizeLine(status);
}

std::string StatusJson(const SiteStatus& status) {
  std::string json = "{\n  \"shared_folder\": " + Json(status.shared_folder) +
                     ",\n  \"lock_file\": " + Json(status.lock_file) +
                     ",\n  \"update_running\": " + (status.lock.held ? "true" : "false") +
                     ",\n  \"lock_holder\": " + HolderJson(status.lock) +
                     ",\n  \"last_run\": " + LastRunJson(status) +
                     ",\n  \"backup_history\": {\"folder\": " +
                     Json(status.shared_folder + install::kBackupHistoryFolder + "/") +
                     ", \"runs\": " + std::to_string(status.history_runs) +
                     ", \"bytes\": " + std::to_string(status.history_bytes) + "}" +
                     ",\n  \"databases\": [";
  for (size_t i = 0; i < status.databases.size(); ++i) {
    const DatabaseStatus& db = status.databases[i];
    std::string runs;
    for (size_t r = 0; r < db.runs.size(); ++r) runs += (r ? ", " : "") + Json(db.runs[r]);
    json += std::string(i ? "," : "") + "\n    {\"data_source\": " + Json(db.data_source) +
            ", \"file\": " + (db.file.empty() ? "null" : Json(db.file)) +
            ", \"problem\": " + (db.problem.empty() ? "null" : Json(db.problem)) +
            ", \"exists\": " + (db.exists ? "true" : "false") +
            ", \"database\": " + FileJson(db.exists, db.info) +
            ", \"release\": " + (db.version.empty() ? "null" : Json(db.version)) +
            ", \"version_table\": " + (db.version_table ? "true" : "false") +
            ", \"format_version\": " + (db.format_version ? FormatText(db.format_version) : "null") +
            ", \"backup\": " + FileJson(db.backup, db.backup_info) + ", \"history\": [" + runs +
            "]}";
  }
  return json + "\n  ]\n}\n";
}

int ShowStatus(const SiteTools& tools, bool json) {
  SiteStatus status;
  if (!ReadSiteStatus(tools, &status)) return 2;
  tools.out << (json ? StatusJson(status) : StatusTable(status));
  return 0;
}

}  // namespace tabsync::startup
