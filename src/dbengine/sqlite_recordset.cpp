#include "dbengine/sqlite_recordset.h"

#include <sqlite3.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "dbengine/field_types.h"
#include "dbengine/item_list.h"
#include "dbengine/names.h"
#include "dbengine/sql_parser.h"

namespace tabsync::dao {

namespace {

// A column of a query, as it was when the set was opened.
struct QueryColumn {
  std::string name;
  ColumnType column;
  int attributes = 0;
  int table_index = 0;  // position in the table: a column listed twice has one
};

// What a record set reads and writes: the table, its columns and how a row
// is found again for an update.
struct QueryPlan {
  std::string table;        // the table's name in the query (its TableDef name)
  std::string file_table;   // its name in the file that holds the rows
  std::vector<QueryColumn> columns;
  std::vector<std::string> locator;
  std::vector<std::string> counters;  // COUNTER columns of the whole table
  // Whether a column is listed twice; without that, a position of the query
  // is a column of its own, which spares the per-row searches for the others.
  bool repeated_columns = false;
  std::string select_sql;
  std::vector<Variant> parameters;
};

// The engine's SQL, turned into SQLite's with the table's real column names.
class ConditionWriter {
 public:
  ConditionWriter(const std::string& table, const std::vector<std::shared_ptr<TableFieldImpl>>& columns)
      : table_(table), columns_(columns) {}

  std::string Write(const SqlExpr& expr, std::vector<Variant>* parameters) {
    switch (expr.kind) {
      case SqlExpr::Kind::kColumn: return ColumnReference(expr);
      case SqlExpr::Kind::kLiteral:
        parameters->push_back(expr.literal);
        return "?";
      case SqlExpr::Kind::kCompare: return Binary(expr, " " + expr.op + " ", parameters);
      case SqlExpr::Kind::kAnd: return Binary(expr, " AND ", parameters);
      case SqlExpr::Kind::kOr: return Binary(expr, " OR ", parameters);
      case SqlExpr::Kind::kNot: return "(NOT " + Write(*expr.operands[0], parameters) + ")";
    }
    throw SyntaxInWhere();
  }

 private:
  // The operands are written one after the other: the parameters must be
  // bound in the order their "?" marks stand.
  std::string Binary(const SqlExpr& expr, const std::string& op, std::vector<Variant>* parameters) {
    std::string left = Write(*expr.operands[0], parameters);
    std::string right = Write(*expr.operands[1], parameters);
    return "(" + left + op + right + ")";
  }

  std::string ColumnReference(const SqlExpr& expr) {
    const TableFieldImpl& field = Resolve(table_, columns_, expr.qualifier, expr.name);
    // Text compares ignoring letter case, also in files whose columns were
    // declared without NOCASE.
    std::string reference = QuoteName(field.Name());
    if (IsTextType(field.Type())) reference += " COLLATE NOCASE";
    return reference;
  }

 public:
  static const TableFieldImpl& Resolve(const std::string& table,
                                       const std::vector<std::shared_ptr<TableFieldImpl>>& columns,
                                       const std::string& qualifier, const std::string& name) {
    if (!qualifier.empty() && !SameName(qualifier, table)) throw TooFewParameters();
    for (const auto& column : columns)
      if (SameName(column->Name(), name)) return *column;
    throw TooFewParameters();
  }

