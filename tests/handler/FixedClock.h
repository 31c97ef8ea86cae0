#pragma once
// The moment of the raw-data path examples: 14:07:09 UTC on 5 March 2024.

#include <ctime>

namespace handler_test {

inline std::tm FixedUtc() {
    std::tm t{};
    t.tm_year = 2024 - 1900;
    t.tm_mon = 2;
    t.tm_mday = 5;
    t.tm_hour = 14;
    t.tm_min = 7;
    t.tm_sec = 9;
    return t;
}

inline std::time_t FixedTime() {
    std::tm t = FixedUtc();
    return timegm(&t);
}

}  // namespace handler_test
