#ifndef TABSYNC_TESTS_SUPPORT_FIXED_CLOCK_H_
#define TABSYNC_TESTS_SUPPORT_FIXED_CLOCK_H_

#include <functional>
#include <utility>

#include "platform/clock.h"

namespace tabsync::test {

// A clock that shows whatever time the test sets.
class FixedClock : public platform::Clock {
 public:
  explicit FixedClock(platform::LocalTime now) : now_(now) {}
  platform::LocalTime Now() const override { return now_; }
  void Set(platform::LocalTime now) { now_ = now; }
  // Each reading goes `step` milliseconds on from the last.
  long long MonotonicMilliseconds() const override { return milliseconds_ += step_; }
  void SetStep(long long step) { step_ = step; }
  // A pause moves the monotonic clock on by its length, then calls the
  // test's hook (set by OnSleep) with the number of the pause (from 1).
  void Sleep(long long milliseconds) const override {
    milliseconds_ += milliseconds;
    if (on_sleep_) on_sleep_(++sleeps_);
  }
  void OnSleep(std::function<void(int)> hook) { on_sleep_ = std::move(hook); }

 private:
  std::function<void(int)> on_sleep_;
  mutable int sleeps_ = 0;
  platform::LocalTime now_;
  mutable long long milliseconds_ = 0;
  long long step_ = 0;
};

}  // namespace tabsync::test

#endif  // TABSYNC_TESTS_SUPPORT_FIXED_CLOCK_H_
