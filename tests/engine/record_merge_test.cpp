// The record merge on real SQLite databases: which records are added or
// changed, the exact log lines, the rules of the reference databases, and the
// failures that reach the caller.

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/record_merge.h"
#include "support/raised_error.h"
#include "support/sqlite_merge_test.h"

namespace tabsync::engine {
namespace {

using Lines = std::vector<std::string>;
using test::ExpectError;

class RecordMergeTest : public test::SqliteMergeTest {
 protected:
  // The merge of the whole-database merge: the database in use is the source.
  void MergeIntoUpdate(const std::string& table) {
    MergeRecords(context_, Existing(), Update(), Existing().TableDefs().Item(table),
                 Update().TableDefs().Item(table));
  }
  // The merge of a release's table: the update information is the source.
  void MergeIntoExisting(const std::string& table) {
    MergeRecords(context_, Update(), Existing(), Update().TableDefs().Item(table),
                 Existing().TableDefs().Item(table));
  }
};

TEST_F(RecordMergeTest, KeyFieldDependsOnDatabaseAndTable) {
  struct Case {
    const char* file;
    const char* table;
    const char* key;
  };
  const Case cases[] = {
      {"accounting.mdb", "Version", "DBVersion"}, {"users.mdb", "VERSION", "DBVersion"},
      {"availability.mdb", "Version", "ID"},      {"config.mdb", "Layout", "Label"},
      {"config.mdb", "configuration", "Label"},   {"config.mdb", "Language", "isocode"},
      {"config.mdb", "Version", "ID"},            {"resource.mdb", "Layout", "ID"},
      {"Config.mdb", "Layout", "ID"},             {"users.mdb", "Users", "ID"},
  };
  for (const Case& c : cases) {
    WorkOn(c.file);
    EXPECT_EQ(c.key, GetKeyFieldName(context_, c.table)) << c.file << " " << c.table;
  }
}

constexpr char kOrders[] =
    "CREATE TABLE Orders (ID LONG PRIMARY KEY, Name TEXT(20), Qty LONG);";

TEST_F(RecordMergeTest, AddsMissingRecordsAndReplacesDifferingFieldsWithTheirLines) {
  OpenDatabases(std::string(kOrders) + "INSERT INTO Orders VALUES (1, 'a', 1), (2, 'b', 2), (3, 'c', 3), (4, 'd', NULL);",
                std::string(kOrders) + "INSERT INTO Orders VALUES (1, 'a', 1), (2, 'B', 5), (9, 'z', 9);");
  WorkOn("onlineshop.mdb");
  MergeIntoUpdate("Orders");
  EXPECT_EQ((Lines{
                "   REPLACE FIELD IN EXISTING RECORD Key=2 Field=Name b -> B",
                "   REPLACE FIELD IN EXISTING RECORD Key=2 Field=Qty 2 -> 5",
                " ADD/REPLACE RECORDS in Orders",
                "   ADD RECORD Key=ID ",
                "   ADD FIELD TO NEW RECORD ID:= 3",
                "   ADD FIELD TO NEW RECORD Name:= c",
                "   ADD FIELD TO NEW RECORD Qty:= 3",
                "   ADD RECORD Key=ID ",
                "   ADD FIELD TO NEW RECORD ID:= 4",
                "   ADD FIELD TO NEW RECORD Name:= d",
                "   ADD FIELD TO NEW RECORD Qty:= ",
            }),
            LogLines());
  EXPECT_EQ("1|a|1\n2|b|2\n3|c|3\n4|d|NULL\n9|z|9\n",
            QueryUpdate("SELECT * FROM Orders ORDER BY ID"));
}

TEST_F(RecordMergeTest, ReplacingOnlyWritesNoHeaderAndEqualRecordsWriteNothing) {
  OpenDatabases(std::string(kOrders) + "INSERT INTO Orders VALUES (1, 'a', 1), (2, 'b', 2);",
                std::string(kOrders) + "INSERT INTO Orders VALUES (1, 'a', 1), (2, 'b', 7);");
  WorkOn("onlineshop.mdb");
  MergeIntoUpdate("Orders");
  EXPECT_EQ((Lines{"   REPLACE FIELD IN EXISTING RECORD Key=2 Field=Qty 2 -> 7"}), LogLines());
  context_.WriteLog("second call");
  MergeIntoUpdate("Orders");
  EXPECT_EQ("second call", LogLines().back()) << "nothing left to do";
}

TEST_F(RecordMergeTest, EmptySourceTableChangesNothing) {
  OpenDatabases(kOrders, std::string(kOrders) + "INSERT INTO Orders VALUES (1, 'a', 1);");
  WorkOn("onlineshop.mdb");
  MergeIntoUpdate("Orders");
  EXPECT_EQ(Lines{}, LogLines());
  EXPECT_EQ("1|a|1\n", QueryUpdate("SELECT * FROM Orders"));
}

TEST_F(RecordMergeTest, EachCallWritesItsOwnHeader) {
  OpenDatabases(std::string(kOrders) + "INSERT INTO Orders VALUES (1, 'a', 1);", kOrders);
  WorkOn("onlineshop.mdb");
  MergeIntoUpdate("Orders");
  ASSERT_EQ(5u, LogLines().size());
  auto set = Existing().OpenRecordset("SELECT [ID], [Name], [Qty] FROM [Orders];");
  set->AddNew();
  set->Fields().Item(0).SetValue(2);
  set->Update();
  set->Close();
  MergeIntoUpdate("Orders");
  Lines lines = LogLines();
  ASSERT_EQ(10u, lines.size());
  EXPECT_EQ(" ADD/REPLACE RECORDS in Orders", lines[5]);
  EXPECT_EQ("   ADD FIELD TO NEW RECORD ID:= 2", lines[7]);
}

TEST_F(RecordMergeTest, SameNewKeyTwiceAddsOnceThenUpdatesThatRecord) {
  OpenDatabases("CREATE TABLE Version (DBVersion TEXT(20), Note TEXT(20));"
                "INSERT INTO Version VALUES ('5.1', 'old');",
                "CREATE TABLE Version (DBVersion TEXT(20), Note TEXT(20));"
                "INSERT INTO Version VALUES ('5.2', 'first'), ('5.2', 'second');");
  WorkOn("accounting.mdb");
  MergeIntoExisting("Version");
  EXPECT_EQ((Lines{
                " ADD/REPLACE RECORDS in Version",
                "   ADD RECORD Key=DBVersion ",
                "   ADD FIELD TO NEW RECORD DBVersion:= 5.2",
                "   ADD FIELD TO NEW RECORD Note:= first",
                "   REPLACE FIELD IN EXISTING RECORD Key=5.2 Field=Note second -> first",
            }),
            LogLines());
  EXPECT_EQ("5.1|old\n5.2|second\n", QueryExisting("SELECT * FROM Version ORDER BY DBVersion"));
}

// Into a table that was empty, new keys are added without a key query; a key
// that compares equal to one added before must still find that record, also
// in another letter case, and a key the target numbers itself must be looked
// up as the target stored it.
TEST_F(RecordMergeTest, KeyAddedTwiceToAnEmptyTableUpdatesTheFirstRecord) {
  struct Case {
    const char* columns;
    const char* rows;
    AutoNumbers numbers;
    Lines log;
    const char* table;
  };
  const Case cases[] = {
      {"ID TEXT(5), V TEXT(5)", "('ab', 'x'), ('c', 'y'), ('AB', 'z')", AutoNumbers::kGivenByTarget,
       {" ADD/REPLACE RECORDS in T", "   ADD RECORD Key=ID ", "   ADD FIELD TO NEW RECORD ID:= ab",
        "   ADD FIELD TO NEW RECORD V:= x", "   ADD RECORD Key=ID ",
        "   ADD FIELD TO NEW RECORD ID:= c", "   ADD FIELD TO NEW RECORD V:= y",
        "   REPLACE FIELD IN EXISTING RECORD Key=AB Field=ID AB -> ab",
        "   REPLACE FIELD IN EXISTING RECORD Key=AB Field=V z -> x"},
       "AB|z\nc|y\n"},
      {"ID COUNTER, V TEXT(5)", "(5, 'x'), (5, 'y')", AutoNumbers::kKeptFromSource,
       {" ADD/REPLACE RECORDS in T", "   ADD RECORD Key=ID ", "   ADD FIELD TO NEW RECORD ID:= 5",
        "   ADD FIELD TO NEW RECORD V:= x",
        "   REPLACE FIELD IN EXISTING RECORD Key=5 Field=V y -> x"},
       "5|y\n"},
      // The target numbers the first record 1, which the second one's key finds.
      {"ID COUNTER, V TEXT(5)", "(7, 'x'), (1, 'y')", AutoNumbers::kGivenByTarget,
       {" ADD/REPLACE RECORDS in T", "   ADD RECORD Key=ID ", "   ADD FIELD TO NEW RECORD V:= x",
        "   REPLACE FIELD IN EXISTING RECORD Key=1 Field=V y -> x"},
       "1|y\n"},
  };
  std::string existing, update;
  for (size_t i = 0; i < std::size(cases); ++i) {
    std::string create = "CREATE TABLE T" + std::to_string(i) + " (" + cases[i].columns + ");";
    existing += create;
    update += create + "INSERT INTO T" + std::to_string(i) + " VALUES " + cases[i].rows + ";";
  }
  OpenDatabases(existing, update);
  WorkOn("onlineshop.mdb");
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].rows);
    std::string table = "T" + std::to_string(i);
    size_t before = LogLines().size();
    MergeRecords(context_, Update(), Existing(), Update().TableDefs().Item(table),
                 Existing().TableDefs().Item(table), cases[i].numbers);
    Lines lines = LogLines();
    Lines expected = cases[i].log;
    expected.front() += std::to_string(i);  // the header names the table
    EXPECT_EQ(expected, Lines(lines.begin() + before, lines.end()));
  }
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(cases[i].table,
              QueryExisting("SELECT * FROM T" + std::to_string(i) + " ORDER BY rowid"));
  }
}

