#include "engine/table_creation.h"

#include <memory>

namespace tabsync::engine {
namespace {

void CopyFields(UpdateContext& context, dao::TableDef& source, dao::TableDef& table) {
  dao::Collection<dao::Field>& fields = source.Fields();
  for (int i = 0; i < fields.Count(); ++i) {
    dao::Field& field = fields.Item(i);
    context.WriteLog("    COLUMN " + std::to_string(i) + ": " + field.Name() + " (" +
                     std::to_string(field.Type()) + ")");
    std::shared_ptr<dao::Field> copy = table.CreateField(field.Name(), field.Type(), field.Size(),
                                                          field.Precision(), field.Scale());
    copy->SetAttributes(field.Attributes());
    table.Fields().Append(copy);
  }
}

void CopyPrimaryKey(UpdateContext& context, dao::Index& primary, dao::TableDef& table) {
  std::shared_ptr<dao::Index> key = table.CreateIndex("PrimaryKey");
  key->SetPrimary(true);
  key->SetUnique(true);
  dao::Collection<dao::Field>& fields = primary.Fields();
  for (int i = 0; i < fields.Count(); ++i) {
    std::string name = fields.Item(i).Name();
    context.WriteLog("    Primary Key: " + name);
    key->Fields().Append(key->CreateField(name));
  }
  table.Indexes().Append(key);
}

void CopyPrimaryIndexes(UpdateContext& context, dao::TableDef& source, dao::TableDef& table) {
  dao::Collection<dao::Index>& indexes = source.Indexes();
  int count = indexes.Count();
  for (int i = 0; i < count; ++i) {
    dao::Index& index = indexes.Item(i);
    if (index.Primary()) CopyPrimaryKey(context, index, table);
  }
}

// The position of a field named exactly `name` among the first `count`
// fields, or -1.
int ExactFieldPosition(dao::Collection<dao::Field>& fields, int count, const std::string& name) {
  for (int i = 0; i < count; ++i)
    if (fields.Item(i).Name() == name) return i;
  return -1;
}

}  // namespace

void AddTable(UpdateContext& context, dao::Database& target, dao::TableDef& source) {
  std::string name = source.Name();
  context.WriteLog("ADD TABLE " + name);
  std::shared_ptr<dao::TableDef> table = target.CreateTableDef(name);
  CopyFields(context, source, *table);
  CopyPrimaryIndexes(context, source, *table);
  target.TableDefs().Append(table);
}

void AddColumns(UpdateContext& context, const std::string& existingTable,
                const std::string& updateTable) {
  dao::TableDef& existing = context.ExistingDatabase().TableDefs().Item(existingTable);
  dao::TableDef& update = context.UpdateInfoDatabase().TableDefs().Item(updateTable);
  dao::Collection<dao::Field>& existing_fields = existing.Fields();
  dao::Collection<dao::Field>& update_fields = update.Fields();
  // Both counts are read once: columns added here are not searched again.
  int existing_count = existing_fields.Count();
  int update_count = update_fields.Count();
  int added = 0;
  for (int i = 0; i < existing_count; ++i) {
    dao::Field& field = existing_fields.Item(i);
    if (ExactFieldPosition(update_fields, update_count, field.Name()) >= 0) continue;
    if (added == 0) context.WriteLog(" ADD COLUMNS in " + updateTable);
    context.WriteLog("   ADD COLUMN " + field.Name());
    if (added == kMaxAddedColumns) {
      context.WriteLog(" Too many fields to add!");
      return;
    }
    ++added;
    update_fields.Append(update.CreateField(field.Name(), field.Type(), field.Size(),
                                             field.Precision(), field.Scale()));
  }
}

}  // namespace tabsync::engine
