#ifndef TABSYNC_PLATFORM_SYSTEM_CLOCK_H_
#define TABSYNC_PLATFORM_SYSTEM_CLOCK_H_

#include <memory>

#include "platform/clock.h"

namespace tabsync::platform {

// The machine's clock in its local time zone.
std::unique_ptr<Clock> NewSystemClock();

}  // namespace tabsync::platform

#endif  // TABSYNC_PLATFORM_SYSTEM_CLOCK_H_
