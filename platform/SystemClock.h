#pragma once
#include "platform/System.h"

namespace dervix {

// The computer's clock and the local time of the user's time zone.
class SystemClock : public Clock {
public:
    std::chrono::system_clock::time_point now() const override;
    LocalTime toLocal(std::chrono::system_clock::time_point t) const override;
};

}  // namespace dervix
