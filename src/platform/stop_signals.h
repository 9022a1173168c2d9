#ifndef TABSYNC_PLATFORM_STOP_SIGNALS_H_
#define TABSYNC_PLATFORM_STOP_SIGNALS_H_

#include <memory>

namespace tabsync::platform {

// The operator's request to stop a run (SIGINT: Ctrl-C; SIGTERM: kill, a
// shutdown), taken as a flag that the run looks at at its safe points.
//
// Abstract so that the logic can be tested with a fake; the real one is
// NewStopSignals() below.
class StopSignals {
 public:
  virtual ~StopSignals() = default;
  // From now on SIGINT and SIGTERM set the flag instead of ending the
  // program; the first one delivered also gives both back their default
  // action, so that a second one ends the program at once.
  virtual void Catch() = 0;
  // The number of the first signal caught; 0 while none came.
  virtual int Caught() const = 0;
};

// The process's own signals, caught by sigaction; the handler only stores
// the number. One for the whole process.
std::unique_ptr<StopSignals> NewStopSignals();

}  // namespace tabsync::platform

#endif  // TABSYNC_PLATFORM_STOP_SIGNALS_H_
