// Reading the orbital elements of a Two-Line Element set at the columns of the published
// format (NORAD two-line element set format, as documented with Spacetrack Report #3 and
// by CelesTrak). Every field is checked: a column holding something other than the number
// it should is reported with the element's name, its line and columns and the text found,
// so the caller can raise a precise error. No Python here, no allocation.
#pragma once

#include "sgp4_model.hpp"

#include <locale.h>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace orbalis::sgp4 {

// One field of a TLE line: its name for messages and its 1-based inclusive columns.
struct Field {
    const char* name;
    int line;
    int first, last;
};

inline constexpr Field kColSatnum1{"satellite number", 1, 3, 7};
inline constexpr Field kColClassification{"classification", 1, 8, 8};
inline constexpr Field kColIntldesg{"international designator", 1, 10, 17};
inline constexpr Field kColEpochYear{"epoch year", 1, 19, 20};
inline constexpr Field kColEpochDay{"epoch day", 1, 21, 32};
inline constexpr Field kColNdot{"ndot", 1, 34, 43};
inline constexpr Field kColNddot{"nddot", 1, 45, 52};
inline constexpr Field kColBstar{"bstar", 1, 54, 61};
inline constexpr Field kColElementNumber{"element number", 1, 65, 68};
inline constexpr Field kColSatnum2{"satellite number", 2, 3, 7};
inline constexpr Field kColInclination{"inclination", 2, 9, 16};
inline constexpr Field kColRaan{"raan", 2, 18, 25};
inline constexpr Field kColEccentricity{"eccentricity", 2, 27, 33};
inline constexpr Field kColArgPerigee{"arg_perigee", 2, 35, 42};
inline constexpr Field kColMeanAnomaly{"mean_anomaly", 2, 44, 51};
inline constexpr Field kColMeanMotion{"mean_motion", 2, 53, 63};
inline constexpr Field kColRevNumber{"rev_number", 2, 64, 68};

// Everything read from the two lines, in TLE units except where noted.
struct TLEFields {
    long satnum;
    char classification;  // as in column 8 (a blank stays a blank)
    char intldesg[9];     // columns 10-17, blanks stripped, NUL-terminated
    int epoch_year;       // four digits (57-99: 19xx, 00-56: 20xx)
    double epoch_day;     // day of year with fraction, 1.0 = 1 January 00:00
    double epoch_jd1;     // Julian date of 00:00 UTC of the epoch's calendar day
    double epoch_jd2;     // fraction of the day, in [0, 1)
    double ndot;          // first derivative of mean motion / 2, rev/day^2
    double nddot;         // second derivative of mean motion / 6, rev/day^3
    double bstar;         // drag term, 1/earth radii
    long element_number;
    double inclination;  // deg
    double raan;         // deg
    double eccentricity;
    double arg_perigee;   // deg
    double mean_anomaly;  // deg
    double mean_motion;   // rev/day
    long rev_number;
};

// What went wrong, for the message: the field and its text (blank-padded past the end).
struct FieldError {
    const Field* field = nullptr;
    const char* reason = nullptr;  // "is not a number", "must lie in [0, 1)", ...
    char text[16] = {};
};

