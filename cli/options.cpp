#include "cli/options.hpp"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <map>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/output_file.hpp"
#include "report/comparison.hpp"
#include "analysis/stats.hpp"

namespace {

constexpr const char* program_name = "quicksort_bench";

// Digits only: no plus sign, no blanks, no exponent, so "+5", "1e7" and "" are all refused; a
// negative number is named as out of range rather than as not a number.
template <typename Int>
Int parse_count(const std::string& name, const std::string& text, Int min, Int max) {
    const bool negative = text.size() > 1 && text[0] == '-';
    const std::string_view digits = std::string_view(text).substr(negative ? 1 : 0);
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) {
        throw CLI::ValidationError(name, "'" + text + "' is not a whole number");
    }
    Int value{};
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (negative || ec != std::errc{} || value < min || value > max) {
        throw CLI::ValidationError(name, "must be between " + std::to_string(min) + " and " + std::to_string(max) +
                                             ", got " + text);
    }
    return value;
}

// Refuses an unwritable export now, not after minutes of sorting, and two exports to one file.
void check_export_paths(const CLI::App& app, const std::vector<std::pair<std::string, const std::string*>>& exports) {
    std::vector<std::pair<std::string, std::string>> seen;
    for (const auto& [name, path] : exports) {
        if (app.count(name) == 0) {
            continue;
        }
        for (const auto& [other_name, other_path] : seen) {
            if (other_path == "-" && *path == "-") {
                throw CLI::ValidationError(name, "only one export can go to standard output (-); " + other_name +
                                                     " already does");
            }
            if (other_path == *path) {
                throw CLI::ValidationError(name, "'" + *path + "' is already the file of " + other_name);
            }
        }
        try {
            check_writable(*path);
        } catch (const std::runtime_error& e) {
            throw CLI::ValidationError(name, e.what());
        }
        seen.emplace_back(name, *path);
    }
}

// A plain decimal number that `in_range` accepts; CLI11 would also take hex, binary and blanks.
template <typename Check>
double parse_decimal(const std::string& name, const std::string& text, const char* allowed, Check in_range) {
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size() || !in_range(value)) {
        throw CLI::ValidationError(name, std::string("must be ") + allowed + ", got '" + text + "'");
    }
    return value;
}

// The first option named twice, each scope (before and after a subcommand) on its own: CLI11 would
// say "At Most 1 required but received 2".
std::string repeated_option(int argc, const char* const* argv) {
    std::vector<std::string> seen;
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        if (arg == "compare" || arg == "check") {
            seen.clear();
            continue;
        }
        if (arg.size() < 3 || arg.compare(0, 2, "--") != 0) {
            continue;
        }
        const std::string name = arg.substr(0, arg.find('='));
        if (std::find(seen.begin(), seen.end(), name) != seen.end()) {
            return name;
        }
        seen.push_back(name);
    }
    return "";
}

// `--chart --no-pause` must not write a file named "--no-pause"; `--chart=./--odd` still can.
void refuse_option_as_value(const CLI::App& app, const std::vector<std::pair<std::string, const std::string*>>& values) {
    for (const auto& [name, value] : values) {
        if (app.count(name) > 0 && value->rfind("--", 0) == 0) {
            throw CLI::ValidationError(name + " needs a value, and '" + *value + "' is an option (for a file of "
                                       "that name write " + name + "=./" + *value + ")");
        }
    }
}

// CLI11's own wording for what it refuses, in this program's words.
std::string own_words(const CLI::ParseError& e) {
    const std::string what = e.what();
    if (dynamic_cast<const CLI::ExtrasError*>(&e) != nullptr) {
        std::string first = what.substr(what.find(": ") + 2);
        first = first.substr(0, first.find(' '));
        return (first.rfind('-', 0) == 0 ? "unknown option '" : "unexpected argument '") + first + "'";
    }
    if (dynamic_cast<const CLI::RequiredError*>(&e) != nullptr) {
        return "compare needs two files: BASE.json NEW.json";
    }
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&e) != nullptr) {
        return what.substr(0, what.find(':')) + " needs a value";
    }
    return what;
}

// "90s", "30m", "2h", "1.5h": a positive time in nanoseconds.
std::int64_t parse_duration(const std::string& name, const std::string& text) {
    const char unit = text.empty() ? '\0' : text.back();
    const double scale = unit == 's' ? 1e9 : unit == 'm' ? 60e9 : unit == 'h' ? 3600e9 : 0;
    double value = 0;
    const char* end = text.data() + text.size() - 1;
    const auto [stop, ec] = std::from_chars(text.data(), end, value);
    if (scale == 0 || text.size() < 2 || ec != std::errc{} || stop != end || !(value > 0) || value * scale > 1e18) {
        throw CLI::ValidationError(name, "must be a time above zero such as 90s, 30m or 2h, got '" + text + "'");
    }
    return static_cast<std::int64_t>(value * scale);
}

} // namespace

