#pragma once

namespace kiku::mime {

// The English names mail dates and mbox separator lines write, days from Monday as
// QDate::dayOfWeek counts them (1 = Monday).
inline constexpr const char* kDayNames[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
inline constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// `value` (not negative, below 10 to the `width`) as `width` decimal digits at `out`: dates
// written digit by digit, snprintf being a good part of a small message's cost.
inline void putDigits(char* out, int value, int width) {
    for (int i = width - 1; i >= 0; --i, value /= 10)
        out[i] = char('0' + value % 10);
}

} // namespace kiku::mime
