#include "dbengine/sql_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dbengine/error.h"

namespace tabsync::dao {
namespace {

using Kind = SqlExpr::Kind;

// The number of the error ParseSql raises, or 0 when the statement parses.
int ErrorNumber(std::string_view sql) {
  try {
    ParseSql(sql);
  } catch (const Error& error) {
    return error.Number();
  }
  return 0;
}

std::vector<std::string> ColumnNames(const SqlStatement& statement) {
  std::vector<std::string> names;
  for (const SqlColumn& column : statement.columns) names.push_back(column.name);
  return names;
}

void ExpectColumn(const SqlExpr& expr, const std::string& name, const std::string& qualifier = "") {
  ASSERT_EQ(expr.kind, Kind::kColumn);
  EXPECT_EQ(expr.name, name);
  EXPECT_EQ(expr.qualifier, qualifier);
}

// Checks that expr is "<column> <op> <literal>".
void ExpectComparison(const SqlExpr& expr, const std::string& column, const std::string& op,
                      const Variant& literal) {
  ASSERT_EQ(expr.kind, Kind::kCompare);
  ASSERT_EQ(expr.operands.size(), 2u);
  EXPECT_EQ(expr.op, op);
  ExpectColumn(*expr.operands[0], column);
  ASSERT_EQ(expr.operands[1]->kind, Kind::kLiteral);
  EXPECT_EQ(expr.operands[1]->literal, literal);
}

// The literal compared with in "SELECT * FROM T WHERE A = <literal text>".
Variant LiteralOf(const std::string& literal_text) {
  SqlStatement statement = ParseSql("SELECT * FROM T WHERE A = " + literal_text);
  return statement.where->operands[1]->literal;
}

// --- Statements the update logic sends ---

TEST(SqlParser, SourceQueryListsBracketedColumns) {
  SqlStatement s = ParseSql("SELECT [ID], [GER], [ENG] FROM StringTable;");
  EXPECT_EQ(s.kind, SqlStatement::Kind::kSelect);
  EXPECT_FALSE(s.all_columns);
  EXPECT_EQ(ColumnNames(s), (std::vector<std::string>{"ID", "GER", "ENG"}));
  EXPECT_EQ(s.columns[0].qualifier, "");
  EXPECT_EQ(s.table, "StringTable");
  EXPECT_EQ(s.where, nullptr);
}

TEST(SqlParser, TargetQueryTakesBareColumnAfterBlankBeforeComma) {
  SqlStatement s = ParseSql("SELECT [ID], [GER], [ENG] , ReplaceRow FROM StringTable;");
  EXPECT_EQ(ColumnNames(s), (std::vector<std::string>{"ID", "GER", "ENG", "ReplaceRow"}));
  EXPECT_EQ(s.table, "StringTable");
}

TEST(SqlParser, KeyQueryWithQuotedKeyKeepsLeadingZerosAsText) {
  SqlStatement s =
      ParseSql("SELECT [ID], [GER], [ENG] , ReplaceRow FROM StringTable WHERE ID = '00012';");
  EXPECT_EQ(s.columns.size(), 4u);
  ASSERT_NE(s.where, nullptr);
  ExpectComparison(*s.where, "ID", "=", Variant("00012"));
}

TEST(SqlParser, KeyQueryKeepsColumnNameCaseAsWritten) {
  SqlStatement s = ParseSql("SELECT [Label], [id] FROM Layout WHERE Label = 'x';");
  EXPECT_EQ(ColumnNames(s), (std::vector<std::string>{"Label", "id"}));
  EXPECT_EQ(s.table, "Layout");
  ExpectComparison(*s.where, "Label", "=", Variant("x"));
}

TEST(SqlParser, KeyQueryWithNumericKeyGivesWholeNumber) {
  SqlStatement s = ParseSql("SELECT [A], [B] FROM T WHERE ID = 12;");
  ExpectComparison(*s.where, "ID", "=", Variant(int64_t{12}));
  EXPECT_EQ(s.where->operands[1]->literal.kind(), Variant::Kind::kInteger);
}

TEST(SqlParser, BracketsHoldBlanksSlashAndNonAsciiText) {
  SqlStatement s = ParseSql("SELECT [Date/Time], [Cutoff 0°] FROM Actions;");
  EXPECT_EQ(ColumnNames(s), (std::vector<std::string>{"Date/Time", "Cutoff 0°"}));
  EXPECT_EQ(s.table, "Actions");
}

TEST(SqlParser, FeatureQueryWithoutSemicolon) {
  SqlStatement s = ParseSql("SELECT Feature FROM Services WHERE Feature = 'Jobmanagement'");
  EXPECT_EQ(ColumnNames(s), (std::vector<std::string>{"Feature"}));
  EXPECT_EQ(s.table, "Services");
  ExpectComparison(*s.where, "Feature", "=", Variant("Jobmanagement"));
}

TEST(SqlParser, ComparisonsWithoutBlanksJoinedByUpperCaseAnd) {
  SqlStatement s =
      ParseSql("SELECT GroupID, ID FROM AccessPrivileges WHERE GroupID=5 AND ID=12");
  EXPECT_EQ(ColumnNames(s), (std::vector<std::string>{"GroupID", "ID"}));
  ASSERT_EQ(s.where->kind, Kind::kAnd);
  ExpectComparison(*s.where->operands[0], "GroupID", "=", Variant(int64_t{5}));
  ExpectComparison(*s.where->operands[1], "ID", "=", Variant(int64_t{12}));
}

TEST(SqlParser, NumericRangeInParentheses) {
  SqlStatement s = ParseSql("SELECT * FROM StringTable WHERE (ID > 13099) And (ID < 13209)");
  EXPECT_TRUE(s.all_columns);
  EXPECT_TRUE(s.columns.empty());
  ASSERT_EQ(s.where->kind, Kind::kAnd);
  ExpectComparison(*s.where->operands[0], "ID", ">", Variant(int64_t{13099}));
  ExpectComparison(*s.where->operands[1], "ID", "<", Variant(int64_t{13209}));
}

TEST(SqlParser, TextRangeInParentheses) {
  SqlStatement s = ParseSql("SELECT * FROM StringTable WHERE (ID > '13099') And (ID < '13209')");
  ASSERT_EQ(s.where->kind, Kind::kAnd);
  ExpectComparison(*s.where->operands[0], "ID", ">", Variant("13099"));
  ExpectComparison(*s.where->operands[1], "ID", "<", Variant("13209"));
}

TEST(SqlParser, DeleteWithNumericRange) {
  SqlStatement s = ParseSql("DELETE FROM StringTable WHERE (ID > 13099) And (ID < 13209)");
  EXPECT_EQ(s.kind, SqlStatement::Kind::kDelete);
  EXPECT_EQ(s.table, "StringTable");
  ASSERT_EQ(s.where->kind, Kind::kAnd);
  ExpectComparison(*s.where->operands[0], "ID", ">", Variant(int64_t{13099}));
  ExpectComparison(*s.where->operands[1], "ID", "<", Variant(int64_t{13209}));
}

TEST(SqlParser, DoubledQuoteInTextIsOneQuote) {
  SqlStatement s = ParseSql("SELECT [x] FROM T WHERE Name = 'O''Brien';");
  ExpectComparison(*s.where, "Name", "=", Variant("O'Brien"));
}

// --- Further forms ---

TEST(SqlParser, DeleteStarWithoutCondition) {
  SqlStatement s = ParseSql("DELETE * FROM T;");
  EXPECT_EQ(s.kind, SqlStatement::Kind::kDelete);
  EXPECT_EQ(s.table, "T");
  EXPECT_EQ(s.where, nullptr);
}

TEST(SqlParser, BracketedTableName) {
  EXPECT_EQ(ParseSql("SELECT * FROM [My Table]").table, "My Table");
}

TEST(SqlParser, BracketedKeywordsAreNames) {
  SqlStatement s = ParseSql("SELECT [From], [Select] FROM [Where] WHERE [And] = 1");
  EXPECT_EQ(ColumnNames(s), (std::vector<std::string>{"From", "Select"}));
  EXPECT_EQ(s.table, "Where");
  ExpectComparison(*s.where, "And", "=", Variant(int64_t{1}));
}

TEST(SqlParser, QualifiedNamesInColumnListAndCondition) {
  SqlStatement s = ParseSql("SELECT T.A, [My T].[B c] FROM T WHERE [T].[A] = T.B");
  ASSERT_EQ(s.columns.size(), 2u);
  EXPECT_EQ(s.columns[0].qualifier, "T");
  EXPECT_EQ(s.columns[0].name, "A");
  EXPECT_EQ(s.columns[1].qualifier, "My T");
  EXPECT_EQ(s.columns[1].name, "B c");
  ASSERT_EQ(s.where->kind, Kind::kCompare);
  ExpectColumn(*s.where->operands[0], "A", "T");
  ExpectColumn(*s.where->operands[1], "B", "T");
}

TEST(SqlParser, AnyWhitespaceBetweenTokens) {
  SqlStatement s = ParseSql("\n\tSELECT\n[A]\r\n,\tB\nFROM\tT\nWHERE\tA\n<>\n1\n;\n");
  EXPECT_EQ(ColumnNames(s), (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(s.table, "T");
  ExpectComparison(*s.where, "A", "<>", Variant(int64_t{1}));
}

TEST(SqlParser, KeywordsInAnyLetterCase) {
  SqlStatement s = ParseSql("select [A] fRoM T wHeRe not A = 1 oR B = 2 and C = 3");
  EXPECT_EQ(s.table, "T");
  ASSERT_EQ(s.where->kind, Kind::kOr);
  EXPECT_EQ(s.where->operands[0]->kind, Kind::kNot);
  EXPECT_EQ(s.where->operands[1]->kind, Kind::kAnd);
  EXPECT_EQ(ParseSql("delete from T").kind, SqlStatement::Kind::kDelete);
}

TEST(SqlParser, EveryComparisonOperator) {
  for (std::string op : {"=", "<>", "<", ">", "<=", ">="}) {
    SCOPED_TRACE(op);
    SqlStatement s = ParseSql("SELECT * FROM T WHERE A" + op + "1");
    ExpectComparison(*s.where, "A", op, Variant(int64_t{1}));
  }
}

TEST(SqlParser, LiteralMayStandLeftOfComparison) {
  SqlStatement s = ParseSql("SELECT * FROM T WHERE 5 = ID");
  ASSERT_EQ(s.where->kind, Kind::kCompare);
  EXPECT_EQ(s.where->operands[0]->literal, Variant(int64_t{5}));
  ExpectColumn(*s.where->operands[1], "ID");
}

// --- Literals ---

TEST(SqlParser, NegativeAndDecimalNumbers) {
  EXPECT_EQ(LiteralOf("-5"), Variant(int64_t{-5}));
  EXPECT_EQ(LiteralOf("1.5"), Variant(1.5));
  EXPECT_EQ(LiteralOf("-1.25"), Variant(-1.25));
  EXPECT_EQ(LiteralOf("0"), Variant(int64_t{0}));
}

TEST(SqlParser, Lowest64BitWholeNumberStaysWhole) {
  EXPECT_EQ(LiteralOf("-9223372036854775808"), Variant(INT64_MIN));
}

TEST(SqlParser, WholeNumberBeyond64BitsBecomesDouble) {
  Variant value = LiteralOf("99999999999999999999");
  EXPECT_EQ(value.kind(), Variant::Kind::kDouble);
  EXPECT_DOUBLE_EQ(value.AsDouble(), 1e20);
}

TEST(SqlParser, TextLiteralKeepsBlanksCaseAndKeywords) {
  EXPECT_EQ(LiteralOf("' And Or x '"), Variant(" And Or x "));
  EXPECT_EQ(LiteralOf("''"), Variant(""));
  EXPECT_EQ(LiteralOf("''''"), Variant("'"));
  EXPECT_EQ(LiteralOf("'Straße'"), Variant("Straße"));
}

// --- Condition structure ---

TEST(SqlParser, AndBindsTighterThanOr) {
  SqlStatement s = ParseSql("SELECT * FROM T WHERE A = 1 Or B = 2 And C = 3");
  ASSERT_EQ(s.where->kind, Kind::kOr);
  ExpectComparison(*s.where->operands[0], "A", "=", Variant(int64_t{1}));
  const SqlExpr& right = *s.where->operands[1];
  ASSERT_EQ(right.kind, Kind::kAnd);
  ExpectComparison(*right.operands[0], "B", "=", Variant(int64_t{2}));
  ExpectComparison(*right.operands[1], "C", "=", Variant(int64_t{3}));
}

TEST(SqlParser, NotCoversOneComparisonAndBindsTighterThanAnd) {
  SqlStatement s = ParseSql("SELECT * FROM T WHERE Not A = 1 And B = 2");
  ASSERT_EQ(s.where->kind, Kind::kAnd);
  const SqlExpr& negated = *s.where->operands[0];
  ASSERT_EQ(negated.kind, Kind::kNot);
  ASSERT_EQ(negated.operands.size(), 1u);
  ExpectComparison(*negated.operands[0], "A", "=", Variant(int64_t{1}));
  ExpectComparison(*s.where->operands[1], "B", "=", Variant(int64_t{2}));
}

TEST(SqlParser, NotAppliesToParenthesizedCondition) {
  SqlStatement s = ParseSql("SELECT * FROM T WHERE Not (A = 1 Or B = 2)");
  ASSERT_EQ(s.where->kind, Kind::kNot);
  EXPECT_EQ(s.where->operands[0]->kind, Kind::kOr);
}

TEST(SqlParser, NestedParenthesesOverridePrecedence) {
  SqlStatement s = ParseSql("SELECT * FROM T WHERE ((A = 1 Or (B = 2))) And C = 3");
  ASSERT_EQ(s.where->kind, Kind::kAnd);
  const SqlExpr& left = *s.where->operands[0];
  ASSERT_EQ(left.kind, Kind::kOr);
  ExpectComparison(*left.operands[0], "A", "=", Variant(int64_t{1}));
  ExpectComparison(*left.operands[1], "B", "=", Variant(int64_t{2}));
  ExpectComparison(*s.where->operands[1], "C", "=", Variant(int64_t{3}));
}

TEST(SqlParser, RepeatedAndGroupsFromTheLeft) {
  SqlStatement s = ParseSql("SELECT * FROM T WHERE A = 1 And B = 2 And C = 3");
  ASSERT_EQ(s.where->kind, Kind::kAnd);
  ASSERT_EQ(s.where->operands[0]->kind, Kind::kAnd);
  ExpectComparison(*s.where->operands[1], "C", "=", Variant(int64_t{3}));
}

// --- Errors: statement and column list (3075) ---

void ExpectError(int number, const std::vector<std::string>& statements) {
  for (const std::string& sql : statements) {
    SCOPED_TRACE(sql);
    EXPECT_EQ(ErrorNumber(sql), number);
  }
}

TEST(SqlParser, NeitherSelectNorDeleteIs3075) {
  ExpectError(errors::kSyntaxInExpression,
              {"", "  ;", "UPDATE T SET A = 1", "INSERT INTO T VALUES (1)", "FROM T",
               "[SELECT] *"});
}

TEST(SqlParser, EmptyColumnListIs3075) {
  ExpectError(errors::kSyntaxInExpression, {"SELECT FROM T", "SELECT , [A] FROM T"});
}

TEST(SqlParser, MalformedColumnListIs3075) {
  ExpectError(errors::kSyntaxInExpression,
              {"SELECT [A], FROM T", "SELECT [A] [B] FROM T", "SELECT T. FROM T",
               "SELECT *, [A] FROM T", "SELECT [] FROM T", "SELECT 5 FROM T"});
}

TEST(SqlParser, UnterminatedBracketOrTextInColumnListIs3075) {
  ExpectError(errors::kSyntaxInExpression, {"SELECT [A FROM T", "SELECT 'A FROM T"});
}

TEST(SqlParser, ColumnListErrorQuotesTheListUpToTheFault) {
  try {
    ParseSql("SELECT [A] [B] FROM T");
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_NE(error.Description().find("'[A] [B]'"), std::string::npos) << error.Description();
  }
}

// --- Errors: FROM clause (3131) ---

TEST(SqlParser, MissingFromIs3131) {
  ExpectError(errors::kSyntaxInFrom,
              {"SELECT [A]", "SELECT [A];", "SELECT * WHERE A = 1", "DELETE", "DELETE T",
               "DELETE * T", "DELETE [A] FROM T"});
}

TEST(SqlParser, MissingTableNameIs3131) {
  ExpectError(errors::kSyntaxInFrom,
              {"SELECT * FROM", "SELECT * FROM;", "SELECT * FROM WHERE", "DELETE FROM WHERE A = 1",
               "SELECT * FROM (T)"});
}

TEST(SqlParser, UnterminatedTableBracketIs3131) {
  ExpectError(errors::kSyntaxInFrom, {"SELECT * FROM [My Table", "SELECT * FROM []"});
}

TEST(SqlParser, ExtraWordsAfterTableNameAre3131) {
  ExpectError(errors::kSyntaxInFrom,
              {"SELECT * FROM T U", "SELECT * FROM T ORDER BY A", "SELECT * FROM T.U"});
}

// --- Errors: WHERE condition and trailing text (3145) ---

TEST(SqlParser, EmptyConditionIs3145) {
  ExpectError(errors::kSyntaxInWhere,
              {"SELECT * FROM T WHERE", "SELECT * FROM T WHERE ;", "DELETE FROM T WHERE ()"});
}

TEST(SqlParser, DanglingOperatorIs3145) {
  ExpectError(errors::kSyntaxInWhere,
              {"SELECT * FROM T WHERE ID =", "SELECT * FROM T WHERE = 5",
               "SELECT * FROM T WHERE A = 1 And", "SELECT * FROM T WHERE A = 1 Or;",
               "SELECT * FROM T WHERE Not", "SELECT * FROM T WHERE A = -",
               "SELECT * FROM T WHERE A = -B"});
}

TEST(SqlParser, OperandWithoutComparisonIs3145) {
  ExpectError(errors::kSyntaxInWhere,
              {"SELECT * FROM T WHERE ID", "SELECT * FROM T WHERE ID 5",
               "SELECT * FROM T WHERE A = 1 = 2", "SELECT * FROM T WHERE A == 1"});
}

TEST(SqlParser, UnbalancedParenthesesAre3145) {
  ExpectError(errors::kSyntaxInWhere,
              {"SELECT * FROM T WHERE (ID > 1", "SELECT * FROM T WHERE ID > 1)",
               "SELECT * FROM T WHERE ((ID > 1)", "SELECT * FROM T WHERE (ID > 1))"});
}

TEST(SqlParser, UnterminatedTextOrBracketInConditionIs3145) {
  ExpectError(errors::kSyntaxInWhere,
              {"SELECT * FROM T WHERE Name = 'O''Brien", "SELECT * FROM T WHERE [Name = 'x'",
               "SELECT * FROM T WHERE Name = \"x\""});
}

TEST(SqlParser, TextAfterStatementIs3145) {
  ExpectError(errors::kSyntaxInWhere,
              {"SELECT * FROM T;;", "SELECT * FROM T; SELECT * FROM U",
               "SELECT * FROM T WHERE A = 1; x", "DELETE FROM T WHERE A = 1 B"});
}

}  // namespace
}  // namespace tabsync::dao

namespace tabsync::dao {
namespace {

TEST(SqlShape, LiteralsBecomeMarksInOrderWithTheirSpans) {
  std::string sql = "SELECT [ID], [Name] FROM T WHERE [Name] = 'O''Neil' Or ID < -12.5;";
  SqlShape shape = ShapeOf(sql);
  EXPECT_EQ("SELECT [ID] , [Name] FROM T WHERE [Name] = ? Or ID < ? ;", shape.text);
  ASSERT_EQ(2u, shape.literals.size());
  EXPECT_EQ(Variant("O'Neil"), shape.literals[0]);
  EXPECT_EQ(Variant(-12.5), shape.literals[1]);
  ASSERT_EQ(2u, shape.spans.size());
  EXPECT_EQ("'O''Neil'", sql.substr(shape.spans[0].first, shape.spans[0].second - shape.spans[0].first));
  EXPECT_EQ("-12.5", sql.substr(shape.spans[1].first, shape.spans[1].second - shape.spans[1].first));
}

TEST(SqlShape, StatementsDifferingOnlyInLiteralsShareTheirShape) {
  EXPECT_EQ(ShapeOf("SELECT A FROM T WHERE A = 1").text, ShapeOf("SELECT A FROM T WHERE A = 'x'").text);
  EXPECT_EQ(ShapeOf("SELECT A FROM T WHERE A = - 7").text, ShapeOf("SELECT  A FROM T WHERE A=7").text);
  // Names, brackets and keywords are part of the shape.
  EXPECT_NE(ShapeOf("SELECT A FROM T WHERE A = 1").text, ShapeOf("SELECT B FROM T WHERE A = 1").text);
  EXPECT_NE(ShapeOf("SELECT [A] FROM T").text, ShapeOf("SELECT A FROM T").text);
  EXPECT_NE(ShapeOf("SELECT A FROM T WHERE A = 12abc").text,
            ShapeOf("SELECT A FROM T WHERE A = 12").text);
}

TEST(SqlShape, ParsedLiteralsAreTheShapesLiteralsInOrder) {
  std::string sql = "SELECT A FROM T WHERE (A = 'x' AND B <> -3) OR Not C >= 2.25";
  SqlShape shape = ShapeOf(sql);
  SqlStatement statement = ParseSql(sql);
  std::vector<Variant> parsed;
  std::vector<const SqlExpr*> pending{statement.where.get()};
  while (!pending.empty()) {  // depth first, left to right
    const SqlExpr* expr = pending.back();
    pending.pop_back();
    if (expr->kind == Kind::kLiteral) parsed.push_back(expr->literal);
    for (auto it = expr->operands.rbegin(); it != expr->operands.rend(); ++it)
      pending.push_back(it->get());
  }
  EXPECT_EQ(shape.literals, parsed);
}

TEST(SqlShape, ReadLiteralTakesExactlyOneLiteralOfTheKindGiven) {
  EXPECT_EQ(Variant("it's"), ReadLiteral("'it''s'", true));
  EXPECT_EQ(Variant(int64_t{-12}), ReadLiteral("-12", false));
  EXPECT_EQ(Variant(0.5), ReadLiteral("0.5", false));
  EXPECT_FALSE(ReadLiteral("'a' OR 'b'", true));
  EXPECT_FALSE(ReadLiteral("'a'' OR 1=1", true));
  EXPECT_FALSE(ReadLiteral("12", true));
  EXPECT_FALSE(ReadLiteral("'12'", false));
  EXPECT_FALSE(ReadLiteral("1 OR 1=1", false));
  EXPECT_FALSE(ReadLiteral("12abc", false));
  EXPECT_FALSE(ReadLiteral("-", false));
  EXPECT_FALSE(ReadLiteral("", false));
}

}  // namespace
}  // namespace tabsync::dao
