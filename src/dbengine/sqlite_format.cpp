#include "dbengine/sqlite_format.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <optional>
#include <utility>

#include "dbengine/dao.h"
#include "dbengine/field_types.h"
#include "dbengine/names.h"

namespace tabsync::dao {

namespace {

// ---- The columns of a CREATE TABLE statement --------------------------------

struct Token {
  enum class Kind { kWord, kQuoted, kOther };
  Kind kind;
  size_t begin;
  size_t end;
};

bool IsWordByte(unsigned char c) { return std::isalnum(c) || c == '_' || c == '$' || c >= 0x80; }

// The end of a quoted part that began at `begin` with `close`'s opener; a
// doubled closer stands for one (except in brackets).
size_t QuotedEnd(std::string_view sql, size_t begin, char close, bool doubles) {
  size_t i = begin + 1;
  while (i < sql.size()) {
    if (sql[i] != close) {
      ++i;
    } else if (doubles && i + 1 < sql.size() && sql[i + 1] == close) {
      i += 2;
    } else {
      return i + 1;
    }
  }
  return sql.size();
}

size_t CommentEnd(std::string_view sql, size_t begin) {
  if (sql.substr(begin, 2) == "--") {
    size_t line_end = sql.find('\n', begin);
    return line_end == std::string_view::npos ? sql.size() : line_end + 1;
  }
  size_t close = sql.find("*/", begin + 2);
  return close == std::string_view::npos ? sql.size() : close + 2;
}

// SQLite's tokens as far as the column list needs them: words (keywords,
// bare names, numbers), quoted names, and everything else (strings, symbols)
// one token each.
std::vector<Token> Tokenize(std::string_view sql) {
  std::vector<Token> tokens;
  size_t i = 0;
  while (i < sql.size()) {
    unsigned char c = sql[i];
    if (std::isspace(c)) {
      ++i;
    } else if (sql.substr(i, 2) == "--" || sql.substr(i, 2) == "/*") {
      i = CommentEnd(sql, i);
    } else if (IsWordByte(c)) {
      size_t end = i;
      while (end < sql.size() && IsWordByte(sql[end])) ++end;
      tokens.push_back({Token::Kind::kWord, i, end});
      i = end;
    } else if (c == '"' || c == '`' || c == '[' || c == '\'') {
      char close = c == '[' ? ']' : static_cast<char>(c);
      size_t end = QuotedEnd(sql, i, close, c != '[');
      tokens.push_back({c == '\'' ? Token::Kind::kOther : Token::Kind::kQuoted, i, end});
      i = end;
    } else {
      tokens.push_back({Token::Kind::kOther, i, i + 1});
      ++i;
    }
  }
  return tokens;
}

bool IsWord(std::string_view sql, const Token& token, std::initializer_list<const char*> words) {
  if (token.kind != Token::Kind::kWord) return false;
  std::string_view text = sql.substr(token.begin, token.end - token.begin);
  for (const char* word : words)
    if (SameName(text, word)) return true;
  return false;
}

bool IsSymbol(std::string_view sql, const Token& token, char symbol) {
  return token.kind == Token::Kind::kOther && token.end == token.begin + 1 &&
         sql[token.begin] == symbol;
}

// The index after the parenthesis that closes the one at `open`.
size_t AfterClosing(std::string_view sql, const std::vector<Token>& tokens, size_t open) {
  int depth = 0;
  for (size_t k = open; k < tokens.size(); ++k) {
    if (IsSymbol(sql, tokens[k], '(')) ++depth;
    if (IsSymbol(sql, tokens[k], ')') && --depth == 0) return k + 1;
  }
  return tokens.size();
}

// The type of the column definition tokens[first, last): the words after
// its name up to the first constraint, with a size in parentheses.
TypeSpan TypeOfColumn(std::string_view sql, const std::vector<Token>& tokens, size_t first,
                      size_t last) {
  size_t k = first + 1;
  while (k < last && tokens[k].kind == Token::Kind::kWord &&
         !IsWord(sql, tokens[k],
                 {"constraint", "primary", "not", "null", "unique", "check", "default", "collate",
                  "references", "generated", "as"}))
    ++k;
  if (k == first + 1) return {};
  if (k < last && IsSymbol(sql, tokens[k], '(')) k = AfterClosing(sql, tokens, k);
  return {tokens[first + 1].begin, tokens[k - 1].end};
}

}  // namespace

std::vector<TypeSpan> ColumnTypeSpans(std::string_view sql) {
  std::vector<Token> tokens = Tokenize(sql);
  std::vector<TypeSpan> spans;
  size_t open = 0;
  while (open < tokens.size() && !IsSymbol(sql, tokens[open], '(')) ++open;
  size_t close = AfterClosing(sql, tokens, open) - 1;
  size_t first = open + 1;
  while (first < close) {
    // One element of the list: up to the next comma outside parentheses.
    size_t last = first;
    while (last < close && !IsSymbol(sql, tokens[last], ','))
      last = IsSymbol(sql, tokens[last], '(') ? AfterClosing(sql, tokens, last) : last + 1;
    if (!IsWord(sql, tokens[first], {"constraint", "primary", "unique", "check", "foreign"}))
      spans.push_back(TypeOfColumn(sql, tokens, first, last));
    first = last + 1;
  }
  return spans;
}

namespace {

// ---- Planning the new statements --------------------------------------------

// What SQLite says of one column; two columns that agree in all but the type
// are the same column.
struct ColumnFacts {
  std::string name;
  std::string type;
  std::string default_value;
  std::string collation;
  int not_null = 0;
  int key_position = 0;
  int hidden = 0;