// Every key column type, merged once into an empty table (where the merge
// spares the key queries for keys it has not added) and once into a table
// that holds one unrelated record, with a Null key (where every record goes
// through its key query): both give the same log and the same records, as
// the key column compares the keys. A key column of numeric affinity (Memo
// declared "MEMO" alone) holds '00012' and '12' both as 12, so they are one
// key there; a Boolean key is True for any number but 0.
TEST_F(RecordMergeTest, EveryKeyTypeMergesAlikeIntoAnEmptyAndAFilledTable) {
  struct Case {
    const char* source_type;
    const char* target_type;
    const char* rows;   // (ID, V) of the source
    const char* table;  // quote(ID), V of the target afterwards, in rowid order
  };
  const Case cases[] = {
      {"TEXT(10)", "TEXT(10)", "('ab', 'x'), ('AB', 'y'), ('ab ', 'z')", "'AB'|y\n'ab '|z\n"},
      {"MEMO TEXT", "MEMO TEXT COLLATE NOCASE", "('00012', 'a'), ('12', 'b'), ('1e1', 'c')",
       "'00012'|a\n'12'|b\n'1e1'|c\n"},
      {"MEMO TEXT", "MEMO COLLATE NOCASE",
       "('00012', 'a'), ('12', 'b'), ('1.2E1', 'c'), (' 12 ', 'd'), ('x12', 'e')",
       "12|d\n'x12'|e\n"},
      {"TEXT(10)", "LONG", "('012', 'a'), ('12', 'b'), ('1e1', 'c')", "12|b\n10|c\n"},
      {"LONG", "COUNTER", "(7, 'x'), (1, 'y'), (1, 'z')", "1|z\n"},
      {"DOUBLE", "DOUBLE", "(1e-7, 'a'), (0.0000001, 'b'), (1e300, 'c')", "1.0e-07|b\n1.0e+300|c\n"},
      {"DATETIME", "DATETIME",
       "('2024-03-01 09:30:00', 'a'), ('2024-03-02 00:00:00', 'b'), ('2024-03-01 09:30:00', 'c')",
       "'2024-03-01 09:30:00'|c\n'2024-03-02 00:00:00'|b\n"},
      {"BIT", "BIT", "(1, 'a'), (0, 'b'), (-1, 'c'), (0, 'd')", "1|c\n0|d\n"},
      {"CURRENCY", "CURRENCY", "(12.5, 'a'), (0.1235, 'b'), (12.50, 'c')", "12.5|c\n0.1235|b\n"},
      // A Decimal key as the target's scale writes it.
      {"VARCHAR DECIMAL(10,2)", "VARCHAR DECIMAL(12,4)", "('12.50', 'a'), ('12.5', 'b'), ('-0.10', 'c')",
       "'12.5000'|b\n'-0.1000'|c\n"},
      // Keys that one double would hold alike.
      {"BIGINT LARGENUMBER", "BIGINT LARGENUMBER",
       "(9007199254740993, 'a'), (9007199254740992, 'b'), (9007199254740993, 'c')",
       "9007199254740993|c\n9007199254740992|b\n"},
      {"DATETIME", "DATETIME EXTENDED", "('2024-03-01 09:30:00', 'a'), ('2024-03-01 09:30:00', 'b')",
       "'2024-03-01 09:30:00.0000000'|b\n"},
  };
  std::string existing, update;
  for (size_t i = 0; i < std::size(cases); ++i) {
    std::string n = std::to_string(i);
    update += "CREATE TABLE T" + n + " (ID " + cases[i].source_type + ", V TEXT(5));" +
              "INSERT INTO T" + n + " VALUES " + cases[i].rows + ";";
    for (const char* target : {"Empty", "Filled"})
      existing += "CREATE TABLE " + std::string(target) + n + " (ID " + cases[i].target_type +
                  ", V TEXT(5));";
    existing += "INSERT INTO Filled" + n + " VALUES (NULL, 'other');";
  }
  OpenDatabases(existing, update);
  WorkOn("onlineshop.mdb");
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].target_type);
    std::string n = std::to_string(i);
    Lines logs[2];
    for (int filled = 0; filled < 2; ++filled) {
      size_t before = LogLines().size();
      EXPECT_NO_THROW(MergeRecords(context_, Update(), Existing(), Update().TableDefs().Item("T" + n),
                                   Existing().TableDefs().Item((filled ? "Filled" : "Empty") + n)));
      Lines lines = LogLines();
      logs[filled].assign(lines.begin() + before, lines.end());
    }
    EXPECT_EQ(logs[0], logs[1]);
  }
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].target_type);
    std::string n = std::to_string(i);
    EXPECT_EQ(cases[i].table, QueryExisting("SELECT quote(ID), V FROM Empty" + n + " ORDER BY rowid"));
    EXPECT_EQ(cases[i].table,
              QueryExisting("SELECT quote(ID), V FROM Filled" + n + " WHERE rowid > 1 ORDER BY rowid"));
  }
}

