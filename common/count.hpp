// The one reader of whole numbers typed by people: digits only, so "+5", "1e7", " 5" and "" are
// refused rather than read as something else.
#pragma once

#include <charconv>
#include <string_view>

enum class count_error { none, not_a_number, too_large };

template <typename Int>
count_error parse_digits(std::string_view text, Int& value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) {
        return count_error::not_a_number;
    }
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc{} ? count_error::none : count_error::too_large;
}
