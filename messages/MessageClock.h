#pragma once
// The time at which a message is reported. A catalogue reads it once per
// report through this clock; tests hand in a clock they set by hand, so the
// repeat window and midnight can be tested without waiting.

#include <chrono>

// A report's time stamp: the UTC date and time of day as the integers the
// message tables hold, and the milliseconds of the second.
struct MessageTime {
    int dateYYYYMMDD = 0;
    int timeHHMMSS = 0;
    int millis = 0;  // 0 to 999

    // Splits a point in time into the UTC fields. Date and millisecond part
    // come from the same reading, so they always belong together.
    static MessageTime FromUtc(std::chrono::system_clock::time_point when);
};

class CMessageClock {
  public:
    virtual ~CMessageClock() = default;
    virtual std::chrono::system_clock::time_point now() const {
        return std::chrono::system_clock::now();
    }

    // The real clock, shared by every catalogue that is not given one.
    static CMessageClock& system();
};
