#pragma once
// The UDP ports of a sounder, derived from its key.

#include <cstdint>

enum class SounderPortKind : uint16_t {
    Drz = 1,      // the DRZ process's receive port
    Xdrz = 2,     // the XDRZ process's receive port
    Handler = 3,  // the handler's own receive port
};

// (P + serial + kind) modulo 65536, with the base P of the sounder type:
// 12000 for 1602 and 1603, 14000 for 1605, 15000 for 1604, else
// 10 * type + 10000 (modulo 65536). Sounders whose serial numbers differ by
// 1 or 2 share ports; the rule makes no exception for them.
constexpr uint16_t SounderPort(uint16_t type, uint16_t serial, SounderPortKind kind) {
    uint16_t base = 0;
    switch (type) {
        case 1602:
        case 1603:
            base = 12000;
            break;
        case 1605:
            base = 14000;
            break;
        case 1604:
            base = 15000;
            break;
        default:
            base = static_cast<uint16_t>(10u * type + 10000u);
            break;
    }
    return static_cast<uint16_t>(base + serial + static_cast<uint16_t>(kind));
}
