// How the charts and pages show what a record holds: each strategy's colour, each verdict's colour
// and its class on the page. Presentation only: the records name, these colour.
#pragma once

#include <array>
#include <string_view>

#include "records/comparison.hpp"
#include "records/strategy.hpp"

// In the strategy table's order.
inline constexpr std::array<const char*, strategy_table.size()> strategy_colours = {
    "#4a7fb5", "#e07b39", "#3a9a5b", "#c0392b", "#7f7f7f", "#4d4d4d",
    "#8c564b", "#17becf", "#bcbd22", "#9467bd", "#e377c2", "#2ca02c"};

// The colour of a strategy by the name a record gives it; one of its own for a name not in the table.
constexpr const char* colour_of(std::string_view name) {
    const strategy_info* s = info_named(name);
    return s != nullptr ? strategy_colours[index_of(s->id)] : "#8e6bbf";
}

struct verdict_look {
    const char* colour;    // on a chart
    const char* css_class; // on the page
};

constexpr verdict_look look_of(verdict v) {
    constexpr verdict_look looks[] = {{"#2e7d32", "faster"},  {"#c62828", "slower"},  {"#1565c0", "equivalent"},
                                      {"#8d6e00", "inconclusive"}, {"#757575", "too-few"},
                                      {"#6d4c41", "too-few-processes"}};
    return looks[static_cast<int>(v)];
}