TEST_F(RecordMergeTest, OnlyFirstOfTwoTargetRecordsWithTheKeyIsUpdated) {
  OpenDatabases("CREATE TABLE T (ID LONG, V TEXT(5)); INSERT INTO T VALUES (1, 'new');",
                "CREATE TABLE T (ID LONG, V TEXT(5)); INSERT INTO T VALUES (1, 'a'), (1, 'b');");
  WorkOn("onlineshop.mdb");
  MergeIntoUpdate("T");
  EXPECT_EQ((Lines{"   REPLACE FIELD IN EXISTING RECORD Key=1 Field=V new -> a"}), LogLines());
  EXPECT_EQ("1|new\n1|b\n", QueryUpdate("SELECT * FROM T ORDER BY rowid"));
}

TEST_F(RecordMergeTest, AutoIncrementFieldIsNeitherCopiedNorReplaced) {
  OpenDatabases("CREATE TABLE T (Nr COUNTER, ID TEXT(5), V LONG);"
                "INSERT INTO T VALUES (7, 'a', 1), (8, 'b', 2);",
                "CREATE TABLE T (Nr COUNTER, ID TEXT(5), V LONG);"
                "INSERT INTO T VALUES (40, 'a', 5);");
  WorkOn("onlineshop.mdb");
  MergeIntoUpdate("T");
  EXPECT_EQ((Lines{
                "   REPLACE FIELD IN EXISTING RECORD Key=a Field=V 1 -> 5",
                " ADD/REPLACE RECORDS in T",
                "   ADD RECORD Key=ID ",
                "   ADD FIELD TO NEW RECORD ID:= b",
                "   ADD FIELD TO NEW RECORD V:= 2",
            }),
            LogLines());
  EXPECT_EQ("40|a|1\n41|b|2\n", QueryUpdate("SELECT * FROM T ORDER BY Nr"));
}

