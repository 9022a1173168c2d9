#include "engine/table_merge.h"

#include <cstdint>
#include <vector>

#include "dbengine/names.h"
#include "engine/record_merge.h"
#include "engine/schema_renames.h"
#include "engine/table_creation.h"
#include "install/data_source_lookup.h"

namespace tabsync::engine {
namespace {

using dao::LowerName;

// The attribute flags in the order their words are written.
struct AttributeWord {
  int32_t bits;
  const char* word;
};

constexpr AttributeWord kAttributeWords[] = {
    {dao::kTableAttachExclusive, " +ATTACH_EXCLUSIVE"},
    {dao::kTableAttachSavePassword, " +ATTACH_SAVE_PWD"},
    {dao::kTableSystemObject, " +SYSTEM_OBJECT"},
    {dao::kTableHidden, " +HIDDEN_OBJECT"},
    {dao::kTableAttached, " +ATTACHED_TABLE"},
    {dao::kTableAttachedOdbc, " +ATTACHED_ODBC"},
};

bool IsLinkedTable(const std::string& attributeText) {
  return attributeText.find("ATTACHED_TABLE") != std::string::npos;
}

// The names of the plain tables (empty attribute text), in the engine's
// order.
std::vector<std::string> PlainTableNames(dao::Database& database) {
  std::vector<std::string> names;
  dao::Collection<dao::TableDef>& tables = database.TableDefs();
  for (int i = 0; i < tables.Count(); ++i) {
    dao::TableDef& table = tables.Item(i);
    if (TableAttributeText(table).empty()) names.push_back(table.Name());
  }
  return names;
}

void LogTableType(UpdateContext& context, dao::TableDef& table, const std::string& text,
                  const std::string& action) {
  context.WriteLog(" Table " + table.Name() + " Type " + text + ": " + action);
}

// Pass 2: relinks the linked tables of the update information, logs the
// ones it ignores, and returns the names of its plain tables.
std::vector<std::string> SortUpdateInfoTables(UpdateContext& context) {
  std::vector<std::string> names;
  dao::Collection<dao::TableDef>& tables = context.UpdateInfoDatabase().TableDefs();
  for (int i = 0; i < tables.Count(); ++i) {
    dao::TableDef& table = tables.Item(i);
    std::string text = TableAttributeText(table);
    if (IsLinkedTable(text)) {
      RelinkToResource(context, table);
      LogTableType(context, table, text, "LINK REPLACE into: " + table.Connect());
    } else if (text.empty()) {
      names.push_back(table.Name());
    } else if (text != "+ACCESS_SYS") {
      LogTableType(context, table, text, "IGNORED");
    }
  }
  return names;
}

// The first update-information name that IsSameTable pairs with the
// existing table; empty when there is none.
std::string MatchingUpdateTable(const std::string& existingName,
                                const std::vector<std::string>& updateNames) {
  for (const std::string& name : updateNames)
    if (IsSameTable(existingName, name)) return name;
  return "";
}

bool HasColumn(dao::TableDef& table, const std::string& name) {
  dao::Collection<dao::Field>& fields = table.Fields();
  for (int i = 0; i < fields.Count(); ++i)
    if (dao::SameName(fields.Item(i).Name(), name)) return true;
  return false;
}

// The records of the database in use are merged into the release's table by
// its key column. Without one there, AddColumns would add it empty, and the
// release's records would stay beside the operator's copies of them.
void RequireKeyColumn(UpdateContext& context, const std::string& existingName,
                      const std::string& updateName) {
  std::string key = GetKeyFieldName(context, existingName);
  if (!HasColumn(context.ExistingDatabase().TableDefs().Item(existingName), key)) return;
  if (!HasColumn(context.UpdateInfoDatabase().TableDefs().Item(updateName), key))
    throw NoKeyColumn(updateName, key, " of the update information");
}

// Pass 3 for one existing plain table: its columns or the whole table, then
// its records. The record step uses the paired update-information table, so
// that a table paired through the alias ("privilegies" with "privileges")
// merges into the table it was paired with.
// A table carried over whole keeps its records' auto-increment numbers: new
// numbers would break what refers to them, and a record whose old number was
// already given to another would overwrite that one.
void CarryExistingTable(UpdateContext& context, const std::string& existingName,
                        const std::vector<std::string>& updateNames) {
  std::string updateName = MatchingUpdateTable(existingName, updateNames);
  AutoNumbers numbers = AutoNumbers::kGivenByTarget;
  if (!updateName.empty()) {
    RequireKeyColumn(context, existingName, updateName);
    AddColumns(context, existingName, updateName);
  } else {
    context.WriteLog(" INSERT Table: " + existingName);
    AddTable(context, context.UpdateInfoDatabase(),
             context.ExistingDatabase().TableDefs().Item(existingName));
    updateName = existingName;
    numbers = AutoNumbers::kKeptFromSource;
  }
  dao::TableDef& source = context.ExistingDatabase().TableDefs().Item(existingName);
  dao::TableDef& target = context.UpdateInfoDatabase().TableDefs().Item(updateName);
  MergeRecords(context, context.ExistingDatabase(), context.UpdateInfoDatabase(), source, target,
               numbers);
}

}  // namespace

bool TableExists(dao::Database& database, const std::string& tableName) {
  return FindTable(database, tableName) != nullptr;
}

std::string TableAttributeText(dao::TableDef& table) {
  if (table.Name().starts_with("MSys")) return "+ACCESS_SYS";
  int32_t attributes = table.Attributes();
  std::string text;
  for (const AttributeWord& flag : kAttributeWords)
    if ((attributes & flag.bits) == flag.bits) text += flag.word;
  return text;
}

void RelinkToResource(UpdateContext& context, dao::TableDef& table) {
  std::string folder;
  install::GetDataSourceFolder(context.Registrations(), "Resource", &folder);
  // The parent of a file in the root folder keeps its "/", so the lookup
  // gives "//" for it.
  if (folder.ends_with("//")) folder.pop_back();
  table.SetConnect(";DATABASE=" + folder + "resource.mdb");
  table.RefreshLink();
}

void MergeTable(UpdateContext& context, const std::string& tableName) {
  dao::TableDef* source = FindTable(context.UpdateInfoDatabase(), tableName);
  if (!source) return;
  try {
    dao::Database& existing = context.ExistingDatabase();
    AutoNumbers numbers = AutoNumbers::kGivenByTarget;
    if (!TableExists(existing, tableName)) {
      AddTable(context, existing, *source);
      numbers = AutoNumbers::kKeptFromSource;
    }
    dao::TableDef& target = existing.TableDefs().Item(tableName);
    MergeRecords(context, context.UpdateInfoDatabase(), existing, *source, target, numbers);
  } catch (const Error&) {
    // The table step of a release ends quietly: a version table that cannot
    // be brought over is not worth an error of the run.
  }
}

void MergeAllTables(UpdateContext& context) {
  std::vector<std::string> existingNames = PlainTableNames(context.ExistingDatabase());
  std::vector<std::string> updateNames = SortUpdateInfoTables(context);
  for (const std::string& name : existingNames) {
    // The update information's own version table stays as delivered.
    if (LowerName(name) == "version") continue;
    CarryExistingTable(context, name, updateNames);
  }
}

}  // namespace tabsync::engine
