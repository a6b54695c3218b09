// The command line: what each subcommand takes, read into the settings it produces. With no
// arguments the benchmark runs its classic sizes.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "bench/config.hpp"
#include "history/store.hpp"
#include "machine/cpus.hpp"
#include "records/ab.hpp"
#include "report/exports.hpp"

// The gate `compare` and `ab` share: the test's level, the change that counts, and what fails the run.
struct gate_options {
    double alpha = 0.05;          // a p-value below this makes a change real ...
    double threshold = 0.02;      // ... when the shift's whole interval also lies beyond this fraction
    bool fail_on_slower = false;  // exit 1 when any strategy got slower, 3 when some could not be decided
    bool allow_inconclusive = false; // with fail_on_slower: undecided strategies do not fail the gate
};

// `quicksort_bench compare BASE NEW...`: --export-json files side by side, each new one against the base.
struct compare_options {
    std::string base;
    std::vector<std::string> nexts;
    gate_options gate;
    std::optional<double> drift;  // a fraction: a side of too few processes may decide beyond it
    export_paths exports;         // markdown, json and html apply
};

// `quicksort_bench ab`: two sides, each a fresh process a round, taking turns to start, judged over
// the rounds' paired ratios.
struct ab_options {
    ab_side base; // the program resolved, its arguments merged with the shared run options
    ab_side next;
    unsigned rounds = 10;
    std::uint64_t seed = 1;
    gate_options gate;
    std::int64_t timeout_ns = 0; // a side's run past it is ended; 0: the default rule (ab_mode.cpp)
    std::int64_t max_time_ns = 0; // --max-time: rounds until every strategy is decided or this is spent; 0: --rounds
    export_paths exports; // markdown, json and html apply
};

// `quicksort_bench history ACTION`: the stored runs listed, followed, compared, imported, exported.
struct history_options {
    std::string action;   // list, trend, compare, import, export, push or machines
    std::string file;     // the database: --history, else the default
    run_filter filter;    // list, trend, export
    std::optional<std::string> strategy; // trend: one strategy's series only
    std::vector<std::string> inputs;     // compare: two runs; import: the files; push: the history to copy into
    std::string label;    // import: the imported runs' label
    export_paths exports; // trend: json, markdown, chart and html
};

struct options : run_settings {
    bool no_pause = false;  // skip the final key press even on a terminal
    bool validate = false;  // --validate: check the options, measure nothing
    bool resources = false; // print what each phase used of the machine after the report; opens the counters
    bool no_counters = false; // with --resources: getrusage alone, no performance counters
    export_paths exports;
    std::vector<unsigned> cpu_counts; // --cpus: a sweep over these CPU counts; empty for the classic run
    unsigned rounds = 1;              // --rounds: every step once per round, in a shuffled order
    std::uint64_t seed = 1;           // --seed: of the rounds' orders
    unsigned processes = 1;           // --processes: fresh processes that each measure everything
    std::optional<compare_options> compare; // the compare mode instead of a benchmark run
    std::optional<ab_options> ab;           // the interleaved comparison instead of a benchmark run
    std::optional<std::string> check;       // `check`: the machine's readiness; its --export-json path (may be empty)
    std::optional<history_options> history; // a `history` subcommand instead of a benchmark run
    bool record = false;      // --record: store the finished run in the history
    std::string history_file; // --history, else the default
    std::string label;        // --label: the recorded run's tag
};

// Either options to run with, or the exit status to end with at once: 0 after --help or
// --version (printed to `out`), 2 after a bad command line (one line on `err`), including an
// export path that cannot be written.
struct parse_outcome {
    options opts;
    std::optional<int> exit_code;
};

// `usable_cpus` bounds --cpus; tests choose it.

parse_outcome parse_options(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                            unsigned usable_cpus = usable_cpu_count());