 private:
  const std::string& table_;
  const std::vector<std::shared_ptr<TableFieldImpl>>& columns_;
};

int TableIndexOf(const std::vector<std::shared_ptr<TableFieldImpl>>& columns,
                 const TableFieldImpl& field) {
  for (size_t i = 0; i < columns.size(); ++i)
    if (columns[i].get() == &field) return static_cast<int>(i);
  return -1;
}

QueryColumn MakeQueryColumn(const TableFieldImpl& field, int table_index) {
  return QueryColumn{field.Name(), field.column(), field.Attributes(), table_index};
}

std::vector<QueryColumn> SelectedColumns(const SqlStatement& statement, const std::string& table,
                                         const std::vector<std::shared_ptr<TableFieldImpl>>& columns) {
  std::vector<QueryColumn> selected;
  if (statement.all_columns) {
    for (size_t i = 0; i < columns.size(); ++i)
      selected.push_back(MakeQueryColumn(*columns[i], static_cast<int>(i)));
    return selected;
  }
  for (const SqlColumn& column : statement.columns) {
    const TableFieldImpl& field =
        ConditionWriter::Resolve(table, columns, column.qualifier, column.name);
    selected.push_back(MakeQueryColumn(field, TableIndexOf(columns, field)));
  }
  return selected;
}

std::string SelectSql(const QueryPlan& plan, const std::string& condition) {
  std::string list;
  for (const std::string& locator : plan.locator) list += (list.empty() ? "" : ", ") + locator;
  for (const QueryColumn& column : plan.columns)
    list += (list.empty() ? "" : ", ") + QuoteName(column.name);
  std::string sql = "SELECT " + list + " FROM " + QuoteName(plan.file_table);
  if (!condition.empty()) sql += " WHERE " + condition;
  return sql;
}

Variant ReadStored(sqlite3_stmt* statement, int index) {
  switch (sqlite3_column_type(statement, index)) {
    case SQLITE_INTEGER: return Variant(static_cast<int64_t>(sqlite3_column_int64(statement, index)));
    case SQLITE_FLOAT: return Variant(sqlite3_column_double(statement, index));
    case SQLITE_NULL: return Variant();
    default: return ReadColumn(statement, index, ColumnType{kTypeMemo});
  }
}

class RecordsetImpl;

// Whether `name` names the column: its own name, or the table's, a point and
// its own, in any letter case.
bool NamesColumn(const std::string& table, const std::string& column, std::string_view name) {
  if (SameName(column, name)) return true;
  return name.size() == table.size() + 1 + column.size() && name[table.size()] == '.' &&
         SameName(name.substr(0, table.size()), table) &&
         SameName(name.substr(table.size() + 1), column);
}

// A field of a record set: the column's definition and the current record's
// value.
class RecordFieldImpl : public Field {
 public:
  // `column` belongs to the plan, which the owner keeps.
  RecordFieldImpl(RecordsetImpl* owner, int index, const QueryColumn& column)
      : owner_(owner), index_(index), column_(column) {}

  std::string Name() const override { return column_.name; }
  const std::string& column_name() const { return column_.name; }
  void SetName(const std::string&) override { throw InvalidOperation(); }
  int Type() const override { return column_.column.type; }
  int Size() const override { return column_.column.size; }
  int Precision() const override { return column_.column.precision; }
  int Scale() const override { return column_.column.scale; }
  int Attributes() const override { return column_.attributes; }
  void SetAttributes(int) override { throw InvalidOperation(); }
  const Variant& Value() const override;
  void SetValue(const Variant& value) override;

 private:
  RecordsetImpl* owner_;
  int index_;
  const QueryColumn& column_;
};

class RecordsetImpl : public Recordset {
 public:
  RecordsetImpl(std::shared_ptr<Session> database, std::shared_ptr<Session> rows,
                std::shared_ptr<const QueryPlan> plan, std::vector<Variant> parameters,
                bool updatable)
      : database_(std::move(database)),
        rows_(std::move(rows)),
        plan_(std::move(plan)),
        parameters_(std::move(parameters)),
        updatable_(updatable && !plan_->locator.empty()) {
    // One allocation for all fields: a key query opens a set per record.
    field_storage_.reserve(plan_->columns.size());
    for (size_t i = 0; i < plan_->columns.size(); ++i)
      field_storage_.emplace_back(this, static_cast<int>(i), plan_->columns[i]);
  }

  ~RecordsetImpl() override { Release(); }

  void Open() {
    select_ = rows_->Prepare(plan_->select_sql);
    for (size_t i = 0; i < parameters_.size(); ++i)
      select_.Bind(static_cast<int>(i) + 1, parameters_[i]);
    Fetch();
  }

  int RecordCount() const override {
    Check();
    return count_;
  }

  bool Eof() const override {
    Check();
    return eof_;
  }

  void MoveFirst() override {
    Check();
    mode_ = Mode::kNone;
    // On the first record, fetched since the last change of this session,
    // there is nothing to read again: a key query's record set is moved to
    // its first record right after the query.
    if (position_ == 0 && !eof_ && fetched_at_ == rows_->ChangeCount()) return;
    select_.Reset();
    position_ = -1;
    Fetch();
    if (eof_) throw NoCurrentRecord();
  }

