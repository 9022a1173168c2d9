// tabsync-import: converts Jet and ACE database files into tabsync's format.
// The only place that talks to the terminal.

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>

#include "import/command_line.h"
#include "import/importer.h"
#include "import/output_file.h"

namespace {

using tabsync::import::ImportReport;

// Notes on stdout, warnings and errors on stderr, each line prefixed with the
// source file's name; progress only when stderr is a terminal.
class ConsoleReport : public ImportReport {
 public:
  explicit ConsoleReport(bool terminal) : terminal_(terminal) {}

  void Start(const std::string& file) {
    file_ = file;
    last_progress_ = {};
  }
  void Note(const std::string& line) override {
    ClearProgress();
    std::cout << file_ << ": " << line << "\n";
  }
  void Warning(const std::string& line) override {
    ++warnings_;
    ClearProgress();
    std::cerr << "tabsync-import: " << file_ << ": warning: " << line << "\n";
  }
  void Error(const tabsync::Error& error) {
    ClearProgress();
    std::cout.flush();
    const std::string& text = error.Description();
    for (size_t start = 0; start <= text.size();) {
      size_t end = std::min(text.find('\n', start), text.size());
      std::cerr << "tabsync-import: " << file_ << ": error " << error.Number() << ": "
                << text.substr(start, end - start) << "\n";
      start = end + 1;
    }
  }
  void Progress(const std::string& table, int64_t records) override {
    if (!terminal_) return;
    auto now = std::chrono::steady_clock::now();
    if (now - last_progress_ < std::chrono::milliseconds(200)) return;
    last_progress_ = now;
    std::cerr << "\r\033[K" << file_ << ": table '" << table << "': " << records << " records" << std::flush;
    showing_ = true;
  }
  int warnings() const { return warnings_; }
  void ClearProgress() {
    if (!showing_) return;
    std::cerr << "\r\033[K" << std::flush;
    showing_ = false;
  }

 private:
  bool terminal_;
  bool showing_ = false;
  int warnings_ = 0;
  std::string file_;
  std::chrono::steady_clock::time_point last_progress_;
};

// A stopped import leaves no temporary file: it is removed, then the
// signal ends the program as it would have without the handler.
void OnStopSignal(int signal) {
  tabsync::import::RemoveTemporaryOutputInSignal();
  ::signal(signal, SIG_DFL);
  raise(signal);
}

// A signal the starter chose to ignore (nohup, a background job) stays
// ignored.
void HandleStopSignals() {
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction action = {};
    if (sigaction(signal, nullptr, &action) == 0 && action.sa_handler == SIG_IGN) continue;
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(signal, &action, nullptr);
  }
}

tabsync::import::ImportOptions OptionsOf(const tabsync::import::CommandLine& line) {
  tabsync::import::ImportOptions options;
  options.force = line.force;
  options.skip_unsupported = line.skip_unsupported;
  options.path_maps = line.path_maps;
  options.password = line.password;
  return options;
}

// The password of --password-file: the file's first line, without its line
// end. False, with the reason, when the file cannot be read.
bool ReadPasswordFile(tabsync::import::CommandLine* line, std::string* problem) {
  std::ifstream file(line->password_file, std::ios::binary);
  std::string password;
  if (!file || (!std::getline(file, password) && !file.eof())) {
    *problem = "cannot read the password file " + line->password_file + ": " + std::strerror(errno);
    return false;
  }
  if (!password.empty() && password.back() == '\r') password.pop_back();
  line->password = password;
  return true;
}

bool Convert(const std::string& source, const std::string& output, const std::string& shown,
             const tabsync::import::ImportOptions& options, ConsoleReport& report) {
  report.Start(shown);
  try {
    tabsync::import::ImportFile(source, output, options, report);
    report.ClearProgress();
    return true;
  } catch (const tabsync::Error& error) {
    report.Error(error);
    return false;
  }
}

int ConvertFolder(const tabsync::import::CommandLine& line, ConsoleReport& report) {
  std::vector<std::string> files;
  try {
    files = tabsync::import::DatabaseFilesIn(line.source);
    mkdir(line.output.c_str(), 0755);  // an existing folder is fine; a failure shows per file
  } catch (const tabsync::Error& error) {
    report.Start(line.source);
    report.Error(error);
    return 1;
  }
  int failed = 0;
  for (const std::string& name : files)
    if (!Convert(line.source + "/" + name, line.output + "/" + name, name, OptionsOf(line), report)) ++failed;
  std::cout << "converted " << files.size() - failed << " of " << files.size() << " files, " << report.warnings()
            << (report.warnings() == 1 ? " warning\n" : " warnings\n");
  return failed == 0 ? 0 : 1;
}

// A converted file whose lines did not reach standard output still counts
// as a failure: a script reading them must not take a cut-off list for all.
int WithOutputChecked(int status) {
  errno = 0;
  std::cout.flush();
  if (std::cout.good() && std::fflush(stdout) == 0 && !std::ferror(stdout)) return status;
  std::cerr << "tabsync-import: cannot write standard output"
            << (errno != 0 ? std::string(": ") + std::strerror(errno) : std::string()) << "\n";
  return status == 0 ? 1 : status;
}

int Run(int argc, char** argv) {
  using tabsync::import::CommandLine;
  CommandLine line = tabsync::import::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  switch (line.action) {
    case CommandLine::Action::kHelp: std::cout << tabsync::import::UsageText(); return 0;
    case CommandLine::Action::kVersion: std::cout << "tabsync-import " TABSYNC_VERSION "\n"; return 0;
    case CommandLine::Action::kWrong:
      std::cerr << "tabsync-import: " << line.problem << "\n" << tabsync::import::UsageText();
      return 2;
    default: break;
  }
  std::string problem;
  if (!line.password_file.empty() && !ReadPasswordFile(&line, &problem)) {
    std::cerr << "tabsync-import: " << problem << "\n";
    return 2;
  }
  HandleStopSignals();
  ConsoleReport report(isatty(STDERR_FILENO));
  if (line.action == CommandLine::Action::kFolder) return ConvertFolder(line, report);
  std::string shown = line.source.substr(line.source.rfind('/') + 1);
  return Convert(line.source, line.output, shown, OptionsOf(line), report) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) { return WithOutputChecked(Run(argc, argv)); }
