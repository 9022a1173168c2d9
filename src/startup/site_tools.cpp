#include "startup/site_tools.h"

#include <algorithm>
#include <cstdio>
#include <ostream>

#include "install/backup_history.h"
#include "install/relocation.h"
#include "install/shared_files_location.h"

namespace tabsync::startup {
namespace {

constexpr char kCanceled[] = "Update of information DB's canceled.";

// The text with each control character shown as "?", for a message.
std::string Printable(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
  return text;
}

// Who holds the lock is only for --status and a waiting run to show: a record
// that cannot be written (a lock file this user may only read, a full disk)
// leaves the lock as it is.
void RecordHolder(platform::FileLock& lock, const platform::Clock& clock,
                  const RunLockOptions& options) {
  if (!options.record_holder) return;
  try {
    lock.RecordHolder(TimeText(clock.Now()));
  } catch (const Error&) {
  }
}

}  // namespace

bool ReadLocation(const platform::SharedFilesStore& share, platform::UserInterface& ui,
                  std::string* result) {
  std::string location;
  if (!install::GetSharedFilesLocation(share, &location)) {
    install::ShowCritical(ui, "Korvane Common Files folder NOT registered:\r\n\r\n" + location +
                                  "\r\n\r\nCannot install databases.");
    return false;
  }
  if (!install::IsUsableLocation(location)) {
    // A relative location would put the databases below the current directory.
    install::ShowCritical(ui, "Korvane Common Files folder NOT registered:\r\n\r\n" +
                                  Printable(location) + "\r\n\r\nThe SharedFilesLocation of " +
                                  share.Source() +
                                  " is no absolute folder path.\r\n\r\n"
                                  "Cannot install databases.");
    return false;
  }
  *result = location;
  return true;
}

bool CheckRegistrations(const install::InstallPlatform& platform, const std::string& ending) {
  std::string cause = platform.registrations.UnreadableCause();
  if (cause.empty()) return true;
  install::ShowCritical(platform.ui, "Cannot read the ODBC data sources:\r\n\r\n" +
                                         platform.registrations.Source() + " is " + cause + "." +
                                         (ending.empty() ? "" : "\r\n\r\n" + ending));
  return false;
}

bool EnsureDatabaseFolders(const install::InstallPlatform& platform, const std::string& location) {
  try {
    install::CreateDatabaseFolders(platform.files, location);
    return true;
  } catch (const Error& error) {
    install::ShowCritical(platform.ui, "Cannot create the database folder:\r\n\r\n" + location +
                                           install::kDatabaseSubfolder + "\r\n\r\n" +
                                           install::ErrorLine(error) + "\r\n\r\n" + kCanceled);
    return false;
  }
}

// The lock is a kernel lock on a file that stays in the folder: a run that
// dies drops it.
std::unique_ptr<platform::FileLock> TakeRunLock(const install::InstallPlatform& platform,
                                                const platform::Clock& clock,
                                                const std::string& location,
                                                const RunLockOptions& options, std::ostream* err) {
  if (!EnsureDatabaseFolders(platform, location)) return nullptr;
  std::string folder = location + install::kDatabaseSubfolder;
  std::string path = folder + kLockFileName;
  std::unique_ptr<platform::FileLock> lock;
  long long start = clock.MonotonicMilliseconds();
  bool told = false;
  try {
    while (!(lock = platform.files.TryLockFile(path))) {
      long long left = options.wait_seconds * 1000 - (clock.MonotonicMilliseconds() - start);
      if (options.wait_seconds != kWaitWithoutLimit && left <= 0) break;
      if (err != nullptr && !told) {
        *err << "tabsync: waiting for the run lock " << path << " ("
             << HolderText(ReadRunLock(platform.files, folder)) << ")\n" << std::flush;
        told = true;
      }
      clock.Sleep(options.wait_seconds == kWaitWithoutLimit ? 250 : std::min(250LL, left));
    }
  } catch (const Error& error) {
    install::ShowCritical(platform.ui, "Cannot lock the database folder:\r\n\r\n" + path +
                                           "\r\n\r\n" + install::ErrorLine(error) + "\r\n\r\n" +
                                           kCanceled);
    return nullptr;
  }
  if (lock) {
    RecordHolder(*lock, clock, options);
    return lock;
  }
  install::ShowCritical(platform.ui,
                        "Another update of the Korvane databases is running; it holds the "
                        "lock file:\r\n\r\n" +
                            path + "\r\n\r\n" + kCanceled);
  return nullptr;
}

RunLockState ReadRunLock(platform::FileSystem& files, const std::string& sharedFolder) {
  std::string path = sharedFolder + kLockFileName;
  RunLockState state;
  if (!files.FileExists(path)) return state;
  try {
    state.held = files.TryLockFile(path) == nullptr;
  } catch (const Error&) {
    return state;  // a lock nobody can take is held by nobody either
  }
  if (!state.held) return state;
  try {
    state.holder_known = platform::ParseLockHolder(files.ReadFile(path), &state.holder);
  } catch (const Error&) {
    // A lock file that may not be read names no holder.
  }
  return state;
}

std::string HolderText(const RunLockState& state) {
  if (!state.holder_known) return "holder not recorded";
  return "pid " + std::to_string(state.holder.pid) + ", started " + state.holder.started;
}

std::string AlignedColumns(const std::vector<std::vector<std::string>>& rows) {
  std::vector<size_t> widths;
  for (const auto& row : rows) {
    widths.resize(std::max(widths.size(), row.size()));
    for (size_t i = 0; i + 1 < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  }
  std::string text;
  for (const auto& row : rows) {
    std::string line;
    for (size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line += std::string(widths[i] - row[i].size() + 2, ' ');
    }
    text += line + "\n";
  }
  return text;
}

std::string SizeText(long long bytes) {
  if (bytes < 1000) return std::to_string(bytes) + " B";
  const char* units[] = {"KiB", "MiB", "GiB", "TiB"};
  double value = static_cast<double>(bytes) / 1024;
  int unit = 0;
  for (; value >= 999.95 && unit < 3; ++unit) value /= 1024;
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
  return text;
}

void ShowNoAnswer(platform::UserInterface& ui, const std::string& nothingDone,
                  const std::string& unattended) {
  install::ShowCritical(ui, "No answer to the question: the input ended (no terminal, no "
                            "display).\r\n\r\n" +
                                nothingDone +
                                " To run unattended, answering Yes to every question, use"
                                "\r\n\r\n  '" +
                                unattended + "'");
}

const char* ProgramVersion() { return TABSYNC_VERSION; }

int KeptUpdateRuns(const platform::SharedFilesStore& share) {
  std::string text;
  if (!share.ReadSetting(kKeptUpdateRunsKey, &text) || text.empty() || text.size() > 4 ||
      text.find_first_not_of("0123456789") != std::string::npos)
    return install::kBackupRunsKept;
  int count = std::stoi(text);
  return count >= 1 && count <= install::kMaxBackupRunsKept ? count : install::kBackupRunsKept;
}

int ExitStatusOfSignal(int signal) { return 128 + signal; }

void SettleDatabase(dao::DatabaseEngine& engine, const std::string& path) {
  engine.OpenDatabase(path, dao::kOpenDiscardChanges)->Close();
}

}  // namespace tabsync::startup
