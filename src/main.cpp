// tabsync: merges a release's update information into the databases in use.
// The only place that builds the real platform objects.

#include <memory>

#include "dbengine/sqlite_engine.h"
#include "platform/console_user_interface.h"
#include "platform/gtk_user_interface.h"
#include "platform/odbc_ini_installer.h"
#include "platform/odbc_ini_store.h"
#include "platform/posix_file_system.h"
#include "platform/share_ini_store.h"
#include "platform/system_clock.h"
#include "startup/command_line.h"
#include "startup/main_flow.h"

namespace {

// Windows when a display is there and GTK starts; the console otherwise.
std::unique_ptr<tabsync::platform::UserInterface> OperatorInterface() {
  std::unique_ptr<tabsync::platform::UserInterface> ui = tabsync::platform::NewGtkUserInterface();
  return ui ? std::move(ui) : tabsync::platform::NewConsoleUserInterface();
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tabsync;
  std::unique_ptr<platform::FileSystem> files = platform::NewPosixFileSystem();
  std::unique_ptr<platform::RegistrationStore> registrations = platform::NewOdbcIniStore();
  std::unique_ptr<platform::OdbcInstaller> installer = platform::NewOdbcIniInstaller();
  std::unique_ptr<platform::SharedFilesStore> share = platform::NewShareIniStore();
  std::unique_ptr<platform::Clock> clock = platform::NewSystemClock();
  std::unique_ptr<dao::DatabaseEngine> db_engine = dao::NewSqliteEngine();
  std::unique_ptr<platform::UserInterface> ui = OperatorInterface();

  startup::MainPlatform platform{{*files, *registrations, *installer, *ui},
                                 *share,
                                 *clock,
                                 startup::EngineUpdateRun(*db_engine, *files, *registrations)};
  return startup::Main(platform, startup::JoinArguments(argc, argv));
}
