// The field rules of the record merge: string identifiers, the comparison
// that decides whether a target value stays, and the copy into a record.

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "engine/field_rules.h"
#include "support/raised_error.h"
#include "support/sqlite_merge_test.h"

namespace tabsync::engine {
namespace {

using dao::Variant;
using test::ExpectError;

TEST(FormatStringIdTest, PadsToFiveCharacters) {
  EXPECT_EQ("00000", FormatStringId(0));
  EXPECT_EQ("00007", FormatStringId(7));
  EXPECT_EQ("00998", FormatStringId(998));
  EXPECT_EQ("09999", FormatStringId(9999));
  EXPECT_EQ("10000", FormatStringId(10000));
  EXPECT_EQ("32767", FormatStringId(32767));
}

TEST(FormatStringIdTest, NegativeNumberRaises5) {
  EXPECT_EQ("Invalid procedure call or argument", ExpectError(5, [] { FormatStringId(-1); }));
  ExpectError(5, [] { FormatStringId(-32768); });
}

TEST(StringIdNumberTest, RoundsToNearestAndHalvesToEven) {
  EXPECT_EQ(12, StringIdNumber(Variant(12.4)));
  EXPECT_EQ(12, StringIdNumber(Variant(12.5)));
  EXPECT_EQ(14, StringIdNumber(Variant(13.5)));
  EXPECT_EQ(32767, StringIdNumber(Variant(32767.4)));
  EXPECT_EQ(-32768, StringIdNumber(Variant(int64_t{-32768})));
  EXPECT_EQ(12, StringIdNumber(Variant("00012")));
  EXPECT_EQ(-1, StringIdNumber(Variant(true)));
}

TEST(StringIdNumberTest, ValuesOutsideSixteenBitsNullAndNonNumbersRaise) {
  EXPECT_EQ("Overflow", ExpectError(6, [] { StringIdNumber(Variant(int64_t{32768})); }));
  ExpectError(6, [] { StringIdNumber(Variant(32767.5)); });
  ExpectError(6, [] { StringIdNumber(Variant(int64_t{-32769})); });
  EXPECT_EQ("Invalid use of Null", ExpectError(94, [] { StringIdNumber(Variant()); }));
  EXPECT_EQ("Type mismatch", ExpectError(13, [] { StringIdNumber(Variant("12a")); }));
  ExpectError(13, [] { StringIdNumber(Variant::Date("2026-12-07 09:05:31")); });
}

// Each test row is one record with the same ID in both databases; a field of
// the database in use (the source) is compared with or copied to the field
// of the same position in the update information (the target).
class FieldRulesTest : public test::SqliteMergeTest {
 protected:
  void Open(const std::string& existingSql, const std::string& updateSql) {
    OpenDatabases(existingSql, updateSql);
  }

  bool Equal(const std::string& table, int id, const std::string& column) {
    std::unique_ptr<dao::Recordset> source = Row(Existing(), table, id);
    std::unique_ptr<dao::Recordset> target = Row(Update(), table, id);
    return FieldValuesEqual(context_, table, source->Fields().Item(column),
                            target->Fields().Item(column));
  }

  // Copies the source's value at the column's position into the target
  // record and saves it; gives the target value read back.
  Variant Copy(const std::string& table, int id, const std::string& column) {
    std::unique_ptr<dao::Recordset> source = Row(Existing(), table, id);
    std::unique_ptr<dao::Recordset> target = Row(Update(), table, id);
    int16_t position = Position(*source, column);
    target->Edit();
    CopyFieldValue(context_, table, position, *source, *target);
    target->Update();
    return Row(Update(), table, id)->Fields().Item(column).Value();
  }

  static std::unique_ptr<dao::Recordset> Row(dao::Database& database, const std::string& table,
                                             int id) {
    auto set = database.OpenRecordset("SELECT * FROM [" + table + "] WHERE [ID] = " +
                                      std::to_string(id) + ";");
    EXPECT_FALSE(set->Eof()) << table << " " << id;
    return set;
  }

