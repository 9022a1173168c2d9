// Field values of the SQLite engine: what each field type reads as, how a
// written value is converted, and the text form of values.

#include <cstdint>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "dbengine/dao.h"
#include "dbengine/error.h"
#include "dbengine/sqlite_engine.h"
#include "dbengine/variant.h"
#include "support/raised_error.h"
#include "support/sqlite_files.h"
#include "support/temp_dir.h"

namespace tabsync::dao {
namespace {

using test::ExecSql;
using test::RaisedError;
using test::QuerySql;


// "°" in UTF-8: one character, two bytes.
const std::string kDegree = "\xC2\xB0";

// Table V has one column per field type and the required column R. Record 1
// holds Nulls, record 2 a value of each type.
class SqliteValuesTest : public testing::Test {
 protected:
  void SetUp() override {
    ExecSql(path_,
            "CREATE TABLE V (ID LONG PRIMARY KEY, B BIT, Y BYTE, I SHORT, L LONG, C CURRENCY, "
            "S SINGLE, D DOUBLE, T DATETIME, X TEXT(5) COLLATE NOCASE, M MEMO COLLATE NOCASE, "
            "O LONGBINARY, R LONG NOT NULL);"
            "INSERT INTO V (ID, R) VALUES (1, 0);"
            "INSERT INTO V VALUES (2, 1, 200, -300, 70000, 12.3456, 1.5, 2.25, "
            "'2024-03-01 10:20:30', 'abc', 'long memo', X'00FF', 0);"
            "INSERT INTO V (ID, B, R) VALUES (3, -1, 0), (4, 5, 0), (5, 0, 0);");
    db_ = engine_->OpenDatabase(path_);
  }

  Variant Read(const std::string& field, int id) {
    auto rs = db_->OpenRecordset("SELECT " + field + " FROM V WHERE ID = " + std::to_string(id));
    rs->MoveFirst();
    return rs->Fields().Item(0).Value();
  }

  // Writes |value| into |field| of record 1 and reads it back by a new query.
  Variant WriteAndRead(const std::string& field, const Variant& value) {
    auto rs = db_->OpenRecordset("SELECT * FROM V WHERE ID = 1");
    rs->MoveFirst();
    rs->Edit();
    rs->Fields().Item(field).SetValue(value);
    rs->Update(kUpdateRegular, false);
    rs->Close();
    return Read(field, 1);
  }

  // The error of writing |value| into |field| of record 1.
  Error WriteError(const std::string& field, const Variant& value) {
    auto rs = db_->OpenRecordset("SELECT * FROM V WHERE ID = 1");
    rs->MoveFirst();
    rs->Edit();
    return RaisedError([&] { rs->Fields().Item(field).SetValue(value); });
  }

