#include "dbengine/sqlite_schema.h"

#include <algorithm>

#include "dbengine/decimal.h"
#include "dbengine/names.h"

namespace tabsync::dao {

namespace {

constexpr int kSettableFieldAttributes =
    kFieldFixed | kFieldVariable | kFieldAutoIncrement | kFieldUpdatable;

std::string QuotedList(const std::vector<std::string>& names) {
  std::string list;
  for (const std::string& name : names) {
    if (!list.empty()) list += ", ";
    list += QuoteName(name);
  }
  return list;
}

std::string CreateIndexSql(const std::string& table, const IndexImpl& index) {
  return std::string(index.Unique() ? "CREATE UNIQUE INDEX " : "CREATE INDEX ") +
         QuoteName(index.Name()) + " ON " + QuoteName(table) + " (" +
         QuotedList(index.FieldNames()) + ")";
}

// A name that no table or column of the file uses, for renames that change
// only the letter case (SQLite takes those for a clash with itself).
std::string TemporaryName(const std::string& name) { return name + "~tabsync~rename"; }

// Runs the rename statement that `sql(from, to)` gives; a change of letter
// case alone goes through a temporary name.
template <typename MakeSql>
void RenameInSteps(Session& session, const std::string& from, const std::string& to, MakeSql sql) {
  std::string current = from;
  if (SameName(from, to)) {
    session.Exec(sql(QuoteName(from), QuoteName(TemporaryName(from))));
    current = TemporaryName(from);
  }
  session.Exec(sql(QuoteName(current), QuoteName(to)));
}

TableDefImpl::Kind KindOfConnect(const std::string& connect) {
  if (connect.empty()) return TableDefImpl::Kind::kLocal;
  return IsOdbcConnect(connect) ? TableDefImpl::Kind::kOdbcLink : TableDefImpl::Kind::kDesktopLink;
}

int32_t LinkBits(TableDefImpl::Kind kind) {
  switch (kind) {
    case TableDefImpl::Kind::kDesktopLink: return kTableAttached;
    case TableDefImpl::Kind::kOdbcLink: return kTableAttachedOdbc;
    default: return 0;
  }
}

}  // namespace

// ---- TableFieldImpl -------------------------------------------------------

TableFieldImpl::TableFieldImpl(std::string name, ColumnType column, int attributes)
    : name_(std::move(name)), column_(column), attributes_(attributes) {}

std::string TableFieldImpl::Name() const { return name_; }

void TableFieldImpl::SetName(const std::string& name) {
  if (frozen_) throw InvalidOperation();
  if (!bound_) {
    name_ = name;
    return;
  }
  std::shared_ptr<TableDefImpl> table = table_.lock();
  if (!table) throw ObjectClosed();
  table->RenameColumn(*this, name);
}

void TableFieldImpl::SetAttributes(int attributes) {
  if (bound()) throw InvalidOperation();
  if ((attributes & ~kSettableFieldAttributes) != 0) throw InvalidArgument();
  bool counter = (attributes & kFieldAutoIncrement) != 0;
  if (counter && column_.type != kTypeLong) throw InvalidArgument();
  column_.counter = counter;
  attributes_ = attributes;
}

void TableFieldImpl::BindTo(std::weak_ptr<TableDefImpl> table) {
  table_ = std::move(table);
  bound_ = true;
  attributes_ = StoredAttributes(column_);
}

// ---- IndexImpl ------------------------------------------------------------

IndexImpl::IndexImpl(std::string name) : name_(std::move(name)) {
  fields_.set_appender([this](std::shared_ptr<Field> field) {
    auto impl = std::dynamic_pointer_cast<TableFieldImpl>(field);
    if (stored_ || !impl || impl->bound()) throw InvalidOperation();
    for (const auto& existing : fields_.items())
      if (SameName(existing->Name(), impl->Name())) throw FieldDefinedTwice();
    fields_.items().push_back(impl);
  });
}

void IndexImpl::SetPrimary(bool primary) {
  if (stored_) throw InvalidOperation();
  primary_ = primary;
}

void IndexImpl::SetUnique(bool unique) {
  if (stored_) throw InvalidOperation();
  unique_ = unique;
}

std::shared_ptr<Field> IndexImpl::CreateField(const std::string& name, int type, int size) {
  if (stored_) throw InvalidOperation();
  return std::make_shared<TableFieldImpl>(name, ColumnType{type, size, false}, 0);
}

void IndexImpl::MarkStored() {
  stored_ = true;
  if (primary_) unique_ = true;
  for (auto& field : fields_.items()) static_cast<TableFieldImpl&>(*field).MarkStoredIndexField();
}

std::vector<std::string> IndexImpl::FieldNames() const {
  std::vector<std::string> names;
  for (const auto& field : fields_.items()) names.push_back(field->Name());
  return names;
}

// ---- TableDefImpl: identity and attributes --------------------------------

std::shared_ptr<TableDefImpl> TableDefImpl::Make(std::shared_ptr<Session> session,
                                                 std::string name, int32_t attributes,
                                                 std::string source_table, std::string connect,
                                                 bool stored) {
  std::shared_ptr<TableDefImpl> table(new TableDefImpl(std::move(session), std::move(name),
                                                       attributes, std::move(source_table),
                                                       std::move(connect), stored));
  return table;
}

TableDefImpl::TableDefImpl(std::shared_ptr<Session> session, std::string name,
                           int32_t attributes, std::string source_table, std::string connect,
                           bool stored)
    : session_(std::move(session)),
      name_(std::move(name)),
      attributes_(attributes),
      source_table_(std::move(source_table)),
      connect_(std::move(connect)),
      kind_(KindOfConnect(connect_)),
      stored_(stored) {
  fields_.set_guard([this] { Check(); });
  indexes_.set_guard([this] { Check(); });
  fields_.set_appender([this](std::shared_ptr<Field> field) { AppendField(std::move(field)); });
  indexes_.set_appender([this](std::shared_ptr<Index> index) { AppendIndex(std::move(index)); });
}

void TableDefImpl::Check() const { session_->CheckOpen(); }

int32_t TableDefImpl::Attributes() const {
  Check();
  return attributes_ | LinkBits(kind_);
}

void TableDefImpl::SetName(const std::string& name) {
  Check();
  if (!stored_) {
    name_ = name;
    return;
  }
  std::shared_ptr<TableList> owner = owner_.lock();
  if (!owner) throw ObjectClosed();
  if (name == name_) return;
  if (SameName(name_, kCatalogTable)) throw InvalidOperation();
  CheckNewName(name);
  owner->CheckNameFree(name, this);
  session_->Atomically([&] { RenameInFile(name); });
  name_ = name;
  session_->SchemaChanged();
  session_->ForgetCounters();
  owner->Resort();
}

void TableDefImpl::RenameInFile(const std::string& name) {
  if (kind_ == Kind::kLocal) {
    RenameInSteps(*session_, name_, name, [](const std::string& from, const std::string& to) {
      return "ALTER TABLE " + from + " RENAME TO " + to;
    });
  }
  RenameCatalogRow(*session_, name_, name);
}

// ---- TableDefImpl: links --------------------------------------------------

CatalogRow TableDefImpl::LinkRow() const {
  CatalogRow row;
  row.name = name_;
  row.type = kind_ == Kind::kOdbcLink ? kCatalogOdbcLink : kCatalogDesktopLink;
  row.attributes = attributes_ | LinkBits(kind_);
  row.connect = connect_;
  row.foreign_name = source_table_;
  return row;
}

void TableDefImpl::SetConnect(const std::string& connect) {
  Check();
  if (stored_ && kind_ == Kind::kLocal) throw InvalidOperation();
  Kind kind = KindOfConnect(connect);
  if (stored_ && kind == Kind::kLocal) throw InvalidArgument();
  std::string old_connect = connect_;
  Kind old_kind = kind_;
  connect_ = connect;
  kind_ = kind;
  if (!stored_) return;
  try {
    session_->Atomically([&] { UpdateCatalogConnect(*session_, name_, LinkRow()); });
  } catch (...) {
    connect_ = old_connect;
    kind_ = old_kind;
    throw;
  }
  fields_loaded_ = false;
}

void TableDefImpl::RefreshLink() {
  Check();
  if (kind_ == Kind::kLocal) throw InvalidOperation();
  if (kind_ == Kind::kOdbcLink) throw OdbcCallFailed();
  OpenLinkSource()->Close();
  fields_loaded_ = false;
}

std::shared_ptr<Session> TableDefImpl::OpenLinkSource() const {
  std::string path = LinkedFilePath(connect_);
  if (path.empty()) throw FileNotFound(path);
  std::shared_ptr<Session> linked = OpenLinkedFile(path);
  if (!HasLocalTable(*linked, source_table_)) throw ObjectNotFound(source_table_);
  return linked;
}

// ---- TableDefImpl: fields and indexes -------------------------------------

Collection<Field>& TableDefImpl::Fields() {
  Check();
  LoadFields();
  return fields_;
}

Collection<Index>& TableDefImpl::Indexes() {
  Check();
  LoadIndexes();
  return indexes_;
}

std::shared_ptr<Field> TableDefImpl::CreateField(const std::string& name, int type, int size,
                                                 int precision, int scale) {
  Check();
  if (!IsKnownType(type)) throw InvalidFieldType();
  ColumnType column{type, FixedSize(type), false};
  if (type == kTypeText) {
    if (size < 0 || size > 255) throw InvalidArgument();
    column.size = size == 0 ? 255 : size;
  }
  if (type == kTypeDecimal) {
    column.precision = precision == 0 ? kDefaultDecimalPrecision : precision;
    column.scale = scale;
    if (column.precision < 1 || column.precision > kMaxDecimalPrecision || scale < 0 ||
        scale > column.precision)
      throw InvalidArgument();
  }
  return std::make_shared<TableFieldImpl>(name, column, StoredAttributes(column));
}

std::shared_ptr<Index> TableDefImpl::CreateIndex(const std::string& name) {
  Check();
  return std::make_shared<IndexImpl>(name);
}

void TableDefImpl::LoadFields() {
  if (!stored_ || fields_loaded_) return;
  if (kind_ == Kind::kDesktopLink) {
    LoadLinkedFields();
    return;
  }
  fields_.items().clear();
  fields_loaded_ = true;
  if (kind_ == Kind::kOdbcLink) return;  // the ODBC source is not reachable from here
  for (const ColumnInfo& info : ReadColumns(*session_, name_)) {
    auto field = std::make_shared<TableFieldImpl>(info.name, info.column, 0);
    field->set_not_null(info.not_null);
    field->BindTo(weak_from_this());
    fields_.items().push_back(field);
  }
}

void TableDefImpl::LoadLinkedFields() {
  std::shared_ptr<Session> linked = OpenLinkSource();
  std::vector<ColumnInfo> columns = ReadColumns(*linked, source_table_);
  linked->Close();
  fields_.items().clear();
  for (const ColumnInfo& info : columns) {
    auto field = std::make_shared<TableFieldImpl>(info.name, info.column, 0);
    field->BindTo(weak_from_this());
    fields_.items().push_back(field);
  }
  fields_loaded_ = true;
}

void TableDefImpl::LoadIndexes() {
  if (!stored_ || indexes_loaded_) return;
  indexes_.items().clear();
  indexes_loaded_ = true;
  if (kind_ != Kind::kLocal) return;
  std::vector<ColumnInfo> columns = ReadColumns(*session_, name_);
  std::sort(columns.begin(), columns.end(),
            [](const ColumnInfo& a, const ColumnInfo& b) { return a.key_position < b.key_position; });
  auto primary = std::make_shared<IndexImpl>("PrimaryKey");
  primary->SetPrimary(true);
  primary->SetUnique(true);
  for (const ColumnInfo& info : columns)
    if (info.key_position > 0) primary->Fields().Append(primary->CreateField(info.name, info.column.type, info.column.size));
  if (primary->Fields().Count() > 0) {
    primary->MarkStored();
    indexes_.items().push_back(primary);
  }
  for (const IndexInfo& info : ReadIndexes(*session_, name_)) {
    auto index = std::make_shared<IndexImpl>(info.name);
    index->SetUnique(info.unique);
    for (const std::string& column : info.columns) index->Fields().Append(index->CreateField(column, 0, 0));
    index->MarkStored();
    indexes_.items().push_back(index);
  }
}

std::vector<std::shared_ptr<TableFieldImpl>> TableDefImpl::Columns() {
  Check();
  LoadFields();
  std::vector<std::shared_ptr<TableFieldImpl>> columns;
  for (auto& field : fields_.items())
    columns.push_back(std::static_pointer_cast<TableFieldImpl>(field));
  return columns;
}

const std::vector<std::string>& TableDefImpl::RowLocator() {
  if (!locator_loaded_) {
    locator_ = kind_ == Kind::kLocal ? ReadRowLocator(*session_, name_) : std::vector<std::string>();
    locator_loaded_ = true;
  }
  return locator_;
}

void TableDefImpl::AppendField(std::shared_ptr<Field> field) {
  auto impl = std::dynamic_pointer_cast<TableFieldImpl>(field);
  if (!impl || impl->bound()) throw InvalidOperation();
  if (!IsKnownType(impl->Type())) throw InvalidFieldType();
  if (stored_ && kind_ != Kind::kLocal) throw ReadOnly();
  LoadFields();
  CheckNewName(impl->Name());
  for (const auto& existing : fields_.items())
    if (SameName(existing->Name(), impl->Name())) throw FieldDefinedTwice();
  if (stored_) {
    AddColumnToStoredTable(impl);
  } else {
    fields_.items().push_back(impl);
  }
}

void TableDefImpl::AddColumnToStoredTable(const std::shared_ptr<TableFieldImpl>& field) {
  session_->Atomically([&] {
    session_->Exec("ALTER TABLE " + QuoteName(name_) + " ADD COLUMN " + QuoteName(field->Name()) +
                   " " + DeclaredTypeFor(field->column(), session_->format_version()));
    // Records that exist already get numbers of their own, as new ones do.
    const std::vector<std::string>& locator = RowLocator();
    bool has_rowid = locator.size() == 1 && locator[0].front() != '"';
    if (field->column().counter && has_rowid)
      session_->Exec("UPDATE " + QuoteName(name_) + " SET " + QuoteName(field->Name()) + " = " +
                     locator[0]);
  });
  field->BindTo(weak_from_this());
  fields_.items().push_back(field);
  locator_loaded_ = false;
  session_->SchemaChanged();
  session_->ForgetCounters();
}

void TableDefImpl::AppendIndex(std::shared_ptr<Index> index) {
  auto impl = std::dynamic_pointer_cast<IndexImpl>(index);
  if (!impl) throw InvalidOperation();
  if (impl->Fields().Count() == 0) throw NoFieldDefined();
  LoadIndexes();
  for (const auto& existing : indexes_.items()) {
    if (SameName(existing->Name(), impl->Name())) throw InvalidOperation();
    if (existing->Primary() && impl->Primary()) throw InvalidOperation();
  }
  if (!stored_) {
    indexes_.items().push_back(impl);
    return;
  }
  // SQLite cannot add a primary key to a stored table.
  if (kind_ != Kind::kLocal) throw ReadOnly();
  if (impl->Primary()) throw InvalidOperation();
  session_->Atomically([&] { session_->Exec(CreateIndexSql(name_, *impl)); });
  impl->MarkStored();
  indexes_.items().push_back(impl);
  session_->SchemaChanged();
}

void TableDefImpl::RenameColumn(TableFieldImpl& field, const std::string& name) {
  Check();
  if (kind_ != Kind::kLocal) throw ReadOnly();
  if (name == field.Name()) return;
  CheckNewName(name);
  for (const auto& existing : fields_.items())
    if (existing.get() != &field && SameName(existing->Name(), name)) throw FieldDefinedTwice();
  std::string table = QuoteName(name_);
  session_->Atomically([&] {
    RenameInSteps(*session_, field.Name(), name, [&](const std::string& from, const std::string& to) {
      return "ALTER TABLE " + table + " RENAME COLUMN " + from + " TO " + to;
    });
  });
  field.set_name(name);
  indexes_loaded_ = false;
  locator_loaded_ = false;
  session_->SchemaChanged();
  session_->ForgetCounters();
}

// ---- TableDefImpl: storing a new table ------------------------------------

void TableDefImpl::Store() {
  CheckNewName(name_);
  if (kind_ == Kind::kLocal) {
    if (fields_.items().empty()) throw NoFieldDefined();
    session_->Atomically([&] { CreateInFile(); });
    for (auto& field : fields_.items())
      static_cast<TableFieldImpl&>(*field).BindTo(weak_from_this());
    for (auto& index : indexes_.items()) static_cast<IndexImpl&>(*index).MarkStored();
    fields_loaded_ = true;
    indexes_loaded_ = false;  // read back: the primary key is reported as "PrimaryKey"
  } else {
    session_->Atomically([&] { InsertCatalogRow(*session_, LinkRow()); });
    fields_loaded_ = false;
    indexes_loaded_ = false;
  }
  stored_ = true;
}

void TableDefImpl::CreateInFile() {
  std::string sql = "CREATE TABLE " + QuoteName(name_) + " (";
  for (size_t i = 0; i < fields_.items().size(); ++i) {
    auto& field = static_cast<TableFieldImpl&>(*fields_.items()[i]);
    if (i > 0) sql += ", ";
    sql += QuoteName(field.Name()) + " " + DeclaredTypeFor(field.column(), session_->format_version());
  }
  std::vector<IndexImpl*> others;
  for (auto& index : indexes_.items()) {
    auto& impl = static_cast<IndexImpl&>(*index);
    for (const std::string& column : impl.FieldNames()) fields_.Item(column);  // 3265 if missing
    if (impl.Primary()) {
      sql += ", PRIMARY KEY (" + QuotedList(impl.FieldNames()) + ")";
    } else {
      others.push_back(&impl);
    }
  }
  session_->Exec(sql + ")");
  for (IndexImpl* index : others) session_->Exec(CreateIndexSql(name_, *index));
  if (attributes_ != 0) {
    CatalogRow row;
    row.name = name_;
    row.type = kCatalogLocalTable;
    row.attributes = attributes_;
    InsertCatalogRow(*session_, row);
  }
}

// ---- TableList ------------------------------------------------------------

TableList::TableList(std::shared_ptr<Session> session) : session_(std::move(session)) {}

void TableList::EnsureLoaded() const {
  session_->CheckOpen();
  if (!loaded_) const_cast<TableList*>(this)->Load();
}

void TableList::Load() {
  loaded_ = true;
  std::vector<CatalogRow> rows = ReadCatalog(*session_);
  for (const std::string& name : ReadTableNames(*session_)) {
    int32_t attributes = SameName(name, kCatalogTable) ? kTableSystemObject : 0;
    for (const CatalogRow& row : rows)
      if (row.type == kCatalogLocalTable && SameName(row.name, name)) attributes = row.attributes;
    tables_.push_back(TableDefImpl::Make(session_, name, attributes, "", "", true));
  }
  AddCatalogRows(rows);
  for (auto& table : tables_) table->set_owner(weak_from_this());
  Resort();
}

void TableList::AddCatalogRows(const std::vector<CatalogRow>& rows) {
  for (const CatalogRow& row : rows) {
    if (row.type != kCatalogDesktopLink && row.type != kCatalogOdbcLink) continue;
    if (Find(row.name)) continue;  // a local table of that name hides the row
    std::string connect = row.connect;
    // A row's Type says what it is, whatever its connect string looks like.
    if (row.type == kCatalogOdbcLink && !IsOdbcConnect(connect)) connect = "ODBC;" + connect;
    if (row.type == kCatalogDesktopLink && connect.empty()) connect = ";DATABASE=";
    int32_t attributes = row.attributes & ~(kTableAttached | kTableAttachedOdbc);
    tables_.push_back(
        TableDefImpl::Make(session_, row.name, attributes, row.foreign_name, connect, true));
  }
}

int TableList::Count() const {
  EnsureLoaded();
  return static_cast<int>(tables_.size());
}

TableDef& TableList::Item(int index) {
  EnsureLoaded();
  if (index < 0 || index >= static_cast<int>(tables_.size())) throw ItemNotFound();
  return *tables_[index];
}

TableDef& TableList::Item(const std::string& name) {
  std::shared_ptr<TableDefImpl> table = Find(name);
  if (!table) throw ItemNotFound();
  return *table;
}

std::shared_ptr<TableDefImpl> TableList::Find(const std::string& name) {
  EnsureLoaded();
  for (auto& table : tables_)
    if (SameName(table->Name(), name)) return table;
  return nullptr;
}

void TableList::CheckNameFree(const std::string& name, const TableDefImpl* except) {
  EnsureLoaded();
  for (auto& table : tables_)
    if (table.get() != except && SameName(table->Name(), name)) throw TableExists(name);
}

void TableList::Append(std::shared_ptr<TableDef> table) {
  EnsureLoaded();
  auto impl = std::dynamic_pointer_cast<TableDefImpl>(table);
  if (!impl || impl->stored()) throw InvalidOperation();
  CheckNewName(impl->Name());
  CheckNameFree(impl->Name(), nullptr);
  bool had_catalog = Find(kCatalogTable) != nullptr;
  impl->Store();
  impl->set_owner(weak_from_this());
  tables_.push_back(impl);
  if (!had_catalog && HasCatalog(*session_)) {
    auto catalog = TableDefImpl::Make(session_, kCatalogTable, kTableSystemObject, "", "", true);
    catalog->set_owner(weak_from_this());
    tables_.push_back(catalog);
  }
  session_->SchemaChanged();
  Resort();
}

void TableList::Resort() {
  std::stable_sort(tables_.begin(), tables_.end(), [](const auto& a, const auto& b) {
    return LowerName(a->Name()) < LowerName(b->Name());
  });
}

}  // namespace tabsync::dao