  void MoveNext() override {
    Check();
    if (eof_) throw NoCurrentRecord();
    mode_ = Mode::kNone;
    Fetch();
  }

  Collection<Field>& Fields() override {
    Check();
    return fields_;
  }

  void AddNew() override {
    Check();
    if (!updatable_) throw ReadOnly();
    StartBuffer(Mode::kAdd);
    buffer_.resize(plan_->columns.size());
  }

  void Edit() override {
    Check();
    if (!updatable_) throw ReadOnly();
    if (eof_) throw NoCurrentRecord();
    // The record's values stay where they are; the buffer takes the changes.
    StartBuffer(Mode::kEdit);
  }

  void Update(int, bool) override {
    Check();
    if (mode_ == Mode::kNone) throw NoAddNewOrEdit();
    Mode mode = mode_;
    // A failed write drops the record that was begun, as closing would.
    mode_ = Mode::kNone;
    if (mode == Mode::kAdd) {
      InsertRecord();
      ++count_;
    } else {
      UpdateRecord();
      for (size_t i = 0; i < row_.size(); ++i)
        if (IsDirty(i)) row_[i] = std::move(buffer_[i]);
    }
  }

  void Close() override {
    Check();
    Release();
  }

  const Variant& ValueAt(int index) const {
    Check();
    if (mode_ == Mode::kAdd || (mode_ == Mode::kEdit && IsDirty(index))) return buffer_[index];
    if (eof_) throw NoCurrentRecord();
    return row_[index];
  }

  void SetValueAt(int index, const Variant& value) {
    Check();
    if (mode_ == Mode::kNone) throw updatable_ ? NoAddNewOrEdit() : ReadOnly();
    const QueryColumn& column = plan_->columns[index];
    Variant converted = ConvertForField(value, column.column);
    buffer_.resize(plan_->columns.size());
    dirty_.resize(plan_->columns.size(), false);
    if (!plan_->repeated_columns) {
      buffer_[index] = std::move(converted);
      dirty_[index] = true;
      return;
    }
    // A column listed twice is one column: both positions show the value.
    for (size_t i = 0; i < plan_->columns.size(); ++i) {
      if (plan_->columns[i].table_index != column.table_index) continue;
      buffer_[i] = converted;
      dirty_[i] = true;
    }
  }

 private:
  enum class Mode { kNone, kAdd, kEdit };

  bool IsDirty(size_t index) const { return index < dirty_.size() && dirty_[index]; }

  // The set's Fields: its columns in query order, found by position or by
  // name (also table + "." + column, in any letter case).
  class FieldList : public Collection<Field> {
   public:
    explicit FieldList(RecordsetImpl& set) : set_(set) {}
    int Count() const override {
      set_.Check();
      return static_cast<int>(set_.field_storage_.size());
    }
    Field& Item(int index) override {
      set_.Check();
      if (index < 0 || index >= Count()) throw ItemNotFound();
      return set_.field_storage_[index];
    }
    Field& Item(const std::string& name) override {
      set_.Check();
      for (RecordFieldImpl& field : set_.field_storage_)
        if (NamesColumn(set_.plan_->table, field.column_name(), name)) return field;
      throw ItemNotFound();
    }
    void Append(std::shared_ptr<Field>) override {
      set_.Check();
      throw InvalidOperation();
    }

   private:
    RecordsetImpl& set_;
  };

  void Check() const {
    if (closed_) throw ObjectClosed();
    database_->CheckOpen();
    rows_->CheckOpen();
  }

  void Release() {
    if (closed_) return;
    closed_ = true;
    select_ = Statement();
    insert_ = Statement();
    // A linked table's rows come from a session of the set's own.
    if (rows_ != database_ && rows_->IsOpen()) {
      try {
        rows_->Close();
      } catch (const Error&) {
        // Nothing was written through it; a failed end of a read changes nothing.
      }
    }
  }

  // Empties the buffer in place, keeping its room: a merge begins one record
  // after the other.
  void StartBuffer(Mode mode) {
    mode_ = mode;
    buffer_.clear();
    dirty_.clear();
  }