  bool SameButType(const ColumnFacts& other) const {
    return name == other.name && default_value == other.default_value &&
           LowerName(collation) == LowerName(other.collation) && not_null == other.not_null &&
           key_position == other.key_position && hidden == other.hidden;
  }
};

// Null (no default) reads as an empty text, which no default is: an empty
// text default reads as "''".
std::string Text(sqlite3_stmt* statement, int index) {
  const unsigned char* text = sqlite3_column_text(statement, index);
  return text ? reinterpret_cast<const char*>(text) : "";
}

Error CannotUpgrade(const std::string& table, const std::string& why) {
  return Error(errors::kReserved, "Database engine error: the declarations of table '" + table +
                                      "' cannot be brought to the current format: " + why);
}

// The columns of `table` as the connection `db` sees them.
std::vector<ColumnFacts> ReadFacts(sqlite3* db, const std::string& table) {
  std::vector<ColumnFacts> columns;
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db,
                         "SELECT name, type, dflt_value, \"notnull\", pk, hidden "
                         "FROM pragma_table_xinfo(?) ORDER BY cid",
                         -1, &statement, nullptr) != SQLITE_OK)
    throw CannotUpgrade(table, sqlite3_errmsg(db));
  sqlite3_bind_text(statement, 1, table.c_str(), -1, SQLITE_TRANSIENT);
  while (sqlite3_step(statement) == SQLITE_ROW) {
    ColumnFacts facts{Text(statement, 0), Text(statement, 1), Text(statement, 2), "",
                      sqlite3_column_int(statement, 3), sqlite3_column_int(statement, 4),
                      sqlite3_column_int(statement, 5)};
    const char* collation = nullptr;
    if (sqlite3_table_column_metadata(db, nullptr, table.c_str(), facts.name.c_str(), nullptr,
                                      &collation, nullptr, nullptr, nullptr) == SQLITE_OK &&
        collation)
      facts.collation = collation;
    columns.push_back(std::move(facts));
  }
  sqlite3_finalize(statement);
  return columns;
}

// A table whose declarations change.
struct TablePlan {
  std::string name;
  std::string sql;  // its statement with the current declarations
  // The columns whose affinity changes, and the statement that declares them
  // BLOB (no affinity) meanwhile: their values are stored anew under it, so
  // that the table's indexes, whose keys follow the column's affinity, still
  // find the old values while the new ones replace them.
  std::vector<ColumnFacts> restored;
  std::string staging_sql;
};

// The current declaration of each column that an older version declared,
// "" for the others; from the statement's text, which must agree with what
// SQLite read from it.
std::vector<std::string> NewTypes(const std::string& table, const std::string& sql,
                                  const std::vector<TypeSpan>& spans,
                                  const std::vector<ColumnFacts>& columns) {
  if (spans.size() != columns.size()) throw CannotUpgrade(table, "its columns are not all found");
  std::vector<std::string> types;
  for (size_t i = 0; i < spans.size(); ++i) {
    types.push_back(UpgradedDeclaration(sql.substr(spans[i].begin, spans[i].end - spans[i].begin)));
    if (types.back() != UpgradedDeclaration(columns[i].type))
      throw CannotUpgrade(table, "the type of column '" + columns[i].name + "' is not found");
  }
  return types;
}

