// Numbers and times as this program prints them, in every format.
#include "common/format.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

std::string format_ms(std::int64_t ns) {
    char text[64];
    std::snprintf(text, sizeof text, "%.2f", static_cast<double>(ns) / 1e6);
    return text;
}

std::string format_ms_precise(std::int64_t ns) {
    const double ms = static_cast<double>(ns) / 1e6;
    if (ms >= 1 || ms <= 0) {
        return format_ms(ns);
    }
    // Below a millisecond, decimals enough for three significant digits: 0.0234, 0.500.
    const int decimals = 2 - static_cast<int>(std::floor(std::log10(ms)));
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, ms);
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

std::string fixed(double value, int decimals) { return fixed_or_na(value, decimals); }

std::string format_bytes(std::uint64_t bytes) {
    const double b = static_cast<double>(bytes);
    if (b >= 1024.0 * 1024 * 1024) {
        return fixed(b / (1024.0 * 1024 * 1024), 1) + " GiB";
    }
    return fixed(b / (1024.0 * 1024), 1) + " MiB";
}

std::string format_ratio(const std::optional<double>& ratio) { return fixed_or_na(ratio, 2); }

std::string format_cpu_list(const std::vector<unsigned>& cpus) {
    std::vector<unsigned> sorted = cpus;
    std::sort(sorted.begin(), sorted.end());
    std::string text;
    for (std::size_t k = 0; k < sorted.size();) {
        std::size_t end = k;
        while (end + 1 < sorted.size() && sorted[end + 1] == sorted[end] + 1) {
            ++end;
        }
        text += (text.empty() ? "" : ",") + std::to_string(sorted[k]);
        if (end > k) {
            text += "-" + std::to_string(sorted[end]);
        }
        k = end + 1;
    }
    return text;
}

std::string count_text(std::uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string cpus_text(std::uint64_t n) { return count_text(n, "CPU", "CPUs"); }

std::string format_speedup(std::int64_t numerator, std::int64_t divisor) {
    if (divisor == 0) {
        return "n/a";
    }
    std::ostringstream text; // a fresh stream: the default general format, precision 6
    text << static_cast<double>(numerator / divisor);
    return text.str();
}

std::string shell_quoted(const std::string& text) {
    const bool plain = !text.empty() && text.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                               "0123456789-_./=:,+@%") == std::string::npos;
    if (plain) {
        return text;
    }
    std::string quoted = "'";
    for (const char ch : text) {
        quoted += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
    }
    return quoted + "'";
}