TEST_F(RecordMergeTest, NullSourceValueKeepsTargetAndFillsTargetNull) {
  OpenDatabases("CREATE TABLE T (ID LONG, A TEXT(5), B TEXT(5)); INSERT INTO T VALUES (1, NULL, 'x');",
                "CREATE TABLE T (ID LONG, A TEXT(5), B TEXT(5)); INSERT INTO T VALUES (1, 'keep', NULL);");
  WorkOn("onlineshop.mdb");
  MergeIntoUpdate("T");
  EXPECT_EQ((Lines{"   REPLACE FIELD IN EXISTING RECORD Key=1 Field=B x -> "}), LogLines());
  EXPECT_EQ("1|keep|x\n", QueryUpdate("SELECT * FROM T"));
}

TEST_F(RecordMergeTest, TextKeyIsFoundIgnoringCaseAndNumericKeyAgainstTextKey) {
  OpenDatabases("CREATE TABLE Layout (Label TEXT(20), id LONG);"
                "INSERT INTO Layout VALUES ('Main', 1), ('12', 2);",
                "CREATE TABLE Layout (Label TEXT(20), id LONG);"
                "INSERT INTO Layout VALUES ('MAIN', 5), ('12', 6);");
  WorkOn("config.mdb");
  MergeIntoUpdate("Layout");
  // In the layout table a differing id is replaced, and so is the label's case.
  EXPECT_EQ((Lines{
                "   REPLACE FIELD IN EXISTING RECORD Key=Main Field=Label Main -> MAIN",
                "   REPLACE FIELD IN EXISTING RECORD Key=Main Field=id 1 -> 5",
                "   REPLACE FIELD IN EXISTING RECORD Key=12 Field=id 2 -> 6",
            }),
            LogLines());
  EXPECT_EQ("Main|1\n12|2\n", QueryUpdate("SELECT * FROM Layout ORDER BY rowid"));
}