// The statement with each column's type replaced by its new one, if any.
std::string Rewritten(std::string sql, const std::vector<TypeSpan>& spans,
                      const std::vector<std::string>& types) {
  for (size_t i = spans.size(); i-- > 0;)
    if (!types[i].empty()) sql.replace(spans[i].begin, spans[i].end - spans[i].begin, types[i]);
  return sql;
}

// Runs a new statement on a scratch database: it must declare the same
// columns, with the same constraints and collations, and only the new types.
void ProveOnScratch(sqlite3* scratch, const std::string& table, const std::string& sql,
                    const std::vector<ColumnFacts>& old_columns,
                    const std::vector<std::string>& types) {
  if (sqlite3_exec(scratch, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
    throw CannotUpgrade(table, sqlite3_errmsg(scratch));
  std::vector<ColumnFacts> new_columns = ReadFacts(scratch, table);
  bool same = new_columns.size() == old_columns.size();
  for (size_t i = 0; same && i < new_columns.size(); ++i) {
    std::string expected = types[i].empty() ? old_columns[i].type : types[i];
    same = new_columns[i].SameButType(old_columns[i]) && new_columns[i].type == expected;
  }
  sqlite3_exec(scratch, ("DROP TABLE " + QuoteName(table)).c_str(), nullptr, nullptr, nullptr);
  if (!same) throw CannotUpgrade(table, "the new statement declares other columns");
}

std::vector<std::string> LocalTables(Session& session) {
  Statement statement = session.Prepare(
      "SELECT name FROM sqlite_schema WHERE type = 'table' AND sql LIKE 'CREATE TABLE%' "
      "AND lower(substr(name, 1, 7)) <> 'sqlite_' ORDER BY name");
  std::vector<std::string> names;
  while (statement.Step())
    names.push_back(reinterpret_cast<const char*>(sqlite3_column_text(statement.get(), 0)));
  return names;
}

std::string TableStatement(Session& session, const std::string& table) {
  Statement statement =
      session.Prepare("SELECT sql FROM sqlite_schema WHERE type = 'table' AND name = ?");
  statement.BindText(1, table);
  statement.Step();
  return reinterpret_cast<const char*>(sqlite3_column_text(statement.get(), 0));
}

// INTEGER and NUMERIC affinity differ only in CAST expressions: they store
// every value alike.
bool StoresAlike(Affinity a, Affinity b) {
  auto numeric = [](Affinity x) { return x == Affinity::kInteger ? Affinity::kNumeric : x; };
  return numeric(a) == numeric(b);
}

// The plan for one table; nothing when none of its declarations changes.
std::optional<TablePlan> PlanTable(Session& session, sqlite3* scratch, const std::string& table) {
  std::vector<ColumnFacts> columns = ReadFacts(session.handle(), table);
  std::string sql = TableStatement(session, table);
  std::vector<TypeSpan> spans = ColumnTypeSpans(sql);
  std::vector<std::string> types = NewTypes(table, sql, spans, columns);
  if (std::all_of(types.begin(), types.end(), [](const std::string& t) { return t.empty(); }))
    return std::nullopt;
  TablePlan plan{table, Rewritten(sql, spans, types), {}, ""};
  ProveOnScratch(scratch, table, plan.sql, columns, types);
  std::vector<std::string> staging(columns.size());
  for (size_t i = 0; i < columns.size(); ++i) {
    if (types[i].empty() || StoresAlike(AffinityOf(types[i]), AffinityOf(columns[i].type)))
      continue;
    plan.restored.push_back(columns[i]);
    staging[i] = "BLOB";
  }
  if (!plan.restored.empty()) {
    plan.staging_sql = Rewritten(sql, spans, staging);
    ProveOnScratch(scratch, table, plan.staging_sql, columns, staging);
  }
  return plan;
}

std::vector<TablePlan> PlanUpgrade(Session& session) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_MEMORY, nullptr);
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> scratch(db, sqlite3_close);
  std::vector<TablePlan> plans;
  for (const std::string& table : LocalTables(session))
    if (std::optional<TablePlan> plan = PlanTable(session, scratch.get(), table))
      plans.push_back(std::move(*plan));
  return plans;
}

// ---- Writing them -------------------------------------------------------------