  static int16_t Position(dao::Recordset& set, const std::string& column) {
    for (int i = 0; i < set.Fields().Count(); ++i)
      if (set.Fields().Item(i).Name() == column) return static_cast<int16_t>(i);
    ADD_FAILURE() << "no column " << column;
    return 0;
  }
};

constexpr char kExistingLinks[] =
    "CREATE TABLE Links (ID LONG, NameStringID LONG, TooltipStringID TEXT(5), Label TEXT(20));"
    "INSERT INTO Links VALUES (1, 12, '00012', 'abc'), (2, 12, '12', 'abc'),"
    " (3, NULL, NULL, NULL), (4, 12, 'x', 'abc'), (5, 7, NULL, 'abc');";
constexpr char kUpdateLinks[] =
    "CREATE TABLE Links (ID LONG, NameStringID TEXT(5), TooltipStringID TEXT(5), Label TEXT(20));"
    "INSERT INTO Links VALUES (1, '00012', '00012', 'abc'), (2, '12', '00012', 'ABC'),"
    " (3, 'x', 'y', 'z'), (4, NULL, NULL, NULL), (5, '7', 'q', 'abc');";

TEST_F(FieldRulesTest, NumericStringIdEqualsOnlyItsFiveDigitText) {
  Open(kExistingLinks, kUpdateLinks);
  WorkOn("config.mdb");
  EXPECT_TRUE(Equal("Links", 1, "NameStringID"));
  EXPECT_FALSE(Equal("Links", 2, "NameStringID")) << "\"12\" is not \"00012\"";
  EXPECT_FALSE(Equal("Links", 5, "NameStringID")) << "\"7\" is not \"00007\"";
  // A text source is compared as it is, without leading zeros.
  EXPECT_TRUE(Equal("Links", 1, "TooltipStringID"));
  EXPECT_FALSE(Equal("Links", 2, "TooltipStringID"));
}

TEST_F(FieldRulesTest, StringIdColumnsMatchInAnyLetterCase) {
  Open(kExistingLinks, kUpdateLinks);
  WorkOn("config.mdb");
  EXPECT_TRUE(Equal("LINKS", 1, "namestringid"));
  EXPECT_TRUE(IsStringIdColumn(context_, "links", "TOOLTIPSTRINGID"));
  EXPECT_FALSE(IsStringIdColumn(context_, "Links", "ID"));
  EXPECT_FALSE(IsStringIdColumn(context_, "Link", "NameStringID"));
  WorkOn("resource.mdb");
  EXPECT_TRUE(IsStringIdColumn(context_, "STRINGTABLE", "id"));
  EXPECT_FALSE(IsStringIdColumn(context_, "Links", "NameStringID"));
  WorkOn("Config.mdb");
  EXPECT_FALSE(IsStringIdColumn(context_, "Links", "NameStringID"))
      << "the database file name is compared exactly";
}

TEST_F(FieldRulesTest, LinksOfAnotherDatabaseFollowThePlainRules) {
  Open(kExistingLinks, kUpdateLinks);
  WorkOn("users.mdb");
  EXPECT_FALSE(Equal("Links", 1, "NameStringID")) << "a number is never equal to a text";
  EXPECT_TRUE(Equal("Links", 1, "Label"));
  EXPECT_FALSE(Equal("Links", 2, "Label")) << "letter case counts";
}

TEST_F(FieldRulesTest, NullSourceNeverReplacesAndNullTargetIsAlwaysReplaced) {
  Open(kExistingLinks, kUpdateLinks);
  WorkOn("config.mdb");
  EXPECT_TRUE(Equal("Links", 3, "NameStringID"));
  EXPECT_TRUE(Equal("Links", 3, "Label"));
  EXPECT_FALSE(Equal("Links", 4, "NameStringID"));
  EXPECT_FALSE(Equal("Links", 4, "Label"));
}

TEST_F(FieldRulesTest, NumericTargetOfStringTableIdIsNotItsText) {
  Open("CREATE TABLE StringTable (ID LONG, Amount DOUBLE); INSERT INTO StringTable VALUES (12, 1.5);",
       "CREATE TABLE StringTable (ID LONG, Amount DOUBLE); INSERT INTO StringTable VALUES (12, 1.5);");
  WorkOn("resource.mdb");
  EXPECT_FALSE(Equal("StringTable", 12, "ID")) << "the target's text \"12\" is not \"00012\"";
  EXPECT_TRUE(Equal("StringTable", 12, "Amount"));
  WorkOn("config.mdb");
  EXPECT_TRUE(Equal("StringTable", 12, "ID"));
}

TEST_F(FieldRulesTest, NumbersBooleansAndDatesCompareByValue) {
  Open("CREATE TABLE T (ID LONG, L LONG, D DOUBLE, B BIT, B2 BIT, W DATETIME, W2 DATETIME,"
       " M VARCHAR DECIMAL(10,2), M2 VARCHAR DECIMAL(30,4), X DATETIME EXTENDED, X2 DATETIME EXTENDED);"
       "INSERT INTO T VALUES (1, 2, 2.0, 1, 1, '2026-12-07 09:05:31', '2026-12-07 09:05:31', '0.10',"
       " '12345678901234567890.1235', '2026-12-07 09:05:31.0000000', '2026-12-07 09:05:31.0000001');",
       "CREATE TABLE T (ID LONG, L DOUBLE, D LONG, B LONG, B2 LONG, W DATETIME, W2 DATETIME,"
       " M DOUBLE, M2 VARCHAR DECIMAL(30,2), X DATETIME, X2 DATETIME);"
       "INSERT INTO T VALUES (1, 2.0, 2, -1, 1, '2026-12-07 09:05:31', '2026-12-07 09:05:32', 0.1,"
       " '12345678901234567890.12', '2026-12-07 09:05:31', '2026-12-07 09:05:31');");
  WorkOn("config.mdb");
  EXPECT_TRUE(Equal("T", 1, "L"));
  EXPECT_TRUE(Equal("T", 1, "D"));
  EXPECT_TRUE(Equal("T", 1, "B")) << "True is -1";
  EXPECT_FALSE(Equal("T", 1, "B2"));
  EXPECT_TRUE(Equal("T", 1, "W"));
  EXPECT_FALSE(Equal("T", 1, "W2"));
  EXPECT_TRUE(Equal("T", 1, "M")) << "the double 0.1 is the decimal 0.1";
  EXPECT_FALSE(Equal("T", 1, "M2")) << "decimals differ in a digit no double holds";
  EXPECT_TRUE(Equal("T", 1, "X")) << "a whole second is the Date/Time of that second";
  EXPECT_FALSE(Equal("T", 1, "X2"));
}

TEST_F(FieldRulesTest, CopyWritesNumericStringIdAsFiveDigitText) {
  Open(kExistingLinks, kUpdateLinks);
  WorkOn("config.mdb");
  EXPECT_EQ(Variant("00012"), Copy("Links", 2, "NameStringID"));
  EXPECT_EQ(Variant("00007"), Copy("Links", 5, "NameStringID"));
  EXPECT_EQ(Variant("12"), Copy("Links", 2, "TooltipStringID")) << "text source copied as is";
  EXPECT_EQ(Variant(), Copy("Links", 3, "NameStringID")) << "Null stays Null";
  EXPECT_EQ(Variant("abc"), Copy("Links", 2, "Label"));
}

TEST_F(FieldRulesTest, CopyIntoNumericStringIdColumnStoresTheNumber) {
  Open("CREATE TABLE StringTable (ID LONG); INSERT INTO StringTable VALUES (12);",
       "CREATE TABLE StringTable (ID LONG); INSERT INTO StringTable VALUES (12);");
  WorkOn("resource.mdb");
  EXPECT_EQ(Variant(int64_t{12}), Copy("StringTable", 12, "ID"));
}

TEST_F(FieldRulesTest, StringIdOutOfRangeOrNegativeFailsTheCopyAndTheComparison) {
  Open("CREATE TABLE Links (ID LONG, NameStringID LONG);"
       "INSERT INTO Links VALUES (1, 40000), (2, -3);",
       "CREATE TABLE Links (ID LONG, NameStringID TEXT(5));"
       "INSERT INTO Links VALUES (1, '00001'), (2, '00002');");
  WorkOn("config.mdb");
  ExpectError(6, [&] { Equal("Links", 1, "NameStringID"); });
  ExpectError(5, [&] { Equal("Links", 2, "NameStringID"); });
  ExpectError(6, [&] { Copy("Links", 1, "NameStringID"); });
  ExpectError(5, [&] { Copy("Links", 2, "NameStringID"); });
  EXPECT_EQ("1|00001\n2|00002\n", QueryUpdate("SELECT * FROM Links ORDER BY ID"));
}

}  // namespace
}  // namespace tabsync::engine