namespace detail {

inline locale_t c_locale() noexcept {
    static locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return loc;
}

// Copies the columns of `f` out of `line` (a NUL-terminated stored line), blank-padded
// where the line is shorter, and returns the trimmed text in `buf`.
inline const char* take(const char* line, const Field& f, char* buf) noexcept {
    const size_t len = std::strlen(line);
    size_t n = 0;
    for (int c = f.first; c <= f.last; ++c) {
        const size_t i = static_cast<size_t>(c - 1);
        buf[n++] = i < len ? line[i] : ' ';
    }
    buf[n] = '\0';
    char* b = buf;
    while (*b == ' ') ++b;
    char* e = buf + n;
    while (e > b && e[-1] == ' ') --e;
    *e = '\0';
    return b;
}

// Records the failure of `f`, keeping the field's columns as they stand in the line.
inline bool fail(FieldError& err, const Field& f, const char* reason, const char* line) noexcept {
    err.field = &f;
    err.reason = reason;
    const size_t len = std::strlen(line);
    size_t n = 0;
    for (int c = f.first; c <= f.last && n < sizeof(err.text) - 1; ++c, ++n) {
        const size_t i = static_cast<size_t>(c - 1);
        err.text[n] = i < len ? line[i] : ' ';
    }
    err.text[n] = '\0';
    return false;
}

inline bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

// A decimal number: optional sign, digits with at most one point, at least one digit.
inline bool decimal_syntax(const char* s, bool allow_sign) noexcept {
    if (allow_sign && (*s == '+' || *s == '-')) ++s;
    int digits = 0, points = 0;
    for (; *s; ++s) {
        if (is_digit(*s))
            ++digits;
        else if (*s == '.' && points == 0)
            ++points;
        else
            return false;
    }
    return digits > 0;
}

inline bool read_decimal(const char* line, const Field& f, bool allow_sign, bool allow_blank,
                         double& out, FieldError& err) noexcept {
    char buf[32];
    const char* s = take(line, f, buf);
    if (*s == '\0') {
        if (!allow_blank) return fail(err, f, "is blank", line);
        out = 0.0;
        return true;
    }
    if (!decimal_syntax(s, allow_sign)) return fail(err, f, "is not a number", line);
    out = strtod_l(s, nullptr, c_locale());
    return true;
}

inline bool read_integer(const char* line, const Field& f, bool allow_blank, long& out,
                         FieldError& err) noexcept {
    char buf[32];
    const char* s = take(line, f, buf);
    if (*s == '\0') {
        if (!allow_blank) return fail(err, f, "is blank", line);
        out = 0;
        return true;
    }
    long v = 0;
    for (const char* p = s; *p; ++p) {
        if (!is_digit(*p)) return fail(err, f, "is not an unsigned integer", line);
        v = v * 10 + (*p - '0');
    }
    out = v;
    return true;
}

// The satellite number: five digits, or Alpha-5 (a letter A-Z without I and O for the
// ten-thousands from 10 upwards, then four digits: A0001 is 100001).
inline bool read_satnum(const char* line, const Field& f, long& out, FieldError& err) noexcept {
    char buf[32];
    const char* s = take(line, f, buf);
    if (*s == '\0') return fail(err, f, "is blank", line);
    const char* p = s;
    long lead = 0;
    if (*p >= 'A' && *p <= 'Z') {
        if (*p == 'I' || *p == 'O' || std::strlen(s) != 5)
            return fail(err, f, "is not a satellite number", line);
        const int k = *p - 'A';
        lead = 10 + k - (*p > 'I' ? 1 : 0) - (*p > 'O' ? 1 : 0);
        ++p;
    }
    long v = 0;
    for (; *p; ++p) {
        if (!is_digit(*p)) return fail(err, f, "is not a satellite number", line);
        v = v * 10 + (*p - '0');
    }
    out = lead * 10000 + v;
    return true;
}

// A field in the "assumed decimal point" exponent form: [sign]ddddd[sign]d, read as
// [sign]0.ddddd times 10 to the exponent (nddot and bstar).
inline bool read_exponent_form(const char* line, const Field& f, double& out,
                               FieldError& err) noexcept {
    char buf[32];
    char* s = const_cast<char*>(take(line, f, buf));
    if (*s == '\0') return fail(err, f, "is blank", line);
    const size_t n = std::strlen(s);
    // the exponent's sign is the last + or - past the first character
    size_t k = n;
    for (size_t i = n; i-- > 1;) {
        if (s[i] == '+' || s[i] == '-') {
            k = i;
            break;
        }
    }
    int exponent = 0;
    if (k < n) {
        const char* e = s + k + 1;
        if (*e == '\0') return fail(err, f, "is not a number", line);
        for (; *e; ++e) {
            if (!is_digit(*e)) return fail(err, f, "is not a number", line);
            exponent = exponent * 10 + (*e - '0');
            if (exponent > 99) return fail(err, f, "is not a number", line);
        }
        if (s[k] == '-') exponent = -exponent;
        s[k] = '\0';
    }
    // mantissa: sign, then digits behind an assumed decimal point
    char mant[24];
    size_t m = 0;
    const char* p = s;
    if (*p == '+' || *p == '-') mant[m++] = *p++;
    while (*p == ' ') ++p;
    if (*p == '.') ++p;  // an explicit point is accepted too
    mant[m++] = '.';
    int digits = 0;
    for (; *p && m < sizeof(mant) - 1; ++p) {
        if (!is_digit(*p)) return fail(err, f, "is not a number", line);
        mant[m++] = *p;
        ++digits;
    }
    if (*p != '\0' || digits == 0) return fail(err, f, "is not a number", line);
    mant[m] = '\0';
    out = strtod_l(mant, nullptr, c_locale()) * std::pow(10.0, exponent);
    return true;
}

// `prefix` then `text` into `out` of `size` bytes, cut to fit and NUL-terminated.
inline void prefixed(char* out, size_t size, const char* prefix, const char* text) noexcept {
    size_t n = 0;
    for (const char* p = prefix; *p && n + 1 < size; ++p) out[n++] = *p;
    for (const char* p = text; *p && n + 1 < size; ++p) out[n++] = *p;
    out[n] = '\0';
}

inline bool in_range(double x, double lo, double hi) noexcept { return x >= lo && x <= hi; }

}  // namespace detail

