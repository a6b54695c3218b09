// The table of run options: names, limits, help, and whether children and sides take them.
#include "cli/run_settings_table.hpp"

#include <CLI/CLI.hpp>

#include <algorithm>

#include <cstdio>

#include "bench/generator.hpp"
#include "cli/option_rules.hpp"
#include "cli/options.hpp"

namespace {

std::vector<std::string> valued(setting s, const std::string& value) { return {option_name(s), value}; }

// The words of a flag a child gets when it is on.
template <setting S, auto on>
std::vector<std::string> flag_words(const options& opts) {
    return opts.*on ? std::vector<std::string>{option_name(S)} : std::vector<std::string>{};
}

constexpr side_rule takes = side_rule::takes;
constexpr side_rule more_than_one_run = side_rule::more_than_one_run;
constexpr side_rule records = side_rule::records;

} // namespace

const std::array<setting_option, 27> setting_options = {{
    {"--size", "N", "Elements in every sorted array (default 10000000)", takes,
     "Both sides: elements in every sorted array",
     [](const std::string& text, run_settings& r) {
         r.sizes.array_size = parse_count<std::uint64_t>(option_name(setting::size), text, 1, max_array_size);
     },
     [](const options& r) { return valued(setting::size, std::to_string(r.sizes.array_size)); }},
    {"--runs", "N", "Timed sorts per strategy (default 10)", takes, "Both sides: timed sorts per strategy in each run",
     [](const std::string& text, run_settings& r) {
         r.sizes.run_count = parse_count<std::uint64_t>(option_name(setting::runs), text, 1, max_run_count);
     },
     [](const options& r) { return valued(setting::runs, std::to_string(r.sizes.run_count)); }},
    {"--chunk", "N",
     "Slice length of the chunked parallel sort (default 100000); small slices make its sequential merge slow", takes,
     "Both sides: slice length of the chunked parallel sort",
     [](const std::string& text, run_settings& r) {
         r.sizes.chunk_size = parse_count<std::int64_t>(option_name(setting::chunk), text, 1, max_chunk_size);
     },
     [](const options& r) { return valued(setting::chunk, std::to_string(r.sizes.chunk_size)); }},
    {"--no-pause", "",
     "Do not wait for a key press after the report (there is no wait unless standard input and output are a "
     "terminal and the run is in its foreground)",
     takes, nullptr, nullptr, [](const options&) { return std::vector<std::string>{option_name(setting::no_pause)}; }},
    {"--reference", "",
     "Also time the field's best sorts for comparison (std::sort and its parallel form, oneTBB's parallel_sort, "
     "Boost.Sort's pdqsort, spreadsort, block_indirect_sort and sample_sort, IPS4o) and the memory floor, one "
     "streaming pass over the array",
     takes, "Both sides: also time the reference sorts and the memory floor (see the run option)",
     [](const std::string&, run_settings& r) { r.reference = true; },
     flag_words<setting::reference, &run_settings::reference>},
    {"--breakdown", "",
     "After the timed sorts, run every strategy again through instrumented copies of its routines and show where "
     "its time goes (never mixed into the timed figures)",
     takes, nullptr, nullptr, flag_words<setting::breakdown, &run_settings::breakdown>},
    {"--values", "classic|wide",
     "Input values: classic (15-bit rand(), many repeats; the default) or wide (32-bit generator, values spread "
     "over 0 .. 3 x size - 1)",
     takes, "Both sides: classic or wide input values",
     [](const std::string& text, run_settings& r) {
         if (text != "classic" && text != "wide") {
             throw CLI::ValidationError(option_name(setting::values), "must be classic or wide, got '" + text + "'");
         }
         r.sizes.values = text == "wide" ? value_kind::wide : value_kind::classic;
     },
     [](const options& r) { return valued(setting::values, value_kind_name(r.sizes.values)); }},
    {"--export-json", "FILE",
     "Write every duration, statistics and the context as JSON (any export takes - for standard output)", records},
    {"--export-csv", "FILE", "Write one CSV row per measured sort", records},
    {"--export-markdown", "FILE", "Write a Markdown table of the results", records},
    {"--chart", "FILE", "Write an SVG chart: the medians, or in a sweep the speedup against the CPU count", records},
    {"--export-gbench", "FILE", "Write the results in Google Benchmark's JSON format, for the tools that read it",
     records},
    {"--export-html", "FILE", "Write one self-contained HTML page with the numbers, every sort, the charts and warnings",
     records},
    {"--precision", "PCT",
     "Keep measuring each strategy until its median is known to within PCT percent (its 95% interval); --runs is "
     "then the minimum (default 6)",
     more_than_one_run, nullptr, nullptr,
     // A child measures to the run's goal, its limits with it.
     [](const options& opts) {
         std::vector<std::string> words;
         if (opts.precision) {
             char target[32];
             std::snprintf(target, sizeof target, "%.17g", 100 * opts.precision->target);
             words = {option_name(setting::precision), target, option_name(setting::max_runs),
                      std::to_string(opts.precision->max_runs)};
             if (opts.precision->max_time_ns) {
                 words.insert(words.end(), {option_name(setting::max_time),
                                            std::to_string(*opts.precision->max_time_ns / 1e9) + "s"});
             }
         }
         return words;
     }},
    {"--max-runs", "N", "With --precision: at most N sorts per strategy (default 100)", more_than_one_run},
    {"--max-time", "DURATION",
     "With --precision: add no more sorts (with --processes, no more processes) once the run has taken this long "
     "(90s, 30m, 2h); the --processes asked for are a minimum it does not cut",
     more_than_one_run},
    {"--cpus", "LIST",
     "Sweep: measure every strategy on each of these counts of logical CPUs, e.g. 1,2,4 or 1-8 or all (1, 2, 4, ... "
     "every CPU), then print how each one scales",
     more_than_one_run},
    // The step's counters open as the sweep's would.
    {"--resources", "",
     "After the report, print what each phase used of the machine: CPU time, parallelism, context switches, page "
     "faults, migrations and the counters the kernel allows",
     takes, nullptr, nullptr, flag_words<setting::resources, &options::resources>},
    {"--no-counters", "",
     "With --resources: open no performance counters (the resources then come from getrusage alone); without "
     "--resources none are opened, as they cost the timed sorts a little",
     takes, nullptr, nullptr, flag_words<setting::no_counters, &options::no_counters>},
    {"--rounds", "R",
     "Sweep: run every step R times, in a shuffled order each round, each round a process of its own; from 6 rounds "
     "a step's median and interval come from its rounds' medians (default 1)",
     more_than_one_run},
    {"--processes", "K",
     "Run the whole measurement in K fresh processes, one after another, and estimate each median over the "
     "processes' medians (an interval needs 6); the sorts of one process cannot show the drift between processes "
     "(default 1)",
     more_than_one_run},
    {"--max-processes", "K",
     "With --processes and --precision: add processes until every median is known to within PCT, up to K "
     "processes (default 30)",
     more_than_one_run},
    {"--record", "", "After the report and the exports, store the run in the history (see `history`)",
     more_than_one_run},
    {"--history", "FILE|URI",
     "With --record: the history, an SQLite file or a PostgreSQL URI (postgresql://...) or key/value string "
     "(host=... dbname=..., service=...); default $QUICKSORT_BENCH_HISTORY, else "
     "$XDG_DATA_HOME/quicksort_bench/history.sqlite",
     more_than_one_run},
    {"--label", "TEXT", "With --record: tag the run (gcc-13, after-merge-fix)", more_than_one_run},
    {"--seed", "N", "Sweep: the seed of the rounds' shuffled orders (default 1)", more_than_one_run},
    {"--validate", "",
     "Check the options (and that the run fits in memory) and exit without measuring: status 0 when they would "
     "run, 2 with the reason",
     takes},
}};

