#include "startup/status.h"

#include <algorithm>
#include <cstdio>

#include "dbengine/names.h"
#include "engine/catalogue.h"
#include "engine/schema_renames.h"
#include "install/backup_history.h"
#include "install/data_source_lookup.h"
#include "install/relocation.h"

namespace tabsync::startup {
namespace {

bool AllDigits(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](unsigned char c) {
    return c >= '0' && c <= '9';
  });
}

// "3.10.0" after "3.9.2": dotted numbers compare part by part as numbers.
bool OlderVersion(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  while (i < a.size() || j < b.size()) {
    size_t a_end = std::min(a.find('.', i), a.size());
    size_t b_end = std::min(b.find('.', j), b.size());
    std::string x = a.substr(std::min(i, a.size()), a_end - std::min(i, a.size()));
    std::string y = b.substr(std::min(j, b.size()), b_end - std::min(j, b.size()));
    if (AllDigits(x) && AllDigits(y) && x.size() != y.size()) return x.size() < y.size();
    if (x != y) return x < y;
    i = a_end + 1;
    j = b_end + 1;
  }
  return false;
}

bool HasField(dao::Recordset& set, const std::string& name) {
  for (int i = 0; i < set.Fields().Count(); ++i)
    if (dao::LowerName(set.Fields().Item(i).Name()) == dao::LowerName(name)) return true;
  return false;
}

// The newest release in the database's Version table: the latest
// ReleaseDate, and among equal dates the highest DBVersion. "" without such
// a table or without a DBVersion in it; *table tells whether there is one.
std::string NewestVersion(dao::Database& db, bool* table) {
  std::string newest, newest_date;
  *table = false;
  try {
    *table = engine::FindTable(db, "Version") != nullptr;
    if (*table) {
      std::unique_ptr<dao::Recordset> set =
          db.OpenRecordset("SELECT * FROM [Version]", dao::kSnapshot, dao::kReadOnlyOption);
      bool dated = HasField(*set, "ReleaseDate");
      if (HasField(*set, "DBVersion")) {
        for (; !set->Eof(); set->MoveNext()) {
          std::string version = set->Fields().Item("DBVersion").Value().ToText();
          std::string date = dated ? set->Fields().Item("ReleaseDate").Value().ToText() : "";
          if (newest.empty() || date > newest_date ||
              (date == newest_date && OlderVersion(newest, version))) {
            newest = version;
            newest_date = date;
          }
        }
      }
    }
  } catch (const Error&) {
    // A Version table of another shape: no release to show.
  }
  return newest;
}

void ReadRelease(dao::DatabaseEngine& engine, DatabaseStatus* status) {
  std::unique_ptr<dao::Database> db = engine.OpenDatabase(status->file, 0, true);
  status->format_version = db->FormatVersion();
  status->version = NewestVersion(*db, &status->version_table);
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

// "512 B", "20.0 KiB", "62.5 MiB", "1.2 GiB": at most 9 characters.
std::string SizeText(long long bytes) {
  if (bytes < 1000) return std::to_string(bytes) + " B";
  const char* units[] = {"KiB", "MiB", "GiB", "TiB"};
  double value = static_cast<double>(bytes) / 1024;
  int unit = 0;
  for (; value >= 999.95 && unit < 3; ++unit) value /= 1024;
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
  return text;
}

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

}  // namespace

bool ReadSiteStatus(const SiteTools& tools, SiteStatus* status) {
  std::string location;
  if (!ReadLocation(tools.share, tools.install.ui, &location)) return false;
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
  return true;
}

std::string StatusTable(const SiteStatus& status) {
  std::vector<std::vector<std::string>> rows = {
      {"DATA SOURCE", "DATABASE", "RELEASE", "FORMAT", "SIZE", "MODIFIED", "BACKUP"}};
  for (const DatabaseStatus& db : status.databases) rows.push_back(Row(status, db));
  std::string notes = Notes(status);
  return "Shared database folder: " + status.shared_folder + "\n" + RunningLine(status) + "\n" +
         AlignedColumns(rows) + (notes.empty() ? "" : "\n" + notes) + "\n" + HistoryLines(status);
}

std::string StatusJson(const SiteStatus& status) {
  std::string json = "{\n  \"shared_folder\": " + Json(status.shared_folder) +
                     ",\n  \"lock_file\": " + Json(status.lock_file) +
                     ",\n  \"update_running\": " + (status.lock.held ? "true" : "false") +
                     ",\n  \"lock_holder\": " + HolderJson(status.lock) +
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
