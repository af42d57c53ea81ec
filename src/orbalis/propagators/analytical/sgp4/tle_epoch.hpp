// Exact TLE epochs: the day-of-year field of line 1 split into whole days and a fraction
// read from the field's own digits, and the split of a two-part Julian date into whole days
// and a fraction within half a day, done exactly as `orbalis.time.time.Time` splits one.
// Plain C++ (no Python.h): allocation-free, inline noexcept kernels that can be tested alone.
//
// Why two parts: a Julian date near 2.46e6 held in one double has a spacing of 2^-31 day
// (about 40 us), so adding the day of year to the year-start date loses the field's last
// digits. The fraction read on its own, as an integer over a power of ten, is rounded once
// (about 1e-17 day), and the whole days add to the year start exactly.
#pragma once

#include <locale.h>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace orbalis::tle {

// The day-of-year field as `whole + fraction` days: both carry the field's sign, `whole` is
// an integer and |fraction| < 1. For a non-finite field `whole` holds the value and
// `fraction` is 0.
struct DaySplit {
    double whole;
    double fraction;
};

// The C library's isspace in the "C" locale, which is what strtod skips.
constexpr bool is_c_space(char c) noexcept {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

constexpr bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

// Splits `field` (a NUL-terminated day-of-year field of at most 12 characters) read as
// strtod reads it in the "C" locale `c_locale`, so a garbled field still gives what strtod
// makes of it (0 when it has no usable digits). When the field is a plain decimal (blanks,
// a sign, digits, a point, digits: every real TLE), the two parts come from the digits
// themselves: whole days exactly, the fraction as one correctly rounded division of two
// exact doubles. strtod stops where that scan stops unless an exponent or a hexadecimal
// prefix follows, or there is no digit at all (infinity, NaN, nothing); only then is strtod
// called, and its value, exact in whatever digits it has, is split.
inline DaySplit split_day_field(const char* field, locale_t c_locale) noexcept {
    const char* p = field;
    while (is_c_space(*p)) ++p;
    bool negative = *p == '-';
    if (*p == '+' || *p == '-') ++p;
    // A TLE field has at most 12 characters, so both integers stay below 10^12 < 2^53 and
    // convert to doubles exactly.
    std::uint64_t whole = 0, numerator = 0, denominator = 1;
    int digits = 0;
    for (; is_digit(*p); ++p, ++digits) whole = whole * 10 + static_cast<std::uint64_t>(*p - '0');
    if (*p == '.') {
        for (++p; is_digit(*p); ++p, ++digits) {
            numerator = numerator * 10 + static_cast<std::uint64_t>(*p - '0');
            denominator *= 10;
        }
    }
    // More than 15 digits could overflow the integers (a longer field than TLEs have).
    bool plain = digits > 0 && digits <= 15 && *p != 'e' && *p != 'E' && *p != 'x' && *p != 'X';
    if (plain) {
        double w = static_cast<double>(whole);
        double f = static_cast<double>(numerator) / static_cast<double>(denominator);
        return negative ? DaySplit{-w, -f} : DaySplit{w, f};
    }
    char* end = nullptr;
    double value = strtod_l(field, &end, c_locale);
    if (!std::isfinite(value)) return {value, 0.0};
    double w = std::trunc(value);
    return {w, value - w};  // exact: both share the exponent range of value
}

// s + err == a + b exactly (Knuth's two-sum; no condition on the magnitudes).
inline void two_sum(double a, double b, double* s, double* err) noexcept {
    double sum = a + b;
    double bb = sum - a;
    *err = (a - (sum - bb)) + (b - bb);
    *s = sum;
}

// Round half to even, as NumPy's round does (the default rounding mode of the FPU).
inline double round_even(double x) noexcept { return std::nearbyint(x); }

// The two-part Julian date (jd1, jd2) of a + b, bit for bit as Time(a, b, format="jd")
// computes it: the error-free sum, the whole day nearest to it, the remainder rounded once,
// then the canonical split that keeps |jd2| <= 0.5. Finite inputs of magnitude below 1e15.
inline void split_julian_date(double a, double b, double* jd1, double* jd2) noexcept {
    double s, e;
    two_sum(a, b, &s, &e);
    double day = round_even(s);
    double frac = (s - day) + e;  // s - day is exact; the one rounding of the sum
    // the canonical split of day + frac
    double total, err;
    two_sum(day, frac, &total, &err);
    double whole = round_even(total);
    double extra, rest;
    two_sum(total, -whole, &extra, &rest);
    double fraction = rest + (extra + err);
    // the correction can push the fraction just past a half day; move that day over
    whole = whole + round_even(fraction);
    two_sum(total, -whole, &extra, &rest);
    *jd1 = whole;
    *jd2 = rest + (extra + err);
}

}  // namespace orbalis::tle
