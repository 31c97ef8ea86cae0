#pragma once
// The process-wide suspend mode ("-suspendproc"): which distribution
// processes a sounder handler leaves unstarted. Set once by the start-up,
// read by every handler when it starts its processes.

namespace platform {

enum SuspendMode : int {
    kSuspendNone = 0,  // start DRZ and XDRZ
    kSuspendBoth = 1,  // start neither
    kSuspendXdrz = 2,  // start DRZ only
    kSuspendDrz = 3,   // start XDRZ only
};

void SetSuspendMode(int mode);
int GetSuspendMode();

// What a mode allows; any value outside 1..3 starts both.
inline bool SuspendAllowsDrz(int mode) {
    return mode != kSuspendBoth && mode != kSuspendDrz;
}
inline bool SuspendAllowsXdrz(int mode) {
    return mode != kSuspendBoth && mode != kSuspendXdrz;
}

}  // namespace platform
