#include "platform/system_clock.h"

#include <time.h>

namespace tabsync::platform {

namespace {

class SystemClock : public Clock {
 public:
  // localtime_r, unlike localtime, need not read the time zone itself.
  SystemClock() { tzset(); }

  LocalTime Now() const override {
    time_t now = time(nullptr);
    // A run logs many lines a second; the conversion is done once a second.
    if (now == last_second_) return last_local_;
    struct tm local = {};
    // Fails only for a time beyond the range of a year in an int; the zeros
    // then show a broken clock in the log rather than stopping the run.
    if (localtime_r(&now, &local) == nullptr) return LocalTime();
    last_second_ = now;
    last_local_ = LocalTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                            local.tm_hour,        local.tm_min,     local.tm_sec};
    return last_local_;
  }

  long long MonotonicMilliseconds() const override {
    struct timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
  }

  void Sleep(long long milliseconds) const override {
    struct timespec pause = {static_cast<time_t>(milliseconds / 1000),
                             static_cast<long>(milliseconds % 1000) * 1000000};
    // An interrupted pause is only shorter; the caller's loop looks again.
    nanosleep(&pause, nullptr);
  }

 private:
  mutable time_t last_second_ = -1;
  mutable LocalTime last_local_;
};

}  // namespace

std::unique_ptr<Clock> NewSystemClock() { return std::make_unique<SystemClock>(); }

}  // namespace tabsync::platform