parse_outcome parse_options(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                            unsigned usable_cpus) {
    parse_outcome outcome;
    bench_config& sizes = outcome.opts.sizes;

    CLI::App app{"Times four quicksort strategies (sequential on a thread pool, two threads, chunked parallel, "
                 "chunked parallel inside a parallel loop) on arrays of pseudo-random integers.",
                 program_name};
    app.set_version_flag("--version", std::string(program_name) + " 1.0.0");

    std::string size_text;
    std::string runs_text;
    std::string chunk_text;
    app.add_option("--size", size_text, "Elements in every sorted array (default 10000000)")->type_name("N");
    app.add_option("--runs", runs_text, "Timed sorts per strategy (default 10)")->type_name("N");
    app.add_option("--chunk", chunk_text,
                   "Slice length of the chunked parallel sort (default 100000); small slices make its "
                   "sequential merge slow")
        ->type_name("N");
    app.add_flag("--no-pause", outcome.opts.no_pause,
                 "Do not wait for a key press after the report (there is no wait unless standard input and output "
                 "are a terminal and the run is in its foreground)");
    app.add_flag("--reference", outcome.opts.reference,
                 "Also time std::sort and std::sort with std::execution::par, for comparison");
    app.add_flag("--breakdown", outcome.opts.breakdown,
                 "After the timed sorts, run every strategy again through instrumented copies of its routines "
                 "and show where its time goes (never mixed into the timed figures)");
    std::string values_text;
    app.add_option("--values", values_text,
                   "Input values: classic (15-bit rand(), many repeats; the default) or wide (32-bit generator, "
                   "values spread over 0 .. 3 x size - 1)")
        ->type_name("classic|wide");
    export_paths& exports = outcome.opts.exports;
    app.add_option("--export-json", exports.json,
                   "Write every duration, statistics and the context as JSON (any export takes - for standard output)")
        ->type_name("FILE");
    app.add_option("--export-csv", exports.csv, "Write one CSV row per measured sort")->type_name("FILE");
    app.add_option("--export-markdown", exports.markdown, "Write a Markdown table of the results")
        ->type_name("FILE");
    app.add_option("--chart", exports.chart,
                   "Write an SVG chart: the medians, or in a sweep the speedup against the CPU count")
        ->type_name("FILE");
    app.add_option("--export-gbench", exports.gbench,
                   "Write the results in Google Benchmark's JSON format, for the tools that read it")
        ->type_name("FILE");
    app.add_option("--export-html", exports.html,
                   "Write one self-contained HTML page with the numbers, every sort, the charts and warnings")
        ->type_name("FILE");
    std::string precision_text;
    std::string max_runs_text;
    std::string max_time_text;
    app.add_option("--precision", precision_text,
                   "Keep measuring each strategy until its median is known to within PCT percent (its 95% "
                   "interval); --runs is then the minimum (default 6)")
        ->type_name("PCT");
    app.add_option("--max-runs", max_runs_text, "With --precision: at most N sorts per strategy (default 100)")
        ->type_name("N");
    app.add_option("--max-time", max_time_text,
                   "With --precision: add no more sorts once the run has taken this long (90s, 30m, 2h)")
        ->type_name("DURATION");
    std::string cpus_text;
    app.add_option("--cpus", cpus_text,
                   "Sweep: measure every strategy on each of these counts of logical CPUs, e.g. 1,2,4 or 1-8 "
                   "or all (1, 2, 4, ... every CPU), then print how each one scales")
        ->type_name("LIST");
    app.add_flag("--resources", outcome.opts.resources,
                 "After the report, print what each phase used of the machine: CPU time, parallelism, context "
                 "switches, page faults, migrations and the counters the kernel allows");
    app.add_flag("--no-counters", outcome.opts.no_counters,
                 "Open no performance counters (the resources then come from getrusage alone)");
    std::string rounds_text;
    std::string seed_text;
    app.add_option("--rounds", rounds_text,
                   "Sweep: run every step R times, in a shuffled order each round, and pool each step's sorts "
                   "(default 1)")
        ->type_name("R");
    app.add_option("--seed", seed_text, "Sweep: the seed of the rounds' shuffled orders (default 1)")->type_name("N");
    // A sweep starts itself once per step with this; it is not for people.
    app.add_option("--step-result", outcome.opts.step_result)->group("");

    CLI::App* compare = app.add_subcommand(
        "compare", "Compare --export-json files (single runs, or sweeps step by step), each new run against the base: "
                   "a Hodges-Lehmann shift with its interval and a Mann-Whitney U test per strategy");
    compare_options cmp;
    std::string alpha_text;
    std::string threshold_text;
    compare->add_option("base", cmp.base, "The base run's JSON export")->required()->type_name("BASE.json");
    compare->add_option("new", cmp.nexts, "The new runs' JSON exports (up to 64)")
        ->required()
        ->expected(1, -1)
        ->type_name("NEW.json...");
    compare->add_option("--alpha", alpha_text, "Significance level of the test (default 0.05)")->type_name("P");
    compare->add_option("--threshold", threshold_text,
                        "The change in percent that counts: a shift whose whole interval lies beyond it is faster or "
                        "slower, one whose interval lies within it equivalent (default 2)")
        ->type_name("PERCENT");
    compare->add_flag("--fail-on-slower", cmp.fail_on_slower,
                      "Exit with status 1 when any strategy got slower, 3 when none did but some could not be decided");
    compare->add_flag("--allow-inconclusive", cmp.allow_inconclusive,
                      "With --fail-on-slower: strategies that could not be decided do not fail (status 0)");
    compare->add_option("--export-markdown", cmp.exports.markdown, "Write the comparison as Markdown")
        ->type_name("FILE");
    compare->add_option("--export-json", cmp.exports.json, "Write the comparison as JSON")->type_name("FILE");
    compare->add_option("--export-html", cmp.exports.html, "Write the comparison as a self-contained HTML page")
        ->type_name("FILE");

    CLI::App* check = app.add_subcommand(
        "check", "Say whether this machine can give trustworthy numbers now: frequency scaling, topology, load, "
                 "memory, counters, throttling; exit status 0 when all is ok, 1 when something warns");
    std::string check_json;
    check->add_option("--export-json", check_json, "Write the same as JSON")->type_name("FILE");

    try {
        if (const std::string repeated = repeated_option(argc, argv); !repeated.empty()) {
            throw CLI::ValidationError(repeated + " is given twice");
        }
        app.parse(argc, argv);
        refuse_option_as_value(app, {{"--size", &size_text}, {"--runs", &runs_text}, {"--chunk", &chunk_text},
                                     {"--values", &values_text}, {"--cpus", &cpus_text},
                                     {"--precision", &precision_text}, {"--max-runs", &max_runs_text},
                                     {"--max-time", &max_time_text}, {"--rounds", &rounds_text},
                                     {"--seed", &seed_text},
                                     {"--export-json", &exports.json}, {"--export-csv", &exports.csv},
                                     {"--export-markdown", &exports.markdown}, {"--chart", &exports.chart},
                                     {"--export-gbench", &exports.gbench}, {"--export-html", &exports.html}});
        if (*check) {
            for (const CLI::Option* option : app.get_options()) {
                if (option->count() > 0) {
                    throw CLI::ValidationError("check takes no benchmark options (" + option->get_name() +
                                               " given before it)");
                }
            }
            refuse_option_as_value(*check, {{"--export-json", &check_json}});
            check_export_paths(*check, {{"--export-json", &check_json}});
            outcome.opts.check = check_json;
            return outcome;
        }
        if (*compare) {
            refuse_option_as_value(*compare, {{"--alpha", &alpha_text}, {"--threshold", &threshold_text},
                                              {"--export-markdown", &cmp.exports.markdown},
                                              {"--export-json", &cmp.exports.json},
                                              {"--export-html", &cmp.exports.html}});
            for (const CLI::Option* option : app.get_options()) {
                if (option->count() > 0) {
                    throw CLI::ValidationError("compare", "takes no benchmark options (" + option->get_name() +
                                                              " given before it)");
                }
            }
            if (cmp.nexts.size() > max_new_runs) {
                throw CLI::ValidationError("compare takes at most " + std::to_string(max_new_runs) +
                                           " new runs, got " + std::to_string(cmp.nexts.size()));
            }
            if (!alpha_text.empty() || compare->count("--alpha") > 0) {
                cmp.alpha = parse_decimal("--alpha", alpha_text, "a number above 0 and at most 0.5",
                                          [](double a) { return a > 0 && a <= 0.5; });
            }
            if (!threshold_text.empty() || compare->count("--threshold") > 0) {
                cmp.threshold = parse_decimal("--threshold", threshold_text, "a percentage above 0 and below 100",
                                              [](double t) { return t > 0 && t < 100; }) /
                                100;
            }
            if (cmp.allow_inconclusive && !cmp.fail_on_slower) {
                throw CLI::ValidationError("--allow-inconclusive only relaxes --fail-on-slower, which is not given");
            }
            check_export_paths(*compare, {{"--export-markdown", &cmp.exports.markdown},
                                          {"--export-json", &cmp.exports.json},
                                          {"--export-html", &cmp.exports.html}});
            // Refused before anything is read: writing the comparison over its own input destroys it.
            for (const auto& [name, path] : {std::pair<const char*, const std::string*>{"--export-markdown",
                                                                                        &cmp.exports.markdown},
                                             {"--export-json", &cmp.exports.json},
                                             {"--export-html", &cmp.exports.html}}) {
                std::vector<const std::string*> inputs = {&cmp.base};
                for (const auto& next : cmp.nexts) {
                    inputs.push_back(&next);
                }
                for (const std::string* input : inputs) {
                    if (!path->empty() && (*path == *input || same_file(*path, *input))) {
                        throw CLI::ValidationError(name, "'" + *path + "' is the input '" + *input +
                                                             "'; writing it would destroy that run");
                    }
                }
            }
            outcome.opts.compare = cmp;
            return outcome;
        }
        if (app.count("--size") > 0) {
            sizes.array_size = parse_count<std::uint64_t>("--size", size_text, 1, max_array_size);
        }
        if (app.count("--runs") > 0) {
            sizes.run_count = parse_count<std::uint64_t>("--runs", runs_text, 1, max_run_count);
        }
        if (app.count("--values") > 0) {
            if (values_text != "classic" && values_text != "wide") {
                throw CLI::ValidationError("--values", "must be classic or wide, got '" + values_text + "'");
            }
            sizes.values = values_text == "wide" ? value_kind::wide : value_kind::classic;
        }
        if (app.count("--precision") > 0) {
            precision_goal goal;
            goal.target = parse_decimal("--precision", precision_text, "a percentage above 0 and at most 50",
                                        [](double p) { return p > 0 && p <= 50; }) /
                          100;
            if (app.count("--runs") == 0) {
                sizes.run_count = min_runs_for_interval;
            }
            goal.max_runs = std::max(goal.max_runs, sizes.run_count);
            if (app.count("--max-runs") > 0) {
                goal.max_runs = parse_count<std::uint64_t>("--max-runs", max_runs_text, sizes.run_count, max_run_count);
            }
            if (app.count("--max-time") > 0) {
                goal.max_time_ns = parse_duration("--max-time", max_time_text);
            }
            outcome.opts.precision = goal;
        } else {
            for (const char* limit : {"--max-runs", "--max-time"}) {
                if (app.count(limit) > 0) {
                    throw CLI::ValidationError(std::string(limit) + " limits --precision, which is not given");
                }
            }
        }
        if (app.count("--chunk") > 0) {
            sizes.chunk_size = parse_count<std::int64_t>("--chunk", chunk_text, 1, max_chunk_size);
        }
        if (app.count("--cpus") > 0) {
            if (app.count("--step-result") > 0) {
                throw CLI::ValidationError("--cpus", "a sweep step cannot start a sweep of its own");
            }
            try {
                outcome.opts.cpu_counts = parse_cpu_counts(cpus_text, usable_cpus);
            } catch (const cpu_list_error& e) {
                throw CLI::ValidationError("--cpus", e.what());
            }
        }
        if (app.count("--rounds") > 0) {
            outcome.opts.rounds = parse_count<unsigned>("--rounds", rounds_text, 1, 1000);
        }
        if (app.count("--seed") > 0) {
            outcome.opts.seed = parse_count<std::uint64_t>("--seed", seed_text, 0, UINT64_MAX);
        }
        for (const char* sweep_only : {"--rounds", "--seed"}) {
            if (app.count(sweep_only) > 0 && app.count("--cpus") == 0) {
                throw CLI::ValidationError(std::string(sweep_only) + " belongs to a sweep, and --cpus is not given");
            }
        }
        check_export_paths(app, {{"--export-json", &exports.json},
                                 {"--export-csv", &exports.csv},
                                 {"--export-markdown", &exports.markdown},
                                 {"--chart", &exports.chart},
                                 {"--export-gbench", &exports.gbench},
                                 {"--export-html", &exports.html}});
    } catch (const CLI::CallForHelp&) {
        out << (*compare ? compare->help() : *check ? check->help() : app.help()) << std::flush;
        outcome.exit_code = 0;
    } catch (const CLI::CallForVersion& e) {
        out << e.what() << std::endl;
        outcome.exit_code = 0;
    } catch (const CLI::ParseError& e) {
        err << program_name << ": error: " << own_words(e) << " (see --help)" << std::endl;
        outcome.exit_code = 2;
    }
    return outcome;
}
