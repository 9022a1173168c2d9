#include "platform/stop_signals.h"

#include <signal.h>

namespace tabsync::platform {
namespace {

volatile sig_atomic_t caught_signal = 0;

// Async-signal-safe: one store and nothing else. SA_RESETHAND has given
// this signal its default back already.
void OnStopSignal(int signal) {
  if (caught_signal == 0) caught_signal = signal;
}

void SetAction(void (*handler)(int), int flags) {
  struct sigaction action = {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  sigaddset(&action.sa_mask, SIGINT);
  sigaddset(&action.sa_mask, SIGTERM);
  action.sa_flags = flags;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

class ProcessStopSignals : public StopSignals {
 public:
  // Each signal goes back to its default once delivered, so a second
  // Ctrl-C ends the program at once; the other one does too from the moment
  // the run has seen the first.
  void Catch() override { SetAction(OnStopSignal, SA_RESTART | SA_RESETHAND); }

  int Caught() const override {
    int signal = caught_signal;
    if (signal != 0) SetAction(SIG_DFL, 0);
    return signal;
  }
};

}  // namespace

std::unique_ptr<StopSignals> NewStopSignals() { return std::make_unique<ProcessStopSignals>(); }

}  // namespace tabsync::platform