// Reads every element of the two stored lines (at most 69 characters each, NUL-terminated).
// Returns false with `err` filled for the first field that is malformed or out of range.
inline bool read_tle_fields(const char* line1, const char* line2, TLEFields& out,
                            FieldError& err) noexcept {
    using namespace detail;
    long satnum2 = 0, year = 0;
    char buf[32];
    if (!read_satnum(line1, kColSatnum1, out.satnum, err)) return false;
    out.classification = std::strlen(line1) >= 8 ? line1[7] : ' ';
    const char* desg = take(line1, kColIntldesg, buf);
    prefixed(out.intldesg, sizeof(out.intldesg), "", desg);

    if (!read_integer(line1, kColEpochYear, false, year, err)) return false;
    if (!read_decimal(line1, kColEpochDay, false, false, out.epoch_day, err)) return false;
    out.epoch_year = static_cast<int>(year < 57 ? 2000 + year : 1900 + year);
    const bool leap =
        (out.epoch_year % 4 == 0 && out.epoch_year % 100 != 0) || out.epoch_year % 400 == 0;
    if (!(out.epoch_day >= 1.0 && out.epoch_day < (leap ? 367.0 : 366.0)))
        return fail(err, kColEpochDay, "is not a day of the year", line1);
    {
        // Julian date of 1 January 00:00 of the year (Gregorian calendar, valid 1901-2099)
        const double y = out.epoch_year;
        const double jd_jan1 = 367.0 * y - std::floor(7.0 * y * 0.25) + 30.0 + 1.0 + 1721013.5;
        const double whole = std::floor(out.epoch_day);
        out.epoch_jd1 = jd_jan1 + (whole - 1.0);
        // the fraction read from its own digits, so it carries no rounding of the whole days
        const char* day = take(line1, kColEpochDay, buf);
        const char* point = std::strchr(day, '.');
        out.epoch_jd2 = 0.0;
        if (point) {
            char frac[24];
            prefixed(frac, sizeof(frac), "0", point);
            out.epoch_jd2 = strtod_l(frac, nullptr, c_locale());
        }
    }
    if (!read_decimal(line1, kColNdot, true, false, out.ndot, err)) return false;
    if (!read_exponent_form(line1, kColNddot, out.nddot, err)) return false;
    if (!read_exponent_form(line1, kColBstar, out.bstar, err)) return false;
    if (!read_integer(line1, kColElementNumber, true, out.element_number, err)) return false;

    if (!read_satnum(line2, kColSatnum2, satnum2, err)) return false;
    if (!read_decimal(line2, kColInclination, false, false, out.inclination, err)) return false;
    if (!in_range(out.inclination, 0.0, 180.0))
        return fail(err, kColInclination, "must lie in [0, 180] degrees", line2);
    if (!read_decimal(line2, kColRaan, false, false, out.raan, err)) return false;
    if (!in_range(out.raan, 0.0, 360.0))
        return fail(err, kColRaan, "must lie in [0, 360] degrees", line2);
    {
        // seven digits behind an assumed decimal point
        const char* e = take(line2, kColEccentricity, buf);
        if (*e == '\0') return fail(err, kColEccentricity, "is blank", line2);
        for (const char* p = e; *p; ++p)
            if (!is_digit(*p)) return fail(err, kColEccentricity, "must lie in [0, 1)", line2);
        char text[16];
        prefixed(text, sizeof(text), ".", e);
        out.eccentricity = strtod_l(text, nullptr, c_locale());
    }
    if (!read_decimal(line2, kColArgPerigee, false, false, out.arg_perigee, err)) return false;
    if (!in_range(out.arg_perigee, 0.0, 360.0))
        return fail(err, kColArgPerigee, "must lie in [0, 360] degrees", line2);
    if (!read_decimal(line2, kColMeanAnomaly, false, false, out.mean_anomaly, err)) return false;
    if (!in_range(out.mean_anomaly, 0.0, 360.0))
        return fail(err, kColMeanAnomaly, "must lie in [0, 360] degrees", line2);
    if (!read_decimal(line2, kColMeanMotion, false, false, out.mean_motion, err)) return false;
    if (!(out.mean_motion > 0.0))
        return fail(err, kColMeanMotion, "must be positive (revolutions per day)", line2);
    if (!read_integer(line2, kColRevNumber, true, out.rev_number, err)) return false;
    if (satnum2 != out.satnum)
        return fail(err, kColSatnum2, "differs from the satellite number of line 1", line2);
    return true;
}

// The model's elements from the fields (Rev. 2006 units: radians, radians per minute).
inline Elements elements_of(const TLEFields& f) noexcept {
    constexpr double xpdotp = 1440.0 / (2.0 * kPi);  // rev/day per rad/min
    Elements el{};
    // days since 1949 December 31 00:00 UT, the day count of the model's sidereal time and
    // lunar-solar arguments, formed from the Julian date as the element sets' users do
    el.epoch = (f.epoch_jd1 + f.epoch_jd2) - 2433281.5;
    el.bstar = f.bstar;
    el.ecco = f.eccentricity;
    el.argpo = f.arg_perigee * kDeg2Rad;
    el.inclo = f.inclination * kDeg2Rad;
    el.mo = f.mean_anomaly * kDeg2Rad;
    el.no_kozai = f.mean_motion / xpdotp;
    el.nodeo = f.raan * kDeg2Rad;
    return el;
}

}  // namespace orbalis::sgp4
