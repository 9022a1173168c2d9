#include "dbengine/sql_parser.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <optional>
#include <system_error>
#include <utility>

#include "dbengine/error.h"
#include "dbengine/names.h"

namespace tabsync::dao {
namespace {

struct Token {
  enum class Kind { kWord, kBracketed, kNumber, kText, kSymbol, kBad, kEnd };
  Kind kind = Kind::kEnd;
  std::string text;  // names and texts without their brackets or quotes
  size_t begin = 0;  // offsets into the statement
  size_t end = 0;
};

constexpr std::array<std::string_view, 7> kKeywords = {"SELECT", "DELETE", "FROM", "WHERE",
                                                       "AND",    "OR",     "NOT"};
constexpr std::array<std::string_view, 6> kComparisons = {"=", "<>", "<=", ">=", "<", ">"};

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Every non-ASCII byte counts, so that UTF-8 names need no brackets.
bool IsNameChar(char c) {
  auto u = static_cast<unsigned char>(c);
  return u >= 0x80 || c == '_' || IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsKeyword(const Token& token) {
  return token.kind == Token::Kind::kWord &&
         std::any_of(kKeywords.begin(), kKeywords.end(),
                     [&](std::string_view k) { return SameName(token.text, k); });
}

// An empty name or a missing "]" makes a bad token, as does a missing closing quote.
Token ReadBracketed(std::string_view sql, size_t begin) {
  size_t close = sql.find(']', begin + 1);
  if (close == std::string_view::npos || close == begin + 1)
    return {Token::Kind::kBad, "", begin, sql.size()};
  return {Token::Kind::kBracketed, std::string(sql.substr(begin + 1, close - begin - 1)), begin,
          close + 1};
}

Token ReadText(std::string_view sql, size_t begin) {
  std::string text;
  for (size_t i = begin + 1; i < sql.size(); ++i) {
    if (sql[i] != '\'') {
      text += sql[i];
    } else if (i + 1 < sql.size() && sql[i + 1] == '\'') {
      text += '\'';
      ++i;
    } else {
      return {Token::Kind::kText, std::move(text), begin, i + 1};
    }
  }
  return {Token::Kind::kBad, "", begin, sql.size()};
}

// A run of name characters that is all digits is a number, with its decimals.
Token ReadWordOrNumber(std::string_view sql, size_t begin) {
  size_t end = begin;
  while (end < sql.size() && IsNameChar(sql[end])) ++end;
  bool number = std::all_of(sql.begin() + begin, sql.begin() + end, IsDigit);
  if (number && end + 1 < sql.size() && sql[end] == '.' && IsDigit(sql[end + 1])) {
    for (++end; end < sql.size() && IsDigit(sql[end]);) ++end;
  }
  return {number ? Token::Kind::kNumber : Token::Kind::kWord,
          std::string(sql.substr(begin, end - begin)), begin, end};
}

Token ReadSymbol(std::string_view sql, size_t begin) {
  std::string_view two = sql.substr(begin, 2);
  if (two == "<>" || two == "<=" || two == ">=")
    return {Token::Kind::kSymbol, std::string(two), begin, begin + 2};
  std::string_view one = sql.substr(begin, 1);
  bool known = one.find_first_of(",.*()=<>;-") != std::string_view::npos;
  return {known ? Token::Kind::kSymbol : Token::Kind::kBad, std::string(one), begin, begin + 1};
}

Token ReadToken(std::string_view sql, size_t begin) {
  if (sql[begin] == '[') return ReadBracketed(sql, begin);
  if (sql[begin] == '\'') return ReadText(sql, begin);
  if (IsNameChar(sql[begin])) return ReadWordOrNumber(sql, begin);
  return ReadSymbol(sql, begin);
}

// Tokenizing stops at a bad token; the parser meets it in whatever clause it
// stands and reports it with that clause's error.
std::vector<Token> Tokenize(std::string_view sql) {
  std::vector<Token> tokens;
  tokens.reserve(sql.size() / 4 + 2);
  size_t pos = 0;
  while (true) {
    while (pos < sql.size() && IsBlank(sql[pos])) ++pos;
    if (pos == sql.size()) break;
    tokens.push_back(ReadToken(sql, pos));
    pos = tokens.back().end;
    if (tokens.back().kind == Token::Kind::kBad) break;
  }
  tokens.push_back({Token::Kind::kEnd, "", sql.size(), sql.size()});
  return tokens;
}

// A number token (with its sign) as a value. Whole numbers beyond 64 bits
// are kept as doubles rather than refused.
std::optional<Variant> NumberLiteral(const std::string& text) {
  const char* first = text.data();
  const char* last = first + text.size();
  int64_t whole = 0;
  auto [whole_end, whole_error] = std::from_chars(first, last, whole);
  if (whole_error == std::errc() && whole_end == last) return Variant(whole);
  double value = 0;
  if (std::from_chars(first, last, value).ec != std::errc()) return std::nullopt;
  return Variant(value);
}

std::unique_ptr<SqlExpr> MakeExpr(SqlExpr::Kind kind) {
  auto expr = std::make_unique<SqlExpr>();
  expr->kind = kind;
  return expr;
}

std::unique_ptr<SqlExpr> Combine(SqlExpr::Kind kind, std::unique_ptr<SqlExpr> left,
                                 std::unique_ptr<SqlExpr> right) {
  auto expr = MakeExpr(kind);
  expr->operands.push_back(std::move(left));
  expr->operands.push_back(std::move(right));
  return expr;
}

class Parser {
 public:
  explicit Parser(std::string_view sql)
      : sql_(sql), tokens_(Tokenize(sql)), clause_begin_(tokens_.front().begin) {}

  SqlStatement Statement();

 private:
  // Which clause a syntax error is reported against.
  enum class Clause { kExpression, kFrom, kWhere };

  const Token& Peek() const { return tokens_[pos_]; }
  std::string TakeText() { return tokens_[pos_++].text; }
  bool AtSymbol(std::string_view symbol) const {
    return Peek().kind == Token::Kind::kSymbol && Peek().text == symbol;
  }
  bool TakeSymbol(std::string_view symbol);
  bool TakeKeyword(std::string_view keyword);
  bool AtName() const;
  bool AtStatementEnd() const { return Peek().kind == Token::Kind::kEnd || AtSymbol(";"); }
  [[noreturn]] void Fail() const;

  void Columns(SqlStatement& statement);
  void ExpectFrom();
  void FromAndWhere(SqlStatement& statement);
  SqlColumn QualifiedName();
  std::unique_ptr<SqlExpr> Or();
  std::unique_ptr<SqlExpr> And();
  std::unique_ptr<SqlExpr> Not();
  std::unique_ptr<SqlExpr> Comparison();
  std::unique_ptr<SqlExpr> Operand();
  std::unique_ptr<SqlExpr> Number(const std::string& text);

  std::string_view sql_;
  std::vector<Token> tokens_;
  size_t pos_ = 0;
  Clause clause_ = Clause::kExpression;
  size_t clause_begin_;
};

bool Parser::TakeSymbol(std::string_view symbol) {
  if (!AtSymbol(symbol)) return false;
  ++pos_;
  return true;
}

bool Parser::TakeKeyword(std::string_view keyword) {
  if (Peek().kind != Token::Kind::kWord || !SameName(Peek().text, keyword)) return false;
  ++pos_;
  return true;
}

// A bracketed keyword is a name; a bare one is not.
bool Parser::AtName() const {
  return Peek().kind == Token::Kind::kBracketed ||
         (Peek().kind == Token::Kind::kWord && !IsKeyword(Peek()));
}

void Parser::Fail() const {
  if (clause_ == Clause::kFrom) throw SyntaxInFrom();
  if (clause_ == Clause::kWhere) throw SyntaxInWhere();
  size_t end = Peek().end;
  throw SyntaxInExpression(std::string(sql_.substr(clause_begin_, end - clause_begin_)));
}

SqlStatement Parser::Statement() {
  SqlStatement statement;
  if (TakeKeyword("SELECT")) {
    Columns(statement);
  } else if (TakeKeyword("DELETE")) {
    statement.kind = SqlStatement::Kind::kDelete;
    TakeSymbol("*");
    clause_ = Clause::kFrom;
  } else {
    Fail();
  }
  ExpectFrom();
  FromAndWhere(statement);
  clause_ = Clause::kWhere;  // anything after the statement counts against its condition
  TakeSymbol(";");
  if (Peek().kind != Token::Kind::kEnd) Fail();
  return statement;
}

void Parser::Columns(SqlStatement& statement) {
  clause_begin_ = Peek().begin;
  if (TakeSymbol("*")) {
    statement.all_columns = true;
    return;
  }
  do {
    statement.columns.push_back(QualifiedName());
  } while (TakeSymbol(","));
}

void Parser::ExpectFrom() {
  if (TakeKeyword("FROM")) {
    clause_ = Clause::kFrom;
    return;
  }
  // A list followed by a keyword or by nothing lacks its FROM clause; followed
  // by anything else, the list itself is malformed.
  if (IsKeyword(Peek()) || AtStatementEnd()) clause_ = Clause::kFrom;
  Fail();
}

void Parser::FromAndWhere(SqlStatement& statement) {
  if (!AtName()) Fail();
  statement.table = TakeText();
  if (TakeKeyword("WHERE")) {
    clause_ = Clause::kWhere;
    statement.where = Or();
  } else if (!AtStatementEnd()) {
    Fail();
  }
}

SqlColumn Parser::QualifiedName() {
  if (!AtName()) Fail();
  SqlColumn column{TakeText(), ""};
  if (TakeSymbol(".")) {
    if (!AtName()) Fail();
    column.qualifier = std::move(column.name);
    column.name = TakeText();
  }
  return column;
}

std::unique_ptr<SqlExpr> Parser::Or() {
  auto left = And();
  while (TakeKeyword("OR")) {
    auto right = And();
    left = Combine(SqlExpr::Kind::kOr, std::move(left), std::move(right));
  }
  return left;
}

std::unique_ptr<SqlExpr> Parser::And() {
  auto left = Not();
  while (TakeKeyword("AND")) {
    auto right = Not();
    left = Combine(SqlExpr::Kind::kAnd, std::move(left), std::move(right));
  }
  return left;
}

std::unique_ptr<SqlExpr> Parser::Not() {
  if (TakeKeyword("NOT")) {
    auto expr = MakeExpr(SqlExpr::Kind::kNot);
    expr->operands.push_back(Not());
    return expr;
  }
  if (!TakeSymbol("(")) return Comparison();
  auto inner = Or();
  if (!TakeSymbol(")")) Fail();
  return inner;
}

std::unique_ptr<SqlExpr> Parser::Comparison() {
  auto left = Operand();
  auto is_comparison = [&](std::string_view op) { return AtSymbol(op); };
  if (std::none_of(kComparisons.begin(), kComparisons.end(), is_comparison)) Fail();
  std::string op = TakeText();
  auto right = Operand();
  auto expr = Combine(SqlExpr::Kind::kCompare, std::move(left), std::move(right));
  expr->op = std::move(op);
  return expr;
}

std::unique_ptr<SqlExpr> Parser::Operand() {
  if (AtName()) {
    SqlColumn column = QualifiedName();
    auto expr = MakeExpr(SqlExpr::Kind::kColumn);
    expr->name = std::move(column.name);
    expr->qualifier = std::move(column.qualifier);
    return expr;
  }
  if (Peek().kind == Token::Kind::kText) {
    auto expr = MakeExpr(SqlExpr::Kind::kLiteral);
    expr->literal = Variant(TakeText());
    return expr;
  }
  // The sign joins the digits before conversion so that the lowest 64-bit value reads.
  std::string sign = TakeSymbol("-") ? "-" : "";
  if (Peek().kind != Token::Kind::kNumber) Fail();
  return Number(sign + TakeText());
}

std::unique_ptr<SqlExpr> Parser::Number(const std::string& text) {
  auto expr = MakeExpr(SqlExpr::Kind::kLiteral);
  std::optional<Variant> value = NumberLiteral(text);
  if (!value) Fail();
  expr->literal = std::move(*value);
  return expr;
}

}  // namespace

SqlStatement ParseSql(std::string_view sql) { return Parser(sql).Statement(); }

SqlShape ShapeOf(std::string_view sql) {
  SqlShape shape;
  shape.text.reserve(sql.size());
  auto next = [&](size_t pos) {
    while (pos < sql.size() && IsBlank(sql[pos])) ++pos;
    return pos == sql.size() ? Token{Token::Kind::kEnd, "", pos, pos} : ReadToken(sql, pos);
  };
  // Read one token ahead: "-" is the engine's sign and nothing else, so
  // before a number it belongs to the literal, as the parser reads it.
  Token token = next(0);
  while (token.kind != Token::Kind::kEnd) {
    Token after = token.kind == Token::Kind::kBad ? Token{Token::Kind::kEnd, "", sql.size(), sql.size()}
                                                 : next(token.end);
    if (!shape.text.empty()) shape.text += ' ';
    bool sign = token.kind == Token::Kind::kSymbol && token.text == "-" &&
                after.kind == Token::Kind::kNumber;
    if (sign || token.kind == Token::Kind::kNumber) {
      std::optional<Variant> value = NumberLiteral(sign ? "-" + after.text : token.text);
      shape.literals.push_back(value ? std::move(*value) : Variant());
      shape.spans.emplace_back(token.begin, sign ? after.end : token.end);
      shape.text += '?';
      if (sign) after = next(after.end);
    } else if (token.kind == Token::Kind::kText) {
      shape.literals.push_back(Variant(std::move(token.text)));
      shape.spans.emplace_back(token.begin, token.end);
      shape.text += '?';
    } else {
      shape.text.append(sql.substr(token.begin, token.end - token.begin));
    }
    token = std::move(after);
  }
  return shape;
}

std::optional<Variant> ReadLiteral(std::string_view text, bool quoted) {
  if (quoted) {
    if (text.empty() || text.front() != '\'') return std::nullopt;
    Token token = ReadText(text, 0);
    if (token.kind != Token::Kind::kText || token.end != text.size()) return std::nullopt;
    return Variant(std::move(token.text));
  }
  size_t digits = text.size() > 1 && text.front() == '-' ? 1 : 0;
  if (digits == text.size()) return std::nullopt;
  Token token = ReadWordOrNumber(text, digits);
  if (token.kind != Token::Kind::kNumber || token.end != text.size()) return std::nullopt;
  return NumberLiteral(std::string(text));
}

}  // namespace tabsync::dao
