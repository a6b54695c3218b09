// How numbers and times read wherever this program prints them: console, files and the page.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Milliseconds with two decimals: "227.69".
std::string format_ms(std::int64_t ns);
// Milliseconds with two decimals, or below a millisecond with three significant digits (0.0234).
std::string format_ms_precise(std::int64_t ns);

// "m:ss", or "h:mm:ss" from an hour on; negative times read as 0:00.
std::string clock_text(double seconds);

// A value with `decimals` decimals, or "n/a" when it is undefined.
std::string fixed_or_na(const std::optional<double>& value, int decimals);

// A value with `decimals` decimals: "3.14".
std::string fixed(double value, int decimals);

// "1.5 GiB", "512.0 MiB".
std::string format_bytes(std::uint64_t bytes);

// An exact ratio with two decimals, or "n/a".
std::string format_ratio(const std::optional<double>& ratio);

// "0", "0,2", "0-3,8": a CPU list as taskset prints it.
std::string format_cpu_list(const std::vector<unsigned>& cpus);

// "1 core", "2 cores": a count with the noun that agrees with it.
std::string count_text(std::uint64_t n, const char* one, const char* many);

// "1 CPU", "4 CPUs".
std::string cpus_text(std::uint64_t n);

// numerator / divisor as a truncating 64-bit integer division, printed as a double in the
// stream's default format (3.42 prints 3, a ratio below 1 prints 0, a million prints 1e+06);
// "n/a" for a divisor of 0.
std::string format_speedup(std::int64_t numerator, std::int64_t divisor);

// `text` as one word for a POSIX shell: unchanged when it is plain, else in single quotes.
std::string shell_quoted(const std::string& text);
