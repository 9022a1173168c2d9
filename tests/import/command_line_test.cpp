#include "import/command_line.h"

#include <gtest/gtest.h>

namespace tabsync::import {
namespace {

using Action = CommandLine::Action;

TEST(ImportCommandLineTest, ReadsFilesFoldersAndOptions) {
  CommandLine line = ParseCommandLine({"--force", "--path-map", "C:\\K\\=/srv/k/", "--path-map=D:\\=/d/",
                                       "--skip-unsupported", "in.mdb", "out.mdb"});
  EXPECT_EQ(Action::kFile, line.action);
  EXPECT_TRUE(line.force && line.skip_unsupported);
  ASSERT_EQ(2u, line.path_maps.size());
  EXPECT_EQ("/d/", line.path_maps[1].to);
  EXPECT_EQ("in.mdb", line.source);
  line = ParseCommandLine({"--folder", "DB", "out"});
  EXPECT_EQ(Action::kFolder, line.action);
  EXPECT_FALSE(line.force);
  EXPECT_EQ(Action::kHelp, ParseCommandLine({"in.mdb", "--help"}).action);
  EXPECT_EQ(Action::kVersion, ParseCommandLine({"--version"}).action);
  EXPECT_EQ("-x.mdb", ParseCommandLine({"--", "-x.mdb", "out"}).source);
  EXPECT_EQ("p w", ParseCommandLine({"--password", "p w", "in.mdb", "out"}).password.value_or(""));
  EXPECT_EQ("secret.txt", ParseCommandLine({"in.mdb", "--password-file", "secret.txt", "out"}).password_file);
}

TEST(ImportCommandLineTest, WrongArgumentsSayWhatIsWrong) {
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{}, "give a source file and an output file"},
      {{"a.mdb"}, "give a source file and an output file"},
      {{"--folder", "a", "b", "c"}, "give a source folder and an output folder"},
      {{"--fast", "a", "b"}, "unknown option --fast"},
      {{"--path-map", "nothing", "a", "b"}, "--path-map needs 'FROM=TO', not 'nothing'"},
      {{"a", "b", "--path-map"}, "--path-map needs 'FROM=TO', not ''"},
      {{"a", "b", "--password"}, "--password needs a value"},
      {{"--password", "x", "--password-file", "f", "a", "b"}, "give one --password or --password-file"},
      {{"--password-file", "", "a", "b"}, "--password-file needs a file"},
  };
  for (const auto& [arguments, problem] : cases) {
    CommandLine line = ParseCommandLine(arguments);
    EXPECT_EQ(Action::kWrong, line.action);
    EXPECT_EQ(problem, line.problem);
  }
}

}  // namespace
}  // namespace tabsync::import
