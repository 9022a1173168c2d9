#ifndef TABSYNC_TESTS_SUPPORT_FIXED_CLOCK_H_
#define TABSYNC_TESTS_SUPPORT_FIXED_CLOCK_H_

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

 private:
  platform::LocalTime now_;
  mutable long long milliseconds_ = 0;
  long long step_ = 0;
};

}  // namespace tabsync::test

#endif  // TABSYNC_TESTS_SUPPORT_FIXED_CLOCK_H_
