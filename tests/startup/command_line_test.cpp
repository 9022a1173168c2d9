#include "startup/command_line.h"

#include <string>
#include <vector>

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
}

TEST(ParseCommandLineTest, OptionsBeforeTheFolderAndTheirConflicts) {
  using Action = CommandLine::Action;
  struct Case {
    std::vector<std::string> arguments;
    Action action;
    std::string text;  // the argument text, or the problem of kWrong
    bool yes = false, dry_run = false, json = false;
    long long wait = 0;
  };
  const Case cases[] = {
      {{}, Action::kUpdate, ""},
      {{"DB"}, Action::kUpdate, "DB"},
      {{"my", "folder"}, Action::kUpdate, "my folder"},
      {{"-y", "--dry-run", "DB"}, Action::kUpdate, "DB", true, true},
      {{"--yes", "DB", "--status"}, Action::kUpdate, "DB --status", true},
      {{"--", "-h"}, Action::kUpdate, "-h"},
      {{"-y", "--", "--", "x"}, Action::kUpdate, "-- x", true},
      {{"-"}, Action::kUpdate, "-"},
      {{"DB", "-h"}, Action::kUpdate, "DB -h"},
      {{"-h"}, Action::kHelp, ""},
      {{"-h", "--help"}, Action::kHelp, ""},
      {{"--yes", "--help", "--bogus-after"}, Action::kWrong, "unknown option --bogus-after"},
      {{"--help", "-y"}, Action::kWrong, "--help takes no other option and no folder"},
      {{"--version", "DB"}, Action::kWrong, "--version takes no other option and no folder"},
      {{"--status"}, Action::kStatus, ""},
      {{"--status", "--json", "--status"}, Action::kStatus, "", false, false, true},
      {{"--restore"}, Action::kRestore, ""},
      {{"-y", "--restore", "20261208-090531"}, Action::kRestore, "20261208-090531", true},
      {{"-x"}, Action::kWrong, "unknown option -x"},
      {{"--yes=1"}, Action::kWrong, "unknown option --yes=1"},
      {{"--json"}, Action::kWrong, "--json goes with --status only"},
      {{"--json", "--restore"}, Action::kWrong, "--json goes with --status only"},
      {{"--dry-run", "--json"}, Action::kWrong, "--json goes with --status only"},
      {{"--status", "DB"}, Action::kWrong, "--status takes no folder"},
      {{"--status", "-y"}, Action::kWrong, "--status takes no other option than --json"},
      {{"--status", "--restore", "-y"}, Action::kWrong, "--status and --restore do not go together"},
      {{"--dry-run", "--summary", "DB"}, Action::kUpdate, "DB", false, true},
      {{"--summary", "DB"}, Action::kWrong, "--summary goes with --dry-run only"},
      {{"--summary", "--restore"}, Action::kWrong, "--summary goes with --dry-run only"},
      {{"--wait", "DB"}, Action::kUpdate, "DB", false, false, false, kWaitWithoutLimit},
      {{"--wait=90", "--restore"}, Action::kRestore, "", false, false, false, 90},
      {{"--wait=0", "--dry-run", "DB"}, Action::kUpdate, "DB", false, true, false, 0},
      {{"--wait=", "DB"}, Action::kWrong, "--wait takes a number of seconds: --wait="},
      {{"--wait=-1", "DB"}, Action::kWrong, "--wait takes a number of seconds: --wait=-1"},
      {{"--wait=1000000000"}, Action::kWrong, "--wait takes a number of seconds: --wait=1000000000"},
      {{"--wait", "--waiting"}, Action::kWrong, "unknown option --waiting"},
      {{"--status", "--wait"}, Action::kWrong, "--status takes no other option than --json"},
      {{"--version", "--wait=5"}, Action::kWrong, "--version takes no other option and no folder"},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const std::string& argument : c.arguments) shown += "[" + argument + "]";
    CommandLine line = ParseCommandLine(c.arguments);
    EXPECT_EQ(c.action, line.action) << shown;
    EXPECT_EQ(c.text, c.action == Action::kWrong ? line.problem : line.argument_text) << shown;
    if (c.action == Action::kWrong) continue;
    EXPECT_EQ(c.yes, line.yes) << shown;
    EXPECT_EQ(c.dry_run, line.dry_run) << shown;
    EXPECT_EQ(c.json, line.json) << shown;
    EXPECT_EQ(c.wait, line.wait_seconds) << shown;
    EXPECT_EQ(c.dry_run && c.arguments[1] == "--summary", line.summary) << shown;
  }
}

// Whatever their order: the last one used to win, so that
// `--status --restore -y` restored.
TEST(ParseCommandLineTest, EveryTwoActionOptionsAreRefused) {
  const std::vector<std::string> actions = {"--help", "--version", "--status", "--restore",
                                            "--dry-run"};
  for (const std::string& first : actions) {
    for (const std::string& second : actions) {
      if (first == second) continue;
      CommandLine line = ParseCommandLine({first, "-y", second});
      EXPECT_EQ(CommandLine::Action::kWrong, line.action) << first << " " << second;
      EXPECT_EQ(first + " and " + second + " do not go together", line.problem);
    }
  }
}

}  // namespace
}  // namespace tabsync::startup
