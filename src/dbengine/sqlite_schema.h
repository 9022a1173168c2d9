#ifndef TABSYNC_DBENGINE_SQLITE_SCHEMA_H_
#define TABSYNC_DBENGINE_SQLITE_SCHEMA_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/dao.h"
#include "dbengine/field_types.h"
#include "dbengine/item_list.h"
#include "dbengine/sqlite_catalog.h"
#include "dbengine/sqlite_session.h"

namespace tabsync::dao {

class TableDefImpl;
class TableList;

// A field of a table definition or of an index. Not yet appended, it only
// holds its properties; appended to a stored table, writing its name renames
// the column.
class TableFieldImpl : public Field {
 public:
  TableFieldImpl(std::string name, ColumnType column, int attributes);

  std::string Name() const override;
  void SetName(const std::string& name) override;
  int Type() const override { return column_.type; }
  int Size() const override { return column_.size; }
  int Precision() const override { return column_.precision; }
  int Scale() const override { return column_.scale; }
  int Attributes() const override { return attributes_; }
  void SetAttributes(int attributes) override;
  const Variant& Value() const override { throw InvalidOperation(); }
  void SetValue(const Variant&) override { throw InvalidOperation(); }

  const ColumnType& column() const { return column_; }
  bool not_null() const { return not_null_; }
  void set_not_null(bool not_null) { not_null_ = not_null; }
  // Called when the field becomes a column of a stored table (or an index
  // field of a stored index, which cannot be renamed).
  void BindTo(std::weak_ptr<TableDefImpl> table);
  void MarkStoredIndexField() { frozen_ = true; }
  bool bound() const { return bound_ || frozen_; }
  // Sets the name without touching the file (the column was renamed there).
  void set_name(std::string name) { name_ = std::move(name); }

 private:
  std::string name_;
  ColumnType column_;
  int attributes_;
  bool not_null_ = false;
  bool bound_ = false;
  bool frozen_ = false;
  std::weak_ptr<TableDefImpl> table_;
};

class IndexImpl : public Index {
 public:
  explicit IndexImpl(std::string name);

  std::string Name() const override { return name_; }
  bool Primary() const override { return primary_; }
  void SetPrimary(bool primary) override;
  bool Unique() const override { return unique_; }
  void SetUnique(bool unique) override;
  Collection<Field>& Fields() override { return fields_; }
  std::shared_ptr<Field> CreateField(const std::string& name, int type, int size) override;

  // The index as stored: its properties and fields no longer change.
  void MarkStored();
  std::vector<std::string> FieldNames() const;

 private:
  std::string name_;
  bool primary_ = false;
  bool unique_ = false;
  bool stored_ = false;
  ItemList<Field> fields_;
};

class TableDefImpl : public TableDef, public std::enable_shared_from_this<TableDefImpl> {
 public:
  enum class Kind { kLocal, kDesktopLink, kOdbcLink };

  // A table definition; `stored` says whether the file already holds it.
  static std::shared_ptr<TableDefImpl> Make(std::shared_ptr<Session> session, std::string name,
                                            int32_t attributes, std::string source_table,
                                            std::string connect, bool stored);

  std::string Name() const override { return name_; }
  void SetName(const std::string& name) override;
  int32_t Attributes() const override;
  std::string Connect() const override { return connect_; }
  void SetConnect(const std::string& connect) override;
  std::string SourceTableName() const override { return source_table_; }
  void RefreshLink() override;
  Collection<Field>& Fields() override;
  Collection<Index>& Indexes() override;
  std::shared_ptr<Field> CreateField(const std::string& name, int type, int size, int precision,
                                     int scale) override;
  std::shared_ptr<Index> CreateIndex(const std::string& name) override;

  Kind kind() const { return kind_; }
  bool stored() const { return stored_; }
  void set_owner(std::weak_ptr<TableList> owner) { owner_ = std::move(owner); }
  void set_extra_attributes(int32_t attributes) { attributes_ = attributes; }
  // Stores a new table in the file (TableDefs.Append does the checks first).
  void Store();
  // The stored columns, loaded on first use (for record sets and lookups).
  std::vector<std::shared_ptr<TableFieldImpl>> Columns();
  // Row identity for updates through a record set; empty when none.
  const std::vector<std::string>& RowLocator();
  // Renames column `field` of this table in the file.
  void RenameColumn(TableFieldImpl& field, const std::string& name);

 private:
  TableDefImpl(std::shared_ptr<Session> session, std::string name, int32_t attributes,
               std::string source_table, std::string connect, bool stored);
  void Check() const;
  void LoadFields();
  void LoadIndexes();
  void LoadLinkedFields();
  // The linked file, opened for reading, after checking that it holds the
  // source table (3024, 3343, 3011).
  std::shared_ptr<Session> OpenLinkSource() const;
  void AppendField(std::shared_ptr<Field> field);
  void AppendIndex(std::shared_ptr<Index> index);
  void AddColumnToStoredTable(const std::shared_ptr<TableFieldImpl>& field);
  void CreateInFile();
  void RenameInFile(const std::string& name);
  CatalogRow LinkRow() const;

  std::shared_ptr<Session> session_;
  std::weak_ptr<TableList> owner_;
  std::string name_;
  int32_t attributes_;
  std::string source_table_;
  std::string connect_;
  Kind kind_;
  bool stored_;
  bool fields_loaded_ = false;
  bool indexes_loaded_ = false;
  bool locator_loaded_ = false;
  std::vector<std::string> locator_;
  ItemList<Field> fields_;
  ItemList<Index> indexes_;
};

// The TableDefs of one database, loaded on first use and kept in name order.
class TableList : public Collection<TableDef>, public std::enable_shared_from_this<TableList> {
 public:
  explicit TableList(std::shared_ptr<Session> session);

  int Count() const override;
  TableDef& Item(int index) override;
  TableDef& Item(const std::string& name) override;
  void Append(std::shared_ptr<TableDef> table) override;

  // The table of that name, or null.
  std::shared_ptr<TableDefImpl> Find(const std::string& name);
  // Raises 3010 when a table other than `except` has the name.
  void CheckNameFree(const std::string& name, const TableDefImpl* except);
  // Keeps the enumeration in name order after a rename.
  void Resort();

 private:
  void EnsureLoaded() const;
  void Load();
  void AddCatalogRows(const std::vector<CatalogRow>& rows);

  std::shared_ptr<Session> session_;
  bool loaded_ = false;
  std::vector<std::shared_ptr<TableDefImpl>> tables_;
};

}  // namespace tabsync::dao

#endif  // TABSYNC_DBENGINE_SQLITE_SCHEMA_H_