  test::TempDir dir_;
  std::string path_ = dir_.File("values.mdb");
  std::unique_ptr<DatabaseEngine> engine_ = NewSqliteEngine();
  std::unique_ptr<Database> db_;
};

// --- Reading ---

TEST_F(SqliteValuesTest, EachFieldTypeReadsAsItsKind) {
  EXPECT_EQ(Variant(true), Read("B", 2));
  EXPECT_EQ(Variant(200), Read("Y", 2));
  EXPECT_EQ(Variant(-300), Read("I", 2));
  EXPECT_EQ(Variant(70000), Read("L", 2));
  EXPECT_EQ(Variant::Kind::kDouble, Read("C", 2).kind());
  EXPECT_DOUBLE_EQ(12.3456, Read("C", 2).AsDouble());
  EXPECT_EQ(Variant(1.5), Read("S", 2));
  EXPECT_EQ(Variant(2.25), Read("D", 2));
  EXPECT_EQ(Variant::Date("2024-03-01 10:20:30"), Read("T", 2));
  EXPECT_EQ(Variant("abc"), Read("X", 2));
  EXPECT_EQ(Variant("long memo"), Read("M", 2));
  EXPECT_EQ(Variant::Binary(std::string("\x00\xFF", 2)), Read("O", 2));
}

TEST_F(SqliteValuesTest, SqlNullReadsAsNullInEveryType) {
  for (const char* field : {"B", "Y", "I", "L", "C", "S", "D", "T", "X", "M", "O"})
    EXPECT_TRUE(Read(field, 1).IsNull()) << field;
}

TEST_F(SqliteValuesTest, AnyNonZeroBooleanReadsTrue) {
  EXPECT_EQ(Variant(true), Read("B", 3));
  EXPECT_EQ(Variant(true), Read("B", 4));
  EXPECT_EQ(Variant(false), Read("B", 5));
}

// Values that other programs (ODBC clients) store in forms of their own.
TEST_F(SqliteValuesTest, ValuesStoredByOtherProgramsReadAsTheirFieldTypes) {
  const std::pair<const char*, Variant> dates[] = {
      {"2024-03-01 10:20:30.000", Variant::Date("2024-03-01 10:20:30")},
      {"2024-03-01 10:20:30.999", Variant::Date("2024-03-01 10:20:30")},
      {"2024-03-01 10:20:00.5", Variant::Date("2024-03-01 10:20:00")},
      {"2024-03-01T10:20:30", Variant::Date("2024-03-01 10:20:30")},
      {"2024-03-01 10:20", Variant::Date("2024-03-01 10:20:00")},
      {"2024-03-01", Variant::Date("2024-03-01 00:00:00")},
      {"10:20:30", Variant::Date("1899-12-30 10:20:30")},
      {"2024-02-30 10:20:30", Variant::Date("2024-02-30 10:20:30")},  // no date: as stored
      {"2024-03-01 10:20:30.", Variant::Date("2024-03-01 10:20:30.")},
      {"yesterday", Variant::Date("yesterday")},
  };
  db_->Close();
  for (const auto& [stored, read] : dates) {
    ExecSql(path_, std::string("UPDATE V SET T = '") + stored + "' WHERE ID = 2");
    db_ = engine_->OpenDatabase(path_);
    EXPECT_EQ(read, Read("T", 2)) << stored;
    db_->Close();
  }
  // A real number in a Single holds a Single's precision, in a whole-number
  // field the whole number the engine would have written.
  ExecSql(path_, "UPDATE V SET S = 0.1, L = 2.5, Y = 3.5 WHERE ID = 2");
  db_ = engine_->OpenDatabase(path_);
  EXPECT_EQ(Variant(static_cast<double>(0.1f)), Read("S", 2));
  EXPECT_EQ(Variant(2), Read("L", 2));
  EXPECT_EQ(Variant(4), Read("Y", 2));
}

TEST_F(SqliteValuesTest, DateTextsInClientFormsAreWrittenInTheEnginesForm) {
  EXPECT_EQ(Variant::Date("2024-02-29 13:45:00"), WriteAndRead("T", "2024-02-29T13:45:00.250"));
  EXPECT_EQ(Variant::Date("1899-12-30 13:45:00"), WriteAndRead("T", "13:45"));
  EXPECT_EQ(3421, WriteError("T", "2024-02-29 13:45:00.").Number());
}

// --- Writing into numbers ---

TEST_F(SqliteValuesTest, TextHoldingNumberGoesIntoNumericFieldAsThatNumber) {
  EXPECT_EQ(Variant(12), WriteAndRead("L", "00012"));
  EXPECT_EQ(Variant(12), WriteAndRead("L", " 12 "));
  EXPECT_EQ(Variant(7), WriteAndRead("Y", "7"));
  EXPECT_EQ(Variant(-2.5), WriteAndRead("D", "-2.5"));
}

TEST_F(SqliteValuesTest, FractionIntoWholeNumberRoundsHalfToEven) {
  EXPECT_EQ(Variant(2), WriteAndRead("L", 2.5));
  EXPECT_EQ(Variant(4), WriteAndRead("L", 3.5));
  EXPECT_EQ(Variant(-2), WriteAndRead("I", -2.5));
  EXPECT_EQ(Variant(3), WriteAndRead("Y", 2.6));
}

TEST_F(SqliteValuesTest, TextThatIsNoNumberRaises3421) {
  Error error = WriteError("L", "abc");
  EXPECT_EQ(3421, error.Number());
  EXPECT_EQ("Data type conversion error.", error.Description());
  EXPECT_EQ(3421, WriteError("L", "").Number());
  EXPECT_EQ(3421, WriteError("D", "1.2.3").Number());
  EXPECT_EQ(3421, WriteError("C", "twelve").Number());
}

TEST_F(SqliteValuesTest, NumberOutOfFieldRangeRaises3349) {
  Error error = WriteError("Y", 256);
  EXPECT_EQ(3349, error.Number());
  EXPECT_EQ("Numeric field overflow.", error.Description());
  EXPECT_EQ(3349, WriteError("Y", -1).Number());
  EXPECT_EQ(3349, WriteError("I", 32768).Number());
  EXPECT_EQ(3349, WriteError("I", -32769).Number());
  EXPECT_EQ(3349, WriteError("L", int64_t{1} << 31).Number());
  EXPECT_EQ(3349, WriteError("L", "2147483648").Number());
}

TEST_F(SqliteValuesTest, NumbersAtFieldRangeLimitsAreKept) {
  EXPECT_EQ(Variant(255), WriteAndRead("Y", 255));
  EXPECT_EQ(Variant(-32768), WriteAndRead("I", -32768));
  EXPECT_EQ(Variant(2147483647), WriteAndRead("L", 2147483647));
  EXPECT_EQ(Variant(-2147483647 - 1), WriteAndRead("L", -2147483647 - 1));
}

TEST_F(SqliteValuesTest, CurrencyIsRoundedToFourDecimals) {
  Variant value = WriteAndRead("C", 1.23456);
  EXPECT_EQ(Variant::Kind::kDouble, value.kind());
  EXPECT_DOUBLE_EQ(1.2346, value.AsDouble());
  EXPECT_DOUBLE_EQ(-7.5, WriteAndRead("C", "-7.50004").AsDouble());
}

// A Decimal and a Large Number take numbers and texts exactly: no digit
// passes through a double; a Date/Time Extended keeps 100 ns. Error 0:
// written and read back.
TEST_F(SqliteValuesTest, DecimalsLargeNumbersAndExtendedDatesAreKeptExactly) {
  db_->Close();
  ExecSql(path_, "ALTER TABLE V ADD COLUMN P VARCHAR DECIMAL(20,2); ALTER TABLE V ADD COLUMN G BIGINT LARGENUMBER;"
                 "ALTER TABLE V ADD COLUMN E DATETIME EXTENDED;");
  db_ = engine_->OpenDatabase(path_);
  struct Case {
    const char* field;
    Variant written, read;
    int error;
  };
  const Case cases[] = {
      {"P", "123456789012345678.125", Variant::Decimal("123456789012345678.12"), 0},
      {"P", 0.1, Variant::Decimal("0.10"), 0},
      {"P", int64_t{-7}, Variant::Decimal("-7.00"), 0},
      {"P", "1e18", Variant(), 3349},
      {"P", "x", Variant(), 3421},
      {"P", Variant::Date("2024-01-01 00:00:00"), Variant(), 3421},
      {"G", "9223372036854775807", Variant(INT64_MAX), 0},
      {"G", Variant::Decimal("12.50"), Variant(12), 0},
      {"G", 2.5, Variant(2), 0},
      {"G", "-9223372036854775809", Variant(), 3349},
      {"G", 9.3e18, Variant(), 3349},
      {"E", "2024-02-29T13:45:00.123456789", Variant::Date("2024-02-29 13:45:00.1234567"), 0},
      {"E", Variant::Date("0001-01-01 00:00:00"), Variant::Date("0001-01-01 00:00:00.0000000"), 0},
      {"E", 0.5, Variant::Date("1899-12-30 12:00:00.0000000"), 0},
      {"E", "0000-12-31 00:00:00", Variant(), 3421},
      {"E", true, Variant(), 3421},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.field) + " " + c.written.ToText());
    if (c.error) {
      EXPECT_EQ(c.error, WriteError(c.field, c.written).Number());
    } else {
      EXPECT_EQ(c.read, WriteAndRead(c.field, c.written));
    }
  }
  // What another program stores: a real number (text under TEXT affinity),
  // a text that is no number.
  db_->Close();
  ExecSql(path_, "UPDATE V SET P = 12.5, G = 9007199254740993, E = '2024-03-01 09:30:00.5' WHERE ID = 1;"
                 "UPDATE V SET P = 'n/a' WHERE ID = 2;");
  db_ = engine_->OpenDatabase(path_);
  EXPECT_EQ(Variant::Decimal("12.50"), Read("P", 1));
  EXPECT_EQ(Variant::Date("2024-03-01 09:30:00.5000000"), Read("E", 1));
  EXPECT_EQ(Variant(int64_t{9007199254740993}), Read("G", 1));
  EXPECT_EQ(Variant("n/a"), Read("P", 2));
}

