#include "engine/release_version.h"

#include <algorithm>

#include "base/error.h"
#include "dbengine/names.h"
#include "engine/schema_renames.h"

namespace tabsync::engine {
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

}  // namespace

std::string NewestVersion(dao::Database& db, bool* table) {
  std::string newest, newest_date;
  bool found = false;
  try {
    found = FindTable(db, "Version") != nullptr;
    if (!found) {
      if (table != nullptr) *table = false;
      return "";
    }
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
  } catch (const Error&) {
    // A Version table of another shape: no release to show.
  }
  if (table != nullptr) *table = found;
  return newest;
}

std::string UpdateFolderRelease(dao::DatabaseEngine& engine, const std::string& updateFolder) {
  for (const char* file : {"accounting.mdb", "users.mdb", "config.mdb", "resource.mdb"}) {
    try {
      std::unique_ptr<dao::Database> db =
          engine.OpenDatabase(updateFolder + file, dao::kOpenImmutable, true);
      std::string release = NewestVersion(*db);
      db->Close();
      if (!release.empty()) return release;
    } catch (const Error&) {
      // No database there: the next may tell.
    }
  }
  return "";
}

}  // namespace tabsync::engine
