// The run options: one table that the run command, `ab`, a side's checks and the children's
// arguments all read, so that each option's name, limits, help and reach are written once.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "bench/config.hpp"

namespace CLI {
class App;
}

struct options;

// What an `ab` side may be given of a run option: a side is one plain run of one process, and its
// records are `ab`'s to keep.
enum class side_rule { takes, more_than_one_run, records };

// A run option as a row: its name, its help, what an `ab` side may do with it and, for the options
// that set what is measured, how its text is read into the settings (throwing CLI::ValidationError
// in this program's words) and `ab`'s help; and the words that give it to a child.
struct setting_option {
    const char* name;      // "--size"
    const char* type_name; // "N"; empty for a flag
    const char* help;      // the run command's
    side_rule side;
    const char* ab_help = nullptr; // both sides get it from `ab`; null for the run command's own options
    void (*read)(const std::string& text, run_settings& settings) = nullptr; // a flag's text is empty
    std::vector<std::string> (*words)(const options& opts) = nullptr;       // none when a child does not get it
    bool is_flag() const { return *type_name == '\0'; }
};

// Every run option, in the order --help lists them.
enum class setting : std::size_t {
    size, runs, chunk, no_pause, reference, breakdown, values, export_json, export_csv, export_markdown, chart,
    export_gbench, export_html, precision, max_runs, max_time, cpus, resources, no_counters, rounds, processes,
    max_processes, record, history, label, seed, validate
};
extern const std::array<setting_option, 27> setting_options;

// The settings `ab` gives both sides (those with an `ab_help`), in the order its help lists them.
inline constexpr std::array<setting, 5> both_sides = {setting::size, setting::runs, setting::chunk, setting::values,
                                                     setting::reference};

inline const setting_option& setting_of(setting s) { return setting_options[static_cast<std::size_t>(s)]; }
inline const char* option_name(setting s) { return setting_of(s).name; }

// What a setting's option was given: a valued option's text; a flag's value as CLI11 reads a flag
// (--reference=false turns it off).
struct setting_text {
    std::string text;
    bool on = false;
};
using setting_texts = std::array<setting_text, 27>; // by `setting`

// Adds the option of `s` to `command` with the run command's help, or `ab`'s, read into `given`.
void add_setting(CLI::App& command, setting s, setting_text& given, bool ab = false);

// Reads the option of `s`, one that sets what is measured, into `settings` when `command` was given
// it (a flag only when on). O(1).
void read_setting(const CLI::App& command, setting s, const setting_text& given, run_settings& settings);

// Appends to `words` the words that give `opts`' value of `s` to another process: {"--size", "1000000"}.
void append_setting(std::vector<std::string>& words, setting s, const options& opts);

// Whether `name` is a run option that takes a value ("--chunk"); false for flags and unknown names.
bool run_option_takes_value(const std::string& name);

// Why an `ab` side may not be given run option `name`, or nothing when it may (or is not one).
std::optional<std::string> side_refusal_of(const std::string& name);