TEST_F(RecordMergeTest, ConfigurationKeepsItsDifferingIdInAnyLetterCase) {
  OpenDatabases("CREATE TABLE Configuration (Label TEXT(20), ID LONG, Value TEXT(20));"
                "INSERT INTO Configuration VALUES ('Port', 7, '2101'), ('Host', 8, 'h');",
                "CREATE TABLE Configuration (Label TEXT(20), iD LONG, Value TEXT(20));"
                "INSERT INTO Configuration VALUES ('Port', 9, '2102');");
  WorkOn("config.mdb");
  MergeIntoUpdate("Configuration");
  EXPECT_EQ((Lines{
                "   REPLACE FIELD IN EXISTING RECORD Key=Port Field=Value 2101 -> 2102",
                " ADD/REPLACE RECORDS in Configuration",
                "   ADD RECORD Key=Label ",
                "   ADD FIELD TO NEW RECORD Label:= Host",
                "   ADD FIELD TO NEW RECORD iD:= 8",
                "   ADD FIELD TO NEW RECORD Value:= h",
            }),
            LogLines());
  EXPECT_EQ("Port|9|2101\nHost|8|h\n", QueryUpdate("SELECT * FROM Configuration ORDER BY rowid"));
}

TEST_F(RecordMergeTest, LanguageIsKeyedOnIsocode) {
  OpenDatabases("CREATE TABLE Language (isocode TEXT(2), Name TEXT(20)); INSERT INTO Language VALUES ('de', 'Deutsch');",
                "CREATE TABLE Language (isocode TEXT(2), Name TEXT(20)); INSERT INTO Language VALUES ('de', 'German');");
  WorkOn("config.mdb");
  MergeIntoUpdate("Language");
  EXPECT_EQ((Lines{"   REPLACE FIELD IN EXISTING RECORD Key=de Field=Name Deutsch -> German"}),
            LogLines());
}