void add_setting(CLI::App& command, setting s, setting_text& given, bool ab) {
    const setting_option& o = setting_of(s);
    const char* help = ab ? o.ab_help : o.help;
    if (o.is_flag()) {
        command.add_flag(o.name, given.on, help);
    } else {
        command.add_option(o.name, given.text, help)->type_name(o.type_name);
    }
}

void read_setting(const CLI::App& command, setting s, const setting_text& given, run_settings& settings) {
    const setting_option& o = setting_of(s);
    if (command.count(o.name) > 0 && (!o.is_flag() || given.on)) {
        o.read(given.text, settings);
    }
}

void append_setting(std::vector<std::string>& words, setting s, const options& opts) {
    const std::vector<std::string> more = setting_of(s).words(opts);
    words.insert(words.end(), more.begin(), more.end());
}

bool run_option_takes_value(const std::string& name) {
    return std::any_of(setting_options.begin(), setting_options.end(),
                       [&](const setting_option& o) { return o.name == name && !o.is_flag(); });
}

std::optional<std::string> side_refusal_of(const std::string& name) {
    for (const setting_option& o : setting_options) {
        if (o.name == name && o.side == side_rule::more_than_one_run) {
            return name + " makes a side more than one process's plain run; ab runs each side once a round";
        }
        if (o.name == name && o.side == side_rule::records) {
            return name + ": a side's records are ab's to keep; give the exports to ab itself";
        }
    }
    return std::nullopt;
}
