// The rules every subcommand's options follow, in this program's words: counts, decimals and times
// read strictly, an option never taken as a value, no option twice, exports checked before any work.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/options.hpp"
#include "common/count.hpp"
#include "report/exports.hpp"

// An option's name and the text it was given.
using named_values = std::vector<std::pair<std::string, const std::string*>>;

// Digits only (see parse_digits); a negative number is named as out of range rather than as not a
// number.
template <typename Int>
Int parse_count(const std::string& name, const std::string& text, Int min, Int max) {
    const bool negative = text.size() > 1 && text[0] == '-';
    Int value{};
    const count_error error = parse_digits(std::string_view(text).substr(negative ? 1 : 0), value);
    if (error == count_error::not_a_number) {
        throw CLI::ValidationError(name, "'" + text + "' is not a whole number");
    }
    if (negative || error != count_error::none || value < min || value > max) {
        throw CLI::ValidationError(name, "must be between " + std::to_string(min) + " and " + std::to_string(max) +
                                             ", got " + text);
    }
    return value;
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

// What --alpha and --threshold were given, before they are checked.
struct gate_texts {
    std::string alpha;
    std::string threshold;
};

// --alpha and --threshold, the latter with `threshold_help` (compare's says more than ab's).
void add_gate_levels(CLI::App& command, gate_texts& texts, const std::string& threshold_help);
// --fail-on-slower and --allow-inconclusive.
void add_gate_flags(CLI::App& command, gate_options& gate);
// The gate's options as given: an alpha above 0 and at most 0.5, a threshold percentage above 0 and
// below 100 (kept as a fraction), --allow-inconclusive only with --fail-on-slower. Throws
// CLI::ValidationError.
void finish_gate(const CLI::App& command, gate_options& gate, const gate_texts& texts);
inline named_values gate_values(const gate_texts& texts) {
    return {{"--alpha", &texts.alpha}, {"--threshold", &texts.threshold}};
}

// The export options of a command, from the table of exporters: those that write its kind of result.
template <typename Writer>
named_values export_values(const export_paths& paths, Writer exporter::*kind) {
    named_values values;
    for (const auto& format : exporters) {
        if (format.*kind != nullptr) {
            values.emplace_back(format.option, &(paths.*format.path));
        }
    }
    return values;
}

// Refuses an unwritable export now, not after minutes of sorting, and two exports to one file.
void check_export_paths(const CLI::App& app, const named_values& exports);

// The first option named twice, each scope (before and after a subcommand) on its own: CLI11 would
// say "At Most 1 required but received 2". The word after an option of `app` (or of its
// subcommands) that takes a value is that value, never an option. Empty when there is none.
std::string repeated_option(const CLI::App& app, int argc, const char* const* argv);

// `--chart --no-pause` must not write a file named "--no-pause"; `--chart=./--odd` still can.
void refuse_option_as_value(const CLI::App& app, const named_values& values);

// Refuses any option of `app` itself with "<refusal> (--size given before it)": a subcommand takes
// none of the benchmark's.
void refuse_benchmark_options(const CLI::App& app, const std::string& refusal);

// CLI11's own wording for what it refuses, in this program's words.
std::string own_words(const CLI::ParseError& e);

// "90s", "30m", "2h", "1.5h": a positive time in nanoseconds.
std::int64_t parse_duration(const std::string& name, const std::string& text);