  void Fetch() {
    if (!select_.Step()) {
      eof_ = true;
      return;
    }
    eof_ = false;
    sqlite3_stmt* statement = select_.get();
    int offset = static_cast<int>(plan_->locator.size());
    locator_values_.resize(offset);
    for (int i = 0; i < offset; ++i) locator_values_[i] = ReadStored(statement, i);
    row_.resize(plan_->columns.size());
    for (size_t i = 0; i < plan_->columns.size(); ++i)
      row_[i] = ReadColumn(statement, offset + static_cast<int>(i), plan_->columns[i].column);
    ++position_;
    count_ = std::max(count_, position_ + 1);
    fetched_at_ = rows_->ChangeCount();
  }

  // A column to write and its value, both owned by the set or its plan.
  struct Write {
    const std::string* name;
    const Variant* value;
  };

  // The columns to write, once each, with their values, into *changed (its
  // room kept from record to record).
  void ChangedColumns(std::vector<Write>* out) const {
    std::vector<Write>& changed = *out;
    changed.clear();
    changed.reserve(plan_->columns.size() + plan_->counters.size());
    for (size_t i = 0; i < plan_->columns.size(); ++i) {
      if (!IsDirty(i)) continue;
      if (!plan_->repeated_columns) {
        changed.push_back({&plan_->columns[i].name, &buffer_[i]});
        continue;
      }
      int table_index = plan_->columns[i].table_index;
      // A column listed twice is written once.
      bool seen = std::any_of(changed.begin(), changed.end(), [&](const Write& write) {
        return write.name == &plan_->columns[ColumnPosition(table_index)].name;
      });
      if (!seen) changed.push_back({&plan_->columns[ColumnPosition(table_index)].name, &buffer_[i]});
    }
  }

  // The first position of the query that shows column `table_index`.
  size_t ColumnPosition(int table_index) const {
    for (size_t i = 0; i < plan_->columns.size(); ++i)
      if (plan_->columns[i].table_index == table_index) return i;
    return 0;
  }

  // Gives each COUNTER column its number: the one written, noted for later
  // numbers, or the next one (kept in `numbers`, which must not grow).
  void NumberCounters(std::vector<Write>* writes, std::vector<Variant>* numbers) {
    numbers->clear();
    numbers->reserve(plan_->counters.size());
    for (const std::string& counter : plan_->counters) {
      auto given = std::find_if(writes->begin(), writes->end(),
                                [&](const Write& write) { return SameName(*write.name, counter); });
      if (given != writes->end() && !given->value->IsNull()) {
        database_->NoteCounterValue(plan_->file_table, counter, given->value->AsInteger());
        continue;
      }
      numbers->push_back(Variant(database_->NextCounter(plan_->file_table, counter)));
      if (given != writes->end()) {
        given->value = &numbers->back();
      } else {
        writes->push_back({&counter, &numbers->back()});
      }
    }
  }

  // The INSERT for these columns; the last one is kept, as a set that adds
  // many records writes the same columns each time.
  const std::string& InsertSql(const std::vector<Write>& writes) {
    if (!insert_sql_.empty() && SameColumns(writes)) return insert_sql_;
    std::vector<const std::string*> names;
    names.reserve(writes.size());
    for (const Write& write : writes) names.push_back(write.name);
    std::string sql = "INSERT INTO " + QuoteName(plan_->file_table);
    if (writes.empty()) {
      sql += " DEFAULT VALUES";
    } else {
      std::string list, marks;
      for (const Write& write : writes) {
        list += (list.empty() ? "" : ", ") + QuoteName(*write.name);
        marks += marks.empty() ? "?" : ", ?";
      }
      sql += " (" + list + ") VALUES (" + marks + ")";
    }
    insert_names_ = std::move(names);
    insert_sql_ = std::move(sql);
    insert_ = Statement();
    return insert_sql_;
  }

  // Whether the writes name the columns of the kept INSERT, in its order.
  bool SameColumns(const std::vector<Write>& writes) const {
    if (writes.size() != insert_names_.size()) return false;
    for (size_t i = 0; i < writes.size(); ++i)
      if (writes[i].name != insert_names_[i]) return false;
    return true;
  }

