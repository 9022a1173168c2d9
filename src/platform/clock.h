#ifndef TABSYNC_PLATFORM_CLOCK_H_
#define TABSYNC_PLATFORM_CLOCK_H_

namespace tabsync::platform {

// A moment on the local clock, as the log prints it.
struct LocalTime {
  int year = 0;    // four digits
  int month = 0;   // 1 to 12
  int day = 0;     // 1 to 31
  int hour = 0;    // 0 to 23
  int minute = 0;  // 0 to 59
  int second = 0;  // 0 to 60

  bool operator==(const LocalTime&) const = default;
};

// The local clock. Abstract so that tests can fix the time; the real one is
// NewSystemClock() in system_clock.h.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalTime Now() const = 0;
  // Milliseconds since some fixed moment, never going back: for durations.
  virtual long long MonotonicMilliseconds() const = 0;
  // Waits about that many milliseconds (a waiting loop's pause).
  virtual void Sleep(long long milliseconds) const = 0;
};

}  // namespace tabsync::platform

#endif  // TABSYNC_PLATFORM_CLOCK_H_