TEST_F(SqliteValuesTest, SingleKeepsFloatPrecision) {
  EXPECT_EQ(Variant(static_cast<double>(0.1f)), WriteAndRead("S", 0.1));
}

// --- Writing into Boolean, Text, Memo, Date ---

TEST_F(SqliteValuesTest, BooleanFromNumbersAndWords) {
  EXPECT_EQ(Variant(false), WriteAndRead("B", 0));
  EXPECT_EQ(Variant(true), WriteAndRead("B", 2));
  EXPECT_EQ(Variant(true), WriteAndRead("B", -1));
  EXPECT_EQ(Variant(true), WriteAndRead("B", "True"));
  EXPECT_EQ(Variant(false), WriteAndRead("B", "no"));
  EXPECT_EQ(Variant(true), WriteAndRead("B", "YES"));
  EXPECT_EQ(Variant(false), WriteAndRead("B", "false"));
  EXPECT_EQ(Variant(false), WriteAndRead("B", "0"));
  EXPECT_EQ(3421, WriteError("B", "maybe").Number());
}

TEST_F(SqliteValuesTest, NumberIntoTextBecomesItsTextForm) {
  EXPECT_EQ(Variant("12"), WriteAndRead("X", 12));
  EXPECT_EQ(Variant("1.5"), WriteAndRead("X", 1.5));
  EXPECT_EQ(Variant("True"), WriteAndRead("X", true));
  EXPECT_EQ(Variant("3"), WriteAndRead("M", 3.0));
}

