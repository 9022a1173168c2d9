#include "engine/schema_renames.h"

#include "dbengine/names.h"

namespace tabsync::engine {
namespace {

using dao::LowerName;

// The position of the first field whose name matches, or -1. The count is
// read once, before the walk.
int FindFieldPosition(dao::TableDef& table, const std::string& name) {
  dao::Collection<dao::Field>& fields = table.Fields();
  int count = fields.Count();
  std::string wanted = LowerName(name);
  for (int i = 0; i < count; ++i)
    if (LowerName(fields.Item(i).Name()) == wanted) return i;
  return -1;
}

}  // namespace

void RenameTable(UpdateContext& context, const std::string& oldName, const std::string& newName) {
  dao::TableDef* table = FindTable(context.ExistingDatabase(), oldName);
  if (!table) return;
  table->SetName(newName);
  context.WriteLog(" RENAME Table: " + oldName + " -> " + newName);
}

void RenameColumn(UpdateContext& context, const std::string& table, const std::string& oldColumn,
                  const std::string& newColumn) {
  dao::TableDef* definition = FindTable(context.ExistingDatabase(), table);
  if (!definition) return;
  int position = FindFieldPosition(*definition, oldColumn);
  if (position < 0) return;
  definition->Fields().Item(position).SetName(newColumn);
  context.WriteLog(" RENAME COLUMN, Table '" + table + "'; Column: " + oldColumn + " -> " +
                   newColumn);
}

void InsertColumn(UpdateContext& context, const std::string& table, const std::string& column) {
  // Only the first table of the update information that matches is searched.
  dao::TableDef* model = FindTable(context.UpdateInfoDatabase(), table);
  if (!model) return;
  int position = FindFieldPosition(*model, column);
  if (position < 0) return;
  dao::Field& source = model->Fields().Item(position);
  dao::TableDef* existing = FindTable(context.ExistingDatabase(), table);
  if (!existing) return;
  try {
    existing->Fields().Append(existing->CreateField(source.Name(), source.Type(), source.Size(),
                                                   source.Precision(), source.Scale()));
    context.WriteLog(" INSERT COLUMN, Table '" + table + "'; Column: " + column);
  } catch (const Error&) {
    // The column is usually there already: on a database that is up to date
    // this is the normal outcome, and not worth a line or an error.
  }
}

dao::TableDef* FindTable(dao::Database& database, const std::string& name) {
  dao::Collection<dao::TableDef>& tables = database.TableDefs();
  std::string wanted = LowerName(name);
  for (int i = 0; i < tables.Count(); ++i) {
    dao::TableDef& table = tables.Item(i);
    if (LowerName(table.Name()) == wanted) return &table;
  }
  return nullptr;
}

bool IsSameTable(const std::string& existingName, const std::string& updateName) {
  std::string existing = LowerName(existingName);
  std::string update = LowerName(updateName);
  if (existing == "privilegies" && update == "privileges") return true;
  return existing == update;
}

}  // namespace tabsync::engine
