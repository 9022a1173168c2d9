#include "startup/site_tools.h"

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
                                                const std::string& location) {
  if (!EnsureDatabaseFolders(platform, location)) return nullptr;
  std::string path = location + install::kDatabaseSubfolder + kLockFileName;
  std::unique_ptr<platform::FileLock> lock;
  try {
    lock = platform.files.TryLockFile(path);
  } catch (const Error& error) {
    install::ShowCritical(platform.ui, "Cannot lock the database folder:\r\n\r\n" + path +
                                           "\r\n\r\n" + install::ErrorLine(error) + "\r\n\r\n" +
                                           kCanceled);
    return nullptr;
  }
  if (lock) return lock;
  install::ShowCritical(platform.ui,
                        "Another update of the Korvane databases is running; it holds the "
                        "lock file:\r\n\r\n" +
                            path + "\r\n\r\n" + kCanceled);
  return nullptr;
}

bool RunLockHeld(platform::FileSystem& files, const std::string& sharedFolder) {
  std::string path = sharedFolder + kLockFileName;
  if (!files.FileExists(path)) return false;
  try {
    return files.TryLockFile(path) == nullptr;
  } catch (const Error&) {
    return false;  // a lock nobody can take is held by nobody either
  }
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

void SettleDatabase(dao::DatabaseEngine& engine, const std::string& path) {
  engine.OpenDatabase(path, dao::kOpenDiscardChanges)->Close();
}

}  // namespace tabsync::startup
