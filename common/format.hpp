// How numbers and times read wherever this program prints them: console, files and the page.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Milliseconds with two decimals: "227.69".
std::string format_ms(std::int64_t ns);

// "m:ss", or "h:mm:ss" from an hour on; negative times read as 0:00.
std::string clock_text(double seconds);

// A value with `decimals` decimals, or "n/a" when it is undefined.
std::string fixed_or_na(const std::optional<double>& value, int decimals);
