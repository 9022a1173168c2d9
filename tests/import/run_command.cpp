#include "import/run_command.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "support/temp_dir.h"

namespace tabsync::test {

CommandResult RunCommand(const std::vector<std::string>& argv, const CommandSetting& setting) {
  TempDir io;
  {
    std::ofstream(io.File("in"), std::ios::binary) << setting.input;
  }
  pid_t child = fork();
  if (child == 0) {
    if (!setting.folder.empty() && chdir(setting.folder.c_str()) != 0) _exit(126);
    dup2(open(io.File("in").c_str(), O_RDONLY), 0);
    dup2(open(io.File("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
    dup2(open(io.File("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    if (!setting.environment.empty()) {
      std::vector<char*> envp;
      for (const std::string& entry : setting.environment) envp.push_back(const_cast<char*>(entry.c_str()));
      envp.push_back(nullptr);
      execve(args[0], args.data(), envp.data());
      _exit(127);
    }
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  CommandResult result;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = ReadFileBytes(io.File("out"));
  result.err = ReadFileBytes(io.File("err"));
  return result;
}

CommandResult RunImport(const std::vector<std::string>& arguments) {
  std::vector<std::string> argv = {TABSYNC_IMPORT_PROGRAM};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return RunCommand(argv);
}

std::string ImportData(const std::string& name) { return std::string(TABSYNC_IMPORT_DATA) + name; }

}  // namespace tabsync::test
