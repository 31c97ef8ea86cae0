#pragma once
// Time as the token store sees it: the local time stamped into the token
// file and onto a set-aside file, and the pause between lock attempts.
// Tests substitute a clock that does not sleep.

#include <QDateTime>
#include <chrono>
#include <thread>

class CTokenClock {
  public:
    virtual ~CTokenClock() = default;
    virtual QDateTime localNow() const { return QDateTime::currentDateTime(); }
    virtual void sleepFor(std::chrono::milliseconds pause) { std::this_thread::sleep_for(pause); }

    // The real clock, shared by every token store that is not given one.
    static CTokenClock& system() {
        static CTokenClock clock;
        return clock;
    }
};
