#include "platform/ini_file.h"

#include <optional>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

namespace tabsync::platform {
namespace {

// The value ReadIniValue gives, or nothing when it reports not found.
std::optional<std::string> Read(std::string_view text, std::string_view section,
                                std::string_view key) {
  std::string value;
  if (!ReadIniValue(text, section, key, &value)) return std::nullopt;
  return value;
}

TEST(IniFileTest, ValueOfKeyInSectionIsRead) {
  EXPECT_EQ(Read("[Accounting]\nDBQ=/data/accounting.mdb\n", "Accounting", "DBQ"),
            "/data/accounting.mdb");
}

TEST(IniFileTest, KeyLineIndentedByBlanksIsIgnored) {
  EXPECT_EQ(Read("[Accounting]\n  dbq = /x\n", "Accounting", "DBQ"), std::nullopt);
}

TEST(IniFileTest, KeyLineIndentedByTabIsIgnored) {
  EXPECT_EQ(Read("[Accounting]\n\tDBQ=/x\n", "Accounting", "DBQ"), std::nullopt);
}

TEST(IniFileTest, KeyLineNotStartingWithLetterOrDigitIsIgnored) {
  EXPECT_EQ(Read("[A]\n_DBQ=/u\n", "A", "_DBQ"), std::nullopt);
  EXPECT_EQ(Read("[A]\n\rDBQ=/r\n", "A", "DBQ"), std::nullopt);
  EXPECT_EQ(Read("[A]\n=v\n", "A", ""), std::nullopt);
  EXPECT_EQ(Read("[A]\n9DBQ=/n\n", "A", "9dbq"), "/n");
}

TEST(IniFileTest, VerticalTabAndFormFeedAreTrimmed) {
  EXPECT_EQ(Read("[A]\nDBQ=/q\v\f\n", "A", "DBQ"), "/q");
}

TEST(IniFileTest, IndentedKeyLineDoesNotHideALaterKeyLine) {
  EXPECT_EQ(Read("[A]\n  DBQ=/x\nDBQ=/y\n", "A", "DBQ"), "/y");
}

TEST(IniFileTest, KeyAndValueAreTrimmed) {
  EXPECT_EQ(Read("[A]\ndbq   =   /b   \n", "A", "dbq"), "/b");
  EXPECT_EQ(Read("[A]\nDBQ\t=\t/t\t\n", "A", "DBQ"), "/t");
}

TEST(IniFileTest, KeyNameIgnoresCase) {
  EXPECT_EQ(Read("[A]\nDbQ=/c\n", "A", "DBQ"), "/c");
  EXPECT_EQ(Read("[A]\nDbQ=/c\n", "A", "dbq"), "/c");
}

TEST(IniFileTest, KeyMustMatchTheWholeName) {
  EXPECT_EQ(Read("[A]\nDBQX=/x\nDB=/y\n", "A", "DBQ"), std::nullopt);
}

TEST(IniFileTest, ValueIsSplitAtFirstEqualsSign) {
  EXPECT_EQ(Read("[A]\nDBQ=/a=b;c#d\n", "A", "DBQ"), "/a=b;c#d");
}

TEST(IniFileTest, SemicolonInsideValueStartsNoComment) {
  EXPECT_EQ(Read("[A]\nDBQ=/i ; trailing\n", "A", "DBQ"), "/i ; trailing");
}

TEST(IniFileTest, QuotesAroundValueAreKept) {
  EXPECT_EQ(Read("[A]\nDBQ = \"/q\" \n", "A", "DBQ"), "\"/q\"");
}

TEST(IniFileTest, ValueOfAnyLengthIsReadWhole) {
  std::string path = "/" + std::string(2000, 'p');
  EXPECT_EQ(Read("[A]\nDBQ=" + path + "\n", "A", "DBQ"), path);
}

TEST(IniFileTest, KeyWithoutEqualsSignHasEmptyValue) {
  EXPECT_EQ(Read("[A]\nDBQ\n", "A", "DBQ"), "");
}

TEST(IniFileTest, KeyWithNothingAfterEqualsSignHasEmptyValue) {
  EXPECT_EQ(Read("[A]\nDBQ=\n", "A", "DBQ"), "");
  EXPECT_EQ(Read("[A]\nDBQ =  \n", "A", "DBQ"), "");
}

TEST(IniFileTest, FirstLineOfAKeyWins) {
  EXPECT_EQ(Read("[A]\nDBQ=/1\nDBQ=/2\n", "A", "DBQ"), "/1");
}

TEST(IniFileTest, SectionNameIsTrimmedAndIgnoresCase) {
  std::string_view text = "[ users ]\nDBQ=/u\n";
  EXPECT_EQ(Read(text, "users", "DBQ"), "/u");
  EXPECT_EQ(Read(text, "Users", "DBQ"), "/u");
  EXPECT_EQ(Read(text, "USERS", "DBQ"), "/u");
}

TEST(IniFileTest, SectionMustMatchTheWholeName) {
  EXPECT_EQ(Read("[Accounting2]\nDBQ=/x\n", "Accounting", "DBQ"), std::nullopt);
}

TEST(IniFileTest, TextAfterClosingBracketIsIgnored) {
  std::string_view text = "[E] trailing\nDBQ=/e\n";
  EXPECT_EQ(Read(text, "E", "DBQ"), "/e");
  EXPECT_EQ(Read(text, "E] trailing", "DBQ"), std::nullopt);
}

TEST(IniFileTest, SectionWithoutClosingBracketRunsToLineEnd) {
  EXPECT_EQ(Read("[F\nDBQ=/f\n", "F", "DBQ"), "/f");
}

TEST(IniFileTest, SectionEndsAtNextSection) {
  EXPECT_EQ(Read("[A]\nUID=u\n[B]\nDBQ=/b\n", "A", "DBQ"), std::nullopt);
  EXPECT_EQ(Read("[A]\n[B]\nDBQ=/b\n", "A", "DBQ"), std::nullopt);
}

TEST(IniFileTest, OnlyFirstSectionOfANameIsConsulted) {
  std::string_view text = "[D]\nUID=x\n[D]\nDBQ=/d\n";
  EXPECT_EQ(Read(text, "D", "DBQ"), std::nullopt);
  EXPECT_EQ(Read(text, "D", "UID"), "x");
}

TEST(IniFileTest, MissingSectionIsNotFound) {
  EXPECT_EQ(Read("[A]\nDBQ=/a\n", "B", "DBQ"), std::nullopt);
}

TEST(IniFileTest, CrLfLineEndsAreTrimmed) {
  std::string_view text = "[A]\r\nDBQ=/r\r\n[B]\r\nDBQ=/s\r\n";
  EXPECT_EQ(Read(text, "A", "DBQ"), "/r");
  EXPECT_EQ(Read(text, "B", "DBQ"), "/s");
}

TEST(IniFileTest, BlankLinesAreSkippedAnywhere) {
  EXPECT_EQ(Read("\n  \n\t\n[A]\n\n   \n\t\nDBQ=/w\n", "A", "DBQ"), "/w");
}

TEST(IniFileTest, CommentLinesAreSkipped) {
  std::string_view text = "# top\n; top\n  # indented\n[A]\n# DBQ=/hash\n; DBQ=/semi\nDBQ=/c\n";
  EXPECT_EQ(Read(text, "A", "DBQ"), "/c");
}

TEST(IniFileTest, LineBeforeFirstSectionMakesFileUnreadable) {
  EXPECT_EQ(Read("junk\n[A]\nDBQ=/a\n", "A", "DBQ"), std::nullopt);
  EXPECT_EQ(Read("DBQ=/x\n[A]\nDBQ=/a\n", "A", "DBQ"), std::nullopt);
}

TEST(IniFileTest, IndentedSectionLineBeforeFirstSectionMakesFileUnreadable) {
  std::string_view text = "  [G]\nDBQ=/g\n[A]\nDBQ=/a\n";
  EXPECT_EQ(Read(text, "A", "DBQ"), std::nullopt);
  EXPECT_EQ(Read(text, "G", "DBQ"), std::nullopt);
}

TEST(IniFileTest, IndentedSectionLineInsideSectionIsIgnored) {
  std::string_view text = "[A]\n  [B]\nDBQ=/b\n";
  EXPECT_EQ(Read(text, "A", "DBQ"), "/b");
  EXPECT_EQ(Read(text, "B", "DBQ"), std::nullopt);
}

TEST(IniFileTest, LastLineWithoutNewlineIsRead) {
  EXPECT_EQ(Read("[A]\nDBQ=/l", "A", "DBQ"), "/l");
}

TEST(IniFileTest, TextWithoutSectionHoldsNothing) {
  EXPECT_EQ(Read("", "A", "DBQ"), std::nullopt);
  EXPECT_EQ(Read("# only a comment\n", "A", "DBQ"), std::nullopt);
}

TEST(IniFileTest, ValueIsUntouchedWhenNotFound) {
  std::string value = "kept";
  EXPECT_FALSE(ReadIniValue("[A]\nUID=u\n", "A", "DBQ", &value));
  EXPECT_FALSE(ReadIniValue("junk\n[A]\nDBQ=/a\n", "A", "DBQ", &value));
  EXPECT_EQ(value, "kept");
}

}  // namespace
}  // namespace tabsync::platform