constexpr char kExistingStrings[] =
    "CREATE TABLE StringTable (ID LONG PRIMARY KEY, GER TEXT(50), ENG TEXT(50), Note TEXT(20),"
    " ReplaceRow BIT);"
    "INSERT INTO StringTable VALUES (12, 'Eigener Text', 'Own text', 'n1', 0),"
    " (13, 'Alt', 'Old', 'n2', 1), (14, 'Neu', 'New', 'n3', 1);";
constexpr char kUpdateStrings[] =
    "CREATE TABLE StringTable (ID TEXT(5) PRIMARY KEY, GER TEXT(50), ENG TEXT(50), Note TEXT(20),"
    " ReplaceRow BIT);"
    "INSERT INTO StringTable VALUES ('00012', 'Auslieferung', 'Release', 'r1', 1),"
    " ('00013', 'Auslieferung 13', 'Release 13', 'r2', 0);";

TEST_F(RecordMergeTest, StringTableKeepsProtectedTextsAndNeverReplacesReplaceRow) {
  OpenDatabases(kExistingStrings, kUpdateStrings);
  WorkOn("resource.mdb");
  MergeIntoUpdate("StringTable");
  EXPECT_EQ((Lines{
                // 00012 is protected by the target's ReplaceRow: only Note changes.
                "   REPLACE FIELD IN EXISTING RECORD Key=00012 Field=Note n1 -> r1",
                "   REPLACE FIELD IN EXISTING RECORD Key=00013 Field=GER Alt -> Auslieferung 13",
                "   REPLACE FIELD IN EXISTING RECORD Key=00013 Field=ENG Old -> Release 13",
                "   REPLACE FIELD IN EXISTING RECORD Key=00013 Field=Note n2 -> r2",
                " ADD/REPLACE RECORDS in StringTable",
                "   ADD RECORD Key=ID ",
                "   ADD FIELD TO NEW RECORD ID:= 00014",
                "   ADD FIELD TO NEW RECORD GER:= Neu",
                "   ADD FIELD TO NEW RECORD ENG:= New",
                "   ADD FIELD TO NEW RECORD Note:= n3",
                "   ADD FIELD TO NEW RECORD ReplaceRow:= True",
            }),
            LogLines());
  EXPECT_EQ("00012|Auslieferung|Release|n1|1\n00013|Alt|Old|n2|0\n00014|Neu|New|n3|1\n",
            QueryUpdate("SELECT * FROM StringTable ORDER BY ID"));
}

TEST_F(RecordMergeTest, StringTableProtectionComparesGerAndEngExactly) {
  OpenDatabases("CREATE TABLE StringTable (ID LONG, Ger TEXT(20), ENG TEXT(20));"
                "INSERT INTO StringTable VALUES (5, 'mein', 'mine');",
                "CREATE TABLE StringTable (ID TEXT(5), Ger TEXT(20), ENG TEXT(20), ReplaceRow BIT);"
                "INSERT INTO StringTable VALUES ('00005', 'neu', 'new', 1);");
  WorkOn("resource.mdb");
  MergeIntoUpdate("StringTable");
  EXPECT_EQ((Lines{"   REPLACE FIELD IN EXISTING RECORD Key=00005 Field=Ger mein -> neu"}),
            LogLines());
}