using Statements = std::vector<std::pair<std::string, std::string>>;  // table, statement

// Editing SQLite's catalogue is allowed for the time of one write, and ends
// also when the write fails. (A connection in SQLite's defensive mode refuses
// the edit; the upgrade then fails and changes nothing.)
class WritableSchema {
 public:
  explicit WritableSchema(Session& session) : session_(session) {
    session_.Exec("PRAGMA writable_schema = ON");
  }
  ~WritableSchema() {
    sqlite3_exec(session_.handle(), "PRAGMA writable_schema = OFF", nullptr, nullptr, nullptr);
  }
  WritableSchema(const WritableSchema&) = delete;
  WritableSchema& operator=(const WritableSchema&) = delete;

 private:
  Session& session_;
};

// New statements take the place of old ones in SQLite's catalogue. Only
// declared types change, and only between declarations whose affinities store
// values alike (or to no affinity, see TablePlan), so the rows and indexes in
// the file stay valid as they are: SQLite's procedure for such changes, with
// the schema cookie raised so that every connection, this one included,
// reads the new statements.
void WriteStatements(Session& session, const Statements& statements) {
  Statement cookie = session.Prepare("PRAGMA schema_version");
  cookie.Step();
  int64_t version = sqlite3_column_int64(cookie.get(), 0);
  cookie.Reset();
  WritableSchema editing(session);
  for (const auto& [table, sql] : statements) {
    Statement update =
        session.Prepare("UPDATE sqlite_schema SET sql = ? WHERE type = 'table' AND name = ?");
    update.BindText(1, sql);
    update.BindText(2, table);
    update.Run();
  }
  session.Exec("PRAGMA schema_version = " + std::to_string(version + 1));
}

// tabsync_stored_value(value, field type): the value as the engine reads it
// in a field of that type, to be stored again under the column's new
// affinity.
void StoredValue(sqlite3_context* context, int, sqlite3_value** arguments) {
  Variant value = ReadValue(arguments[0], sqlite3_value_int(arguments[1]));
  const std::string& bytes = value.AsString();
  switch (value.kind()) {
    case Variant::Kind::kNull: sqlite3_result_null(context); break;
    case Variant::Kind::kBoolean:
    case Variant::Kind::kInteger: sqlite3_result_int64(context, value.AsInteger()); break;
    case Variant::Kind::kDouble: sqlite3_result_double(context, value.AsDouble()); break;
    case Variant::Kind::kBinary:
      sqlite3_result_blob64(context, bytes.data(), bytes.size(), SQLITE_TRANSIENT);
      break;
    default:
      sqlite3_result_text64(context, bytes.data(), bytes.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  }
}

// Affinity converts only numbers and texts into each other, so the numbers
// are the values to store again; a Memo's number becomes its text form.
void RestoreValues(Session& session, const TablePlan& plan) {
  for (const ColumnFacts& column : plan.restored) {
    std::string name = QuoteName(column.name);
    int type = ParseDeclaredType(column.type).type;
    session.Exec("UPDATE " + QuoteName(plan.name) + " SET " + name + " = tabsync_stored_value(" +
                 name + ", " + std::to_string(type) + ") WHERE typeof(" + name +
                 ") IN ('integer', 'real')");
  }
}

void RegisterStoredValue(Session& session) {
  int rc = sqlite3_create_function_v2(session.handle(), "tabsync_stored_value", 2,
                                      SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, StoredValue,
                                      nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) throw session.ErrorFor(rc);
}

}  // namespace

void UpgradeFormat(Session& session) {
  session.CheckOpen();
  if (session.format_version() >= kFormatVersion) return;
  session.Atomically([&] {
    std::vector<TablePlan> plans = PlanUpgrade(session);
    Statements first, last;
    for (const TablePlan& plan : plans) {
      first.emplace_back(plan.name, plan.restored.empty() ? plan.sql : plan.staging_sql);
      if (!plan.restored.empty()) last.emplace_back(plan.name, plan.sql);
    }
    if (!first.empty()) WriteStatements(session, first);
    if (!last.empty()) {
      RegisterStoredValue(session);
      for (const TablePlan& plan : plans) RestoreValues(session, plan);
      WriteStatements(session, last);
    }
    session.Exec("PRAGMA user_version = " + std::to_string(kFormatVersion));
  });
  session.set_format_version(kFormatVersion);
  session.SchemaChanged();
}

}  // namespace tabsync::dao
