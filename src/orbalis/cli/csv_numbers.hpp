// Number fields of CSV text: reading one field as a double and writing a double in its
// shortest round-trip form. Plain C++ (std::from_chars / std::to_chars), no Python, no
// allocation: the command line's converter calls these once per field.
#pragma once

#include <charconv>
#include <cstddef>
#include <string_view>
#include <system_error>

namespace orbalis::csv {

// The field with ASCII blanks trimmed from both ends.
inline std::string_view trimmed(std::string_view field) noexcept {
    while (!field.empty() && (field.front() == ' ' || field.front() == '\t')) {
        field.remove_prefix(1);
    }
    while (!field.empty() && (field.back() == ' ' || field.back() == '\t')) {
        field.remove_suffix(1);
    }
    return field;
}

// Reads `field` as a double: decimal or exponent notation, inf, nan, an optional sign and
// surrounding blanks. The whole field must be the number; false otherwise. from_chars
// rounds correctly, so the result is the double nearest the decimal text, as float() gives.
inline bool parse_double(std::string_view field, double& value) noexcept {
    field = trimmed(field);
    if (!field.empty() && field.front() == '+') field.remove_prefix(1);
    if (field.empty()) return false;
    const char* end = field.data() + field.size();
    auto [ptr, ec] = std::from_chars(field.data(), end, value);
    return ec == std::errc() && ptr == end;
}

// Longest text write_double produces: sign, 17 significant digits, point, exponent.
inline constexpr std::size_t kMaxDoubleChars = 32;

// Writes the shortest text that reads back as exactly `value` to `out` (at least
// kMaxDoubleChars bytes); returns the number of bytes written.
inline std::size_t write_double(double value, char* out) noexcept {
    auto [ptr, ec] = std::to_chars(out, out + kMaxDoubleChars, value);
    return ec == std::errc() ? static_cast<std::size_t>(ptr - out) : 0;
}

}  // namespace orbalis::csv