TEST_F(RecordMergeTest, StringTableTextKeyFindsNumericTargetKey) {
  OpenDatabases("CREATE TABLE StringTable (ID TEXT(5), GER TEXT(20), ReplaceRow BIT);"
                "INSERT INTO StringTable VALUES ('00012', 'neu', NULL);",
                "CREATE TABLE StringTable (ID LONG, GER TEXT(20), ReplaceRow BIT);"
                "INSERT INTO StringTable VALUES (12, 'alt', NULL);");
  WorkOn("resource.mdb");
  MergeIntoUpdate("StringTable");
  // A Null ReplaceRow protects nothing; the text key "00012" is no number, so
  // the two identifiers differ as texts and numbers.
  EXPECT_EQ((Lines{
                "   REPLACE FIELD IN EXISTING RECORD Key=00012 Field=ID 00012 -> 12",
                "   REPLACE FIELD IN EXISTING RECORD Key=00012 Field=GER neu -> alt",
            }),
            LogLines());
  EXPECT_EQ("12|neu|NULL\n", QueryUpdate("SELECT * FROM StringTable"));
}

TEST_F(RecordMergeTest, KeyWithQuoteIsFoundAndUpdatedAndLoggedAsItIs) {
  OpenDatabases("CREATE TABLE Layout (Label TEXT(30), Width LONG);"
                "INSERT INTO Layout VALUES ('Operator''s view', 2), ('x'' OR ''1''=''1', 3);",
                "CREATE TABLE Layout (Label TEXT(30), Width LONG);"
                "INSERT INTO Layout VALUES ('Operator''s view', 1), ('other', 9);");
  WorkOn("config.mdb");
  MergeIntoUpdate("Layout");
  Lines lines = LogLines();
  ASSERT_EQ(5u, lines.size());
  EXPECT_EQ("   REPLACE FIELD IN EXISTING RECORD Key=Operator's view Field=Width 2 -> 1", lines[0]);
  EXPECT_EQ("   ADD FIELD TO NEW RECORD Label:= x' OR '1'='1", lines[3]);
  EXPECT_EQ("Operator's view|2\nother|9\nx' OR '1'='1|3\n",
            QueryUpdate("SELECT * FROM Layout ORDER BY rowid"));
}

TEST_F(RecordMergeTest, TableWithoutKeyColumnFailsBeforeAnyChange) {
  OpenDatabases("CREATE TABLE T (Code TEXT(5), V LONG); INSERT INTO T VALUES ('a', 1);",
                "CREATE TABLE T (Code TEXT(5), V LONG);");
  WorkOn("onlineshop.mdb");
  EXPECT_EQ("table 'T' has no key column 'ID'", ExpectError(3265, [&] { MergeIntoUpdate("T"); }));
  EXPECT_EQ(Lines{}, LogLines());
  EXPECT_EQ("", QueryUpdate("SELECT * FROM T"));
}

TEST_F(RecordMergeTest, SourceColumnMissingInTargetFailsBeforeAnyRecord) {
  OpenDatabases(std::string(kOrders) + "INSERT INTO Orders VALUES (1, 'a', 1);",
                "CREATE TABLE Orders (ID LONG PRIMARY KEY, Name TEXT(20));");
  WorkOn("onlineshop.mdb");
  ExpectError(3061, [&] { MergeIntoUpdate("Orders"); });
  EXPECT_EQ(Lines{}, LogLines());
}

TEST_F(RecordMergeTest, NullKeyRaises94AfterEarlierRecordsWereSaved) {
  OpenDatabases(std::string(kOrders) + "INSERT INTO Orders VALUES (1, 'a', 1);"
                "CREATE TABLE Layout (Label TEXT(5), V LONG);"
                "INSERT INTO Layout VALUES ('a', 1), (NULL, 2), ('c', 3);",
                "CREATE TABLE Layout (Label TEXT(5), V LONG);");
  WorkOn("config.mdb");
  ExpectError(94, [&] { MergeIntoUpdate("Layout"); });
  EXPECT_EQ("a|1\n", QueryUpdate("SELECT * FROM Layout"));
}

