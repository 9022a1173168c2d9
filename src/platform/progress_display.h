#ifndef TABSYNC_PLATFORM_PROGRESS_DISPLAY_H_
#define TABSYNC_PLATFORM_PROGRESS_DISPLAY_H_

#include <memory>
#include <string>

namespace tabsync::platform {

// Shows a person the progress of a long run; it never asks anything and
// never waits. The run tells it as it goes; each implementation decides how
// often it redraws, so the calls are cheap.
//
// Abstract so that the logic can be tested against a fake; the real ones are
// NewTerminalProgress() below and NewGtkProgressWindow() (gtk_user_interface.h).
class ProgressDisplay {
 public:
  virtual ~ProgressDisplay() = default;

  // The run begins database `number` (from 1) of `count`, named `name`.
  virtual void StartDatabase(int number, int count, const std::string& name) = 0;
  // A record merge into `table` has gone through `records` records so far.
  virtual void MergedRecords(const std::string& table, long long records) = 0;
  // The run is over: what shows the progress goes.
  virtual void Finish() = 0;
};

// Shows nothing.
std::unique_ptr<ProgressDisplay> NewNoProgress();

// One line on the terminal of descriptor `fd` (standard error), rewritten in
// place: "tabsync: config.mdb (3/6)", during a long merge followed by
// ": Stations, 12000 records"; redrawn at most ten times a second, and
// cleared at Finish. The caller decides that `fd` is a terminal.
std::unique_ptr<ProgressDisplay> NewTerminalProgress(int fd);

}  // namespace tabsync::platform

#endif  // TABSYNC_PLATFORM_PROGRESS_DISPLAY_H_
