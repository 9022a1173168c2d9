#ifndef TABSYNC_DBENGINE_SQL_PARSER_H_
#define TABSYNC_DBENGINE_SQL_PARSER_H_

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dbengine/variant.h"

namespace tabsync::dao {

// The SQL the update logic sends, parsed:
//   SELECT <columns> FROM <table> [WHERE <condition>] [;]
//   DELETE [*] FROM <table> [WHERE <condition>] [;]
// <columns> is "*" or a comma-separated list of names; a name is bare
// (letters, digits, "_" and any non-ASCII character) or in square brackets
// (anything but "]"), optionally qualified as table.column. A condition
// combines comparisons (=, <>, <, >, <=, >=) of names, numbers and
// single-quoted texts (a doubled quote stands for one) with And, Or, Not and
// parentheses. Keywords ignore letter case.

struct SqlExpr {
  enum class Kind { kColumn, kLiteral, kCompare, kAnd, kOr, kNot };
  Kind kind = Kind::kLiteral;
  std::string name;         // kColumn: the column name, without brackets
  std::string qualifier;    // kColumn: the table name when written table.column
  Variant literal;          // kLiteral: a whole number, a double or a text
  std::string op;           // kCompare: "=", "<>", "<", ">", "<=" or ">="
  std::vector<std::unique_ptr<SqlExpr>> operands;  // kCompare 2, kAnd/kOr 2, kNot 1
};

struct SqlColumn {
  std::string name;       // without brackets
  std::string qualifier;  // table name when written table.column, else empty
};

struct SqlStatement {
  enum class Kind { kSelect, kDelete };
  Kind kind = Kind::kSelect;
  bool all_columns = false;        // SELECT *
  std::vector<SqlColumn> columns;  // SELECT list, in order
  std::string table;               // FROM table, without brackets
  std::unique_ptr<SqlExpr> where;  // null without WHERE
};

// Parses one statement. Raises tabsync::Error: 3075 for a statement that is
// neither SELECT nor DELETE or a malformed column list, 3131 for a missing or
// malformed FROM clause, 3145 for a malformed WHERE condition or text after it.
SqlStatement ParseSql(std::string_view sql);

// A statement's shape: its tokens, one blank apart, with each literal (a
// quoted text, or a number with its sign) written as "?", and the literals'
// values in the order they stand. Statements of one shape parse alike but
// for their literals, which take the places of the parsed statement's
// literals in the same order; so a parse can serve every statement of its
// shape. Never fails: a statement that does not parse has a shape too.
struct SqlShape {
  std::string text;
  std::vector<Variant> literals;
  // Where each literal stands in the statement: its first offset and the
  // offset after it.
  std::vector<std::pair<size_t, size_t>> spans;
};
SqlShape ShapeOf(std::string_view sql);

// The value of `text` when it is exactly one literal of the kind given: a
// quoted text (its inner quotes doubled), or a number with an optional sign.
std::optional<Variant> ReadLiteral(std::string_view text, bool quoted);

}  // namespace tabsync::dao

#endif  // TABSYNC_DBENGINE_SQL_PARSER_H_