TEST_F(RecordMergeTest, NegativeStringIdentifierFailsTheMerge) {
  OpenDatabases("CREATE TABLE StringTable (ID LONG, GER TEXT(5)); INSERT INTO StringTable VALUES (3, 'a'), (-3, 'b');",
                "CREATE TABLE StringTable (ID TEXT(5), GER TEXT(5), ReplaceRow BIT);");
  WorkOn("resource.mdb");
  ExpectError(5, [&] { MergeIntoUpdate("StringTable"); });
  EXPECT_EQ("00003|a|NULL\n", QueryUpdate("SELECT * FROM StringTable"));
}

TEST_F(RecordMergeTest, TextKeyForNumericKeyFieldRaises3464) {
  OpenDatabases("CREATE TABLE T (ID TEXT(20), V LONG); INSERT INTO T VALUES ('1 OR 1=1', 5);",
                "CREATE TABLE T (ID LONG, V LONG); INSERT INTO T VALUES (1, 1), (2, 2);");
  WorkOn("onlineshop.mdb");
  ExpectError(3464, [&] { MergeIntoUpdate("T"); });
  EXPECT_EQ("1|1\n2|2\n", QueryUpdate("SELECT * FROM T"));
}

// Keys whose text form has an exponent ("1e-07", "1e+300") are found and
// merged; a memo text that looks like a number arrives as written.
TEST_F(RecordMergeTest, ExponentKeysAreFoundAndMemoTextsKeptAsWritten) {
  const char* table = "CREATE TABLE T (ID DOUBLE PRIMARY KEY, M MEMO TEXT COLLATE NOCASE);";
  OpenDatabases(std::string(table) + "INSERT INTO T VALUES (1e-07, '007'), (1e300, '1e3'), (2.5, 'x');",
                std::string(table) + "INSERT INTO T VALUES (1e-07, 'old');");
  WorkOn("onlineshop.mdb");
  MergeIntoUpdate("T");
  EXPECT_EQ("   REPLACE FIELD IN EXISTING RECORD Key=1e-07 Field=M 007 -> old", LogLines().at(0));
  EXPECT_EQ("1.0e-07|'007'\n2.5|'x'\n1.0e+300|'1e3'\n",
            QueryUpdate("SELECT ID, quote(M) FROM T ORDER BY ID"));
}

TEST_F(RecordMergeTest, NameWithClosingBracketIsRefusedBeforeAnyQuery) {
  OpenDatabases("CREATE TABLE T (ID LONG, \"V] FROM T; --\" LONG); INSERT INTO T VALUES (1, 5);",
                "CREATE TABLE T (ID LONG, \"V] FROM T; --\" LONG);");
  WorkOn("onlineshop.mdb");
  EXPECT_EQ("'V] FROM T; --' isn't a valid name.", ExpectError(3125, [&] { MergeIntoUpdate("T"); }));
  EXPECT_EQ("", QueryUpdate("SELECT * FROM T"));
}

TEST_F(RecordMergeTest, TableAndColumnNamesWithBlanksAreQueried) {
  OpenDatabases("CREATE TABLE \"Zip Codes\" (ID LONG, \"Full Name\" TEXT(20)); INSERT INTO \"Zip Codes\" VALUES (1, 'x');",
                "CREATE TABLE \"Zip Codes\" (ID LONG, \"Full Name\" TEXT(20));");
  WorkOn("users.mdb");
  MergeIntoUpdate("Zip Codes");
  EXPECT_EQ(" ADD/REPLACE RECORDS in Zip Codes", LogLines().at(0));
  EXPECT_EQ("1|x\n", QueryUpdate("SELECT * FROM \"Zip Codes\""));
}

}  // namespace
}  // namespace tabsync::engine