  // The INSERT statement is kept with its text while the set adds records.
  void InsertRecord() {
    std::vector<Write>& writes = writes_;
    ChangedColumns(&writes);
    NumberCounters(&writes, &numbers_);
    const std::string& sql = InsertSql(writes);
    if (!insert_.Valid()) insert_ = database_->Prepare(sql);
    for (size_t i = 0; i < writes.size(); ++i) insert_.Bind(static_cast<int>(i) + 1, *writes[i].value);
    insert_.Run();
  }

  void UpdateRecord() {
    std::vector<Write> writes;
    ChangedColumns(&writes);
    if (writes.empty()) return;
    std::string sql = "UPDATE " + QuoteName(plan_->file_table) + " SET ";
    for (size_t i = 0; i < writes.size(); ++i)
      sql += (i ? ", " : "") + QuoteName(*writes[i].name) + " = ?";
    for (size_t i = 0; i < plan_->locator.size(); ++i)
      sql += (i ? " AND " : " WHERE ") + plan_->locator[i] + " = ?";
    Statement update = database_->Prepare(sql);
    int parameter = 1;
    for (const Write& write : writes) update.Bind(parameter++, *write.value);
    for (const Variant& value : locator_values_) update.Bind(parameter++, value);
    update.Run();
    for (const Write& write : writes)
      for (const std::string& counter : plan_->counters)
        if (SameName(counter, *write.name) && !write.value->IsNull())
          database_->NoteCounterValue(plan_->file_table, counter, write.value->AsInteger());
  }