TEST_F(SqliteValuesTest, TextLongerThanFieldSizeRaises3163) {
  Error error = WriteError("X", "abcdef");
  EXPECT_EQ(3163, error.Number());
  EXPECT_EQ("The field is too small to accept the amount of data you attempted to add.",
            error.Description());
  EXPECT_EQ(3163, WriteError("X", "20" + kDegree + "C!!").Number());
}

TEST_F(SqliteValuesTest, TextSizeCountsCharactersNotBytes) {
  const std::string five_characters = "20" + kDegree + "C!";
  EXPECT_EQ(Variant(five_characters), WriteAndRead("X", five_characters));
  EXPECT_EQ(Variant("abcde"), WriteAndRead("X", "abcde"));
}

TEST_F(SqliteValuesTest, MemoHasNoSizeLimit) {
  const std::string long_text(10000, 'm');
  EXPECT_EQ(Variant(long_text), WriteAndRead("M", long_text));
}

TEST_F(SqliteValuesTest, DateFromTextAndFromDaySerial) {
  EXPECT_EQ(Variant::Date("2024-02-29 13:45:00"), WriteAndRead("T", "2024-02-29 13:45:00"));
  EXPECT_EQ(Variant::Date("2024-02-29 00:00:00"), WriteAndRead("T", "2024-02-29"));
  EXPECT_EQ(Variant::Date("1900-01-01 12:00:00"), WriteAndRead("T", 2.5));
  EXPECT_EQ(Variant::Date("1899-12-31 00:00:00"), WriteAndRead("T", 1));
  EXPECT_EQ(Variant::Date("2000-01-02 03:04:05"),
            WriteAndRead("T", Variant::Date("2000-01-02 03:04:05")));
  EXPECT_EQ(3421, WriteError("T", "yesterday").Number());
}

