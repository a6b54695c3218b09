// The one table of the strategies this program measures: the name the report heads each with, the
// colour every chart gives it, and whether it is a standard-library sort timed for comparison.
// A record holds the four measured strategies first, in this order, then the references.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

enum class strategy { sequential, thread, parallel, parallel_for, std_sort, std_par_sort };

struct strategy_info {
    strategy id;
    const char* name;
    const char* colour;
    bool reference;
};

inline constexpr std::array<strategy_info, 6> strategy_table = {{
    {strategy::sequential, "sequential sort", "#4a7fb5", false},
    {strategy::thread, "thread sort", "#e07b39", false},
    {strategy::parallel, "parallel sort", "#3a9a5b", false},
    {strategy::parallel_for, "parallel_for parallel sort", "#c0392b", false},
    {strategy::std_sort, "std::sort", "#7f7f7f", true},
    {strategy::std_par_sort, "std::sort (std::execution::par)", "#4d4d4d", true},
}};

// The strategies every record holds, before any reference sort.
inline constexpr std::size_t measured_strategy_count = 4;

constexpr const strategy_info& info(strategy s) { return strategy_table[static_cast<std::size_t>(s)]; }
constexpr const char* name_of(strategy s) { return info(s).name; }
// Where a strategy stands in a record; references after the measured four, in the table's order.
constexpr std::size_t index_of(strategy s) { return static_cast<std::size_t>(s); }

// The colour of a strategy by the name a record gives it; one of its own for a name not in the table.
constexpr const char* colour_of(std::string_view name) {
    for (const auto& s : strategy_table) {
        if (name == s.name) {
            return s.colour;
        }
    }
    return "#8e6bbf";
}
