#include "startup/command_line.h"

#include <gtest/gtest.h>

namespace tabsync::startup {
namespace {

TEST(JoinArgumentsTest, ArgumentsAreJoinedBySingleBlanks) {
  const char* split[] = {"tabsync", "my", "folder"};
  const char* quoted[] = {"tabsync", "my folder"};
  EXPECT_EQ("my folder", JoinArguments(3, split));
  EXPECT_EQ("my folder", JoinArguments(2, quoted));
  const char* alone[] = {"tabsync"};
  EXPECT_EQ("", JoinArguments(1, alone));
  const char* blanks[] = {"tabsync", " a ", "", "b"};
  EXPECT_EQ(" a   b", JoinArguments(4, blanks));
}

TEST(GetCommandLineFolderTest, QuotesAndTabsAreRemovedWhereverTheyStand) {
  EXPECT_EQ("DB", GetCommandLineFolder("\"DB\""));
  EXPECT_EQ("/srv/my folder/DB", GetCommandLineFolder("\"/srv/my\" folder\t/DB"));
  EXPECT_EQ("", GetCommandLineFolder("\"\"\t"));
}

TEST(GetCommandLineFolderTest, BlanksAndLetterCaseAreKept) {
  EXPECT_EQ("  My DB  ", GetCommandLineFolder("  My DB  "));
  EXPECT_EQ("-h", GetCommandLineFolder("-h"));
}

}  // namespace
}  // namespace tabsync::startup