  std::shared_ptr<Session> database_;
  std::shared_ptr<Session> rows_;
  std::shared_ptr<const QueryPlan> plan_;
  std::vector<Variant> parameters_;
  bool updatable_;
  uint64_t fetched_at_ = 0;
  Statement select_;
  bool closed_ = false;
  bool eof_ = true;
  int position_ = -1;
  int count_ = 0;
  std::vector<Variant> row_;
  std::vector<Variant> locator_values_;
  Mode mode_ = Mode::kNone;
  std::vector<Variant> buffer_;
  std::vector<bool> dirty_;
  std::vector<const std::string*> insert_names_;
  std::string insert_sql_;
  Statement insert_;           // prepared from insert_sql_, or not yet
  std::vector<Write> writes_;  // the last record's, kept for their room
  std::vector<Variant> numbers_;
  std::vector<RecordFieldImpl> field_storage_;
  FieldList fields_{*this};
};

const Variant& RecordFieldImpl::Value() const { return owner_->ValueAt(index_); }
void RecordFieldImpl::SetValue(const Variant& value) { owner_->SetValueAt(index_, value); }

SqlStatement ParseKind(const std::string& sql, SqlStatement::Kind expected) {
  SqlStatement statement = ParseSql(sql);
  if (statement.kind != expected)
    throw expected == SqlStatement::Kind::kSelect ? InvalidOperation() : CannotExecuteSelect();
  return statement;
}

std::shared_ptr<TableDefImpl> FindTable(TableList& tables, const std::string& name) {
  std::shared_ptr<TableDefImpl> table = tables.Find(name);
  if (!table) throw InputTableNotFound(name);
  return table;
}

std::string Condition(const SqlStatement& statement, const std::string& table,
                      const std::vector<std::shared_ptr<TableFieldImpl>>& columns,
                      std::vector<Variant>* parameters) {
  if (!statement.where) return std::string();
  return ConditionWriter(table, columns).Write(*statement.where, parameters);
}

// The column of a condition that compares one column for equality with one
// value, as a key lookup does; null for any other condition.
const SqlExpr* EqualityColumn(const SqlExpr* where) {
  if (!where || where->kind != SqlExpr::Kind::kCompare || where->op != "=") return nullptr;
  const SqlExpr& left = *where->operands[0];
  const SqlExpr& right = *where->operands[1];
  if (left.kind == SqlExpr::Kind::kColumn && right.kind == SqlExpr::Kind::kLiteral) return &left;
  if (right.kind == SqlExpr::Kind::kColumn && left.kind == SqlExpr::Kind::kLiteral) return &right;
  return nullptr;
}

// The key lookup a query makes, if it makes one: the column and how it
// compares.
struct Lookup {
  std::string column;
  bool nocase = false;
  // The session needs to hear of it no more (see NoteEqualityLookup).
  mutable bool settled = false;
};

std::optional<Lookup> LookupOf(const QueryPlan& plan, const SqlStatement& statement,
                               const std::vector<std::shared_ptr<TableFieldImpl>>& columns) {
  const SqlExpr* column = EqualityColumn(statement.where.get());
  if (!column) return std::nullopt;
  const TableFieldImpl& field =
      ConditionWriter::Resolve(plan.table, columns, column->qualifier, column->name);
  return Lookup{field.Name(), IsTextType(field.Type())};
}

}  // namespace

// A planned query of a local table, for every statement of its shape.
struct CachedQuery {
  std::shared_ptr<const QueryPlan> plan;
  int type = 0;
  int options = 0;
  bool updatable = false;
  std::optional<Lookup> lookup;
};

QueryCache::QueryCache() = default;
QueryCache::~QueryCache() = default;

std::shared_ptr<const CachedQuery> QueryCache::Find(const std::string& key,
                                                    uint64_t schema_version) {
  if (schema_version != schema_version_) return nullptr;
  auto found = queries_.find(key);
  return found == queries_.end() ? nullptr : found->second;
}

void QueryCache::Store(const std::string& key, uint64_t schema_version,
                       std::shared_ptr<const CachedQuery> query) {
  constexpr size_t kMaxQueries = 256;
  if (schema_version != schema_version_ || queries_.size() >= kMaxQueries) {
    queries_.clear();
    last_query_.reset();
    schema_version_ = schema_version;
  }
  queries_[key] = std::move(query);
}

std::shared_ptr<const CachedQuery> QueryCache::MatchLast(const std::string& sql,
                                                         uint64_t schema_version,
                                                         Variant* literal) const {
  if (!last_query_ || schema_version != schema_version_) return nullptr;
  if (sql.size() <= last_head_.size() + last_tail_.size()) return nullptr;
  std::string_view text(sql);
  if (!text.starts_with(last_head_) || !text.ends_with(last_tail_)) return nullptr;
  // A literal of the same kind keeps the token boundaries of the last one.
  std::optional<Variant> value = ReadLiteral(
      text.substr(last_head_.size(), text.size() - last_head_.size() - last_tail_.size()),
      last_quoted_);
  if (!value) return nullptr;
  *literal = std::move(*value);
  return last_query_;
}

void QueryCache::RememberLast(const std::string& sql, const SqlShape& shape,
                              std::shared_ptr<const CachedQuery> query) {
  last_query_.reset();
  if (shape.spans.size() != 1 || !query) return;
  auto [begin, end] = shape.spans.front();
  last_head_ = sql.substr(0, begin);
  last_tail_ = sql.substr(end);
  last_quoted_ = sql[begin] == '\'';
  last_query_ = std::move(query);
}

namespace {

std::unique_ptr<Recordset> OpenPlanned(const std::shared_ptr<Session>& session,
                                       const CachedQuery& query, std::vector<Variant> parameters) {
  if (query.lookup && !query.lookup->settled)
    query.lookup->settled = session->NoteEqualityLookup(query.plan->file_table,
                                                        query.lookup->column, query.lookup->nocase);
  auto recordset = std::make_unique<RecordsetImpl>(session, session, query.plan,
                                                   std::move(parameters), query.updatable);
  recordset->Open();
  return recordset;
}

// Parses and plans the statement. A local table's plan is kept in the cache
// when the statement's literals are the plan's parameters, in order, as the
// shape promises.
std::unique_ptr<Recordset> PlanAndOpen(const std::shared_ptr<Session>& session, TableList& tables,
                                       QueryCache& cache, const std::string& key,
                                       const SqlShape& shape, const std::string& sql, int type,
                                       int options) {
  SqlStatement statement = ParseKind(sql, SqlStatement::Kind::kSelect);
  std::shared_ptr<TableDefImpl> table = FindTable(tables, statement.table);
  if (table->kind() == TableDefImpl::Kind::kOdbcLink) throw OdbcCallFailed();
  std::vector<std::shared_ptr<TableFieldImpl>> columns = table->Columns();

  auto plan = std::make_shared<QueryPlan>();
  plan->table = table->Name();
  plan->columns = SelectedColumns(statement, plan->table, columns);
  for (size_t i = 0; i < plan->columns.size() && !plan->repeated_columns; ++i)
    for (size_t j = 0; j < i; ++j)
      if (plan->columns[j].table_index == plan->columns[i].table_index) plan->repeated_columns = true;
  std::string condition = Condition(statement, plan->table, columns, &plan->parameters);
  bool updatable = type == kDynaset && (options & kReadOnlyOption) == 0;
  if (table->kind() == TableDefImpl::Kind::kDesktopLink) {
    std::shared_ptr<Session> rows = OpenLinkedFile(LinkedFilePath(table->Connect()));
    plan->file_table = table->SourceTableName();
    plan->select_sql = SelectSql(*plan, condition);
    std::vector<Variant> parameters = plan->parameters;
    auto recordset =
        std::make_unique<RecordsetImpl>(session, rows, std::move(plan), std::move(parameters), false);
    recordset->Open();
    return recordset;
  }
  plan->file_table = table->Name();
  plan->locator = table->RowLocator();
  for (const auto& column : columns)
    if (column->column().counter) plan->counters.push_back(column->Name());
  plan->select_sql = SelectSql(*plan, condition);

  auto query = std::make_shared<CachedQuery>();
  query->lookup = LookupOf(*plan, statement, columns);
  query->type = type;
  query->options = options;
  query->updatable = updatable;
  std::vector<Variant> parameters = plan->parameters;
  query->plan = std::move(plan);
  if (parameters == shape.literals) {
    cache.Store(key, session->schema_version(), query);
    cache.RememberLast(sql, shape, query);
  }
  return OpenPlanned(session, *query, std::move(parameters));
}

}  // namespace

std::unique_ptr<Recordset> OpenQuery(const std::shared_ptr<Session>& session, TableList& tables,
                                     QueryCache& cache, const std::string& sql, int type,
                                     int options) {
  session->CheckOpen();
  if (type != kDynaset && type != kSnapshot && type != 8) throw InvalidArgument();
  Variant literal;
  std::shared_ptr<const CachedQuery> query =
      cache.MatchLast(sql, session->schema_version(), &literal);
  // The memo knows the text only; the record set's type and options must match too.
  if (query && query->type == type && query->options == options) {
    std::vector<Variant> parameters;
    parameters.push_back(std::move(literal));
    return OpenPlanned(session, *query, std::move(parameters));
  }
  SqlShape shape = ShapeOf(sql);
  std::string key = std::to_string(type) + ' ' + std::to_string(options) + ' ' + shape.text;
  query = cache.Find(key, session->schema_version());
  if (!query) return PlanAndOpen(session, tables, cache, key, shape, sql, type, options);
  cache.RememberLast(sql, shape, query);
  return OpenPlanned(session, *query, std::move(shape.literals));
}

void ExecuteStatement(const std::shared_ptr<Session>& session, TableList& tables,
                      const std::string& sql) {
  session->CheckOpen();
  SqlStatement statement = ParseKind(sql, SqlStatement::Kind::kDelete);
  std::shared_ptr<TableDefImpl> table = FindTable(tables, statement.table);
  if (table->kind() != TableDefImpl::Kind::kLocal) throw ReadOnly();
  std::vector<std::shared_ptr<TableFieldImpl>> columns = table->Columns();
  std::vector<Variant> parameters;
  std::string condition = Condition(statement, table->Name(), columns, &parameters);
  std::string text = "DELETE FROM " + QuoteName(table->Name());
  if (!condition.empty()) text += " WHERE " + condition;
  // One statement is all or nothing in SQLite; the savepoint keeps it so
  // should a failure roll back further than the statement.
  session->Atomically([&] {
    Statement remove = session->Prepare(text);
    for (size_t i = 0; i < parameters.size(); ++i) remove.Bind(static_cast<int>(i) + 1, parameters[i]);
    remove.Run();
  });
}

}  // namespace tabsync::dao
