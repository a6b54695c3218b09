// The one table of the strategies this program measures: the name the report heads each with,
// whether it is a sort of another library timed for reference,
// whether one sort of it uses more than one CPU (so that the memory floor of every CPU bounds it),
// and whether its phase runs its sorts side by side (one per CPU at a time), so that its scaling
// is its throughput's rather than one sort's.
// A record holds the four measured strategies first, in this order, then the references.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

enum class strategy {
    sequential,
    thread,
    parallel,
    parallel_for,
    std_sort,
    std_par_sort,
    tbb_parallel_sort,
    pdqsort,
    spreadsort,
    block_indirect_sort,
    sample_sort,
    ips4o
};

struct strategy_info {
    strategy id;
    const char* name;
    bool reference;
    bool parallel;
    bool side_by_side;
};

inline constexpr std::array<strategy_info, 12> strategy_table = {{
    {strategy::sequential, "sequential sort", false, false, true},
    {strategy::thread, "thread sort", false, true, true},
    {strategy::parallel, "parallel sort", false, true, false},
    {strategy::parallel_for, "parallel_for parallel sort", false, true, true},
    {strategy::std_sort, "std::sort", true, false, false},
    {strategy::std_par_sort, "std::sort (std::execution::par)", true, true, false},
    {strategy::tbb_parallel_sort, "tbb::parallel_sort", true, true, false},
    {strategy::pdqsort, "boost::sort::pdqsort", true, false, false},
    {strategy::spreadsort, "boost::sort::spreadsort", true, false, false},
    {strategy::block_indirect_sort, "boost::sort::block_indirect_sort", true, true, false},
    {strategy::sample_sort, "boost::sort::sample_sort", true, true, false},
    {strategy::ips4o, "ips4o::parallel::sort", true, true, false},
}};

constexpr const strategy_info& info(strategy s) { return strategy_table[static_cast<std::size_t>(s)]; }
constexpr const char* name_of(strategy s) { return info(s).name; }
// Where a strategy stands in a record; references after the measured four, in the table's order.
constexpr std::size_t index_of(strategy s) { return static_cast<std::size_t>(s); }

// The table's row of the strategy a record names; nothing for a name not in the table (a sort a
// newer build measures, say).
constexpr const strategy_info* info_named(std::string_view name) {
    for (const auto& s : strategy_table) {
        if (name == s.name) {
            return &s;
        }
    }
    return nullptr;
}

// The strategies a run measures: the four, and with `reference` every reference sort too.
constexpr std::size_t strategies_measured(bool reference) {
    std::size_t n = 0;
    for (const auto& s : strategy_table) {
        n += !s.reference || reference ? 1 : 0;
    }
    return n;
}

// The strategies every record holds, before any reference sort.
inline constexpr std::size_t measured_strategy_count = strategies_measured(false);

// Whether one sort of the strategy a record names uses more than one CPU; false for a name not in the table.
constexpr bool uses_every_cpu(std::string_view name) {
    const strategy_info* s = info_named(name);
    return s != nullptr && s->parallel;
}

// Whether the strategy a record names runs its sorts side by side; false for a name not in the table.
constexpr bool runs_side_by_side(std::string_view name) {
    const strategy_info* s = info_named(name);
    return s != nullptr && s->side_by_side;
}

// The console's speedup blocks: the parallel sort, whose figures divide every speedup, against
// each of these, in this order.
struct speedup_info {
    strategy over;
    const char* name;
};
inline constexpr strategy divisor_strategy = strategy::parallel;
inline constexpr std::array<speedup_info, 3> speedup_table = {{
    {strategy::sequential, "parallel to sequential"},
    {strategy::thread, "parallel to just threads"},
    {strategy::parallel_for, "parallel quicksort using a normal for loop to using a parallel_for"},
}};

// No name twice, and every row where its id says: a record's position is its strategy's.
constexpr bool table_is_sound() {
    for (std::size_t k = 0; k < strategy_table.size(); ++k) {
        if (static_cast<std::size_t>(strategy_table[k].id) != k) {
            return false;
        }
        for (std::size_t other = 0; other < k; ++other) {
            if (std::string_view(strategy_table[k].name) == strategy_table[other].name) {
                return false;
            }
        }
    }
    return true;
}
static_assert(table_is_sound(), "the strategy table names a strategy twice or out of its order");
