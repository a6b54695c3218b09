#include "common/format.hpp"

#include <cstdio>

std::string format_ms(std::int64_t ns) {
    char text[64];
    std::snprintf(text, sizeof text, "%.2f", static_cast<double>(ns) / 1e6);
    return text;
}

std::string clock_text(double seconds) {
    const long s = seconds > 0 ? static_cast<long>(seconds) : 0;
    char text[48];
    if (s >= 3600) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    }
    return text;
}

std::string fixed_or_na(const std::optional<double>& value, int decimals) {
    if (!value) {
        return "n/a";
    }
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, *value);
    return text;
}