// --- Null ---

TEST_F(SqliteValuesTest, NullIsStoredInOptionalField) {
  WriteAndRead("L", 5);
  EXPECT_TRUE(WriteAndRead("L", Variant::Null()).IsNull());
}

TEST_F(SqliteValuesTest, NullInRequiredFieldFailsAtUpdateWith3314) {
  auto rs = db_->OpenRecordset("SELECT * FROM V WHERE ID = 1");
  rs->MoveFirst();
  rs->Edit();
  rs->Fields().Item("R").SetValue(Variant::Null());
  Error error = RaisedError([&] { rs->Update(kUpdateRegular, false); });
  EXPECT_EQ(3314, error.Number());
  EXPECT_EQ("You must enter a value in the 'V.R' field.", error.Description());
}

// --- Storage ---

TEST_F(SqliteValuesTest, ValuesSurviveUpdateAndReopenInFileFormat) {
  auto rs = db_->OpenRecordset("SELECT * FROM V");
  rs->AddNew();
  Collection<Field>& fields = rs->Fields();
  fields.Item("ID").SetValue(9);
  fields.Item("B").SetValue(true);
  fields.Item("L").SetValue("00012");
  fields.Item("C").SetValue(1.23456);
  fields.Item("T").SetValue("2024-02-29");
  fields.Item("X").SetValue(1.5);
  fields.Item("R").SetValue(0);
  rs->Update(kUpdateRegular, false);
  rs->Close();
  db_->Close();

  db_ = engine_->OpenDatabase(path_);
  EXPECT_EQ(Variant(true), Read("B", 9));
  EXPECT_EQ(Variant(12), Read("L", 9));
  EXPECT_EQ(Variant::Date("2024-02-29 00:00:00"), Read("T", 9));
  EXPECT_EQ(Variant("1.5"), Read("X", 9));
  EXPECT_TRUE(Read("D", 9).IsNull());
  db_->Close();
  EXPECT_EQ("1|integer|12|1.2346|2024-02-29 00:00:00|text|1.5|text|NULL\n",
            QuerySql(path_, "SELECT B, typeof(B), L, C, T, typeof(T), X, typeof(X), D "
                            "FROM V WHERE ID = 9"));
}

// --- Text form ---

TEST(VariantTextTest, WholeNumbersAreDigits) {
  EXPECT_EQ("3", Variant(3.0).ToText());
  EXPECT_EQ("-42", Variant(-42).ToText());
  EXPECT_EQ("1099511627776", Variant(int64_t{1} << 40).ToText());
  EXPECT_EQ("100000000000000000000", Variant(1e20).ToText());
}

TEST(VariantTextTest, FractionsAreShortestRoundTrip) {
  EXPECT_EQ("0.1", Variant(0.1).ToText());
  EXPECT_EQ("1.5", Variant(1.5).ToText());
  EXPECT_EQ("0.3333333333333333", Variant(1.0 / 3).ToText());
}

TEST(VariantTextTest, OtherKindsKeepTheirForm) {
  EXPECT_EQ("True", Variant(true).ToText());
  EXPECT_EQ("False", Variant(false).ToText());
  EXPECT_EQ("", Variant::Null().ToText());
  EXPECT_EQ("2024-03-01 10:20:30", Variant::Date("2024-03-01 10:20:30").ToText());
  EXPECT_EQ(" O'Brien ", Variant(" O'Brien ").ToText());
}

}  // namespace
}  // namespace tabsync::dao
