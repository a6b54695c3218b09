// The run options that set what is measured (the array, the sorts, the slices, the values, the
// field's sorts): one table that the run command, `ab`, a side's trial and the children's
// arguments all read, so that each option's name, limits and help are written once.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "bench/config.hpp"

namespace CLI {
class App;
}

// A setting as a row: its option, how its text is read into the settings (throwing
// CLI::ValidationError in this program's words), and the words that give the same setting to a
// child or a side.
struct setting_option {
    const char* name;      // "--size"
    const char* type_name; // "N"; empty for a flag
    const char* help;      // the run command's
    const char* ab_help;   // `ab`'s: both sides get it
    void (*read)(const std::string& text, run_settings& settings); // a flag's text is empty
    std::vector<std::string> (*words)(const run_settings& settings); // none for a flag not set
    bool is_flag() const { return *type_name == '\0'; }
};

enum class setting : std::size_t { size, runs, chunk, values, reference };
extern const std::array<setting_option, 5> setting_options;

inline const setting_option& setting_of(setting s) { return setting_options[static_cast<std::size_t>(s)]; }
inline const char* option_name(setting s) { return setting_of(s).name; }

// What a setting's option was given: a valued option's text; a flag's value as CLI11 reads a flag
// (--reference=false turns it off).
struct setting_text {
    std::string text;
    bool on = false;
};
using setting_texts = std::array<setting_text, 5>; // by `setting`

// Adds the option of `s` to `command` with the run command's help, or `ab`'s, read into `given`.
void add_setting(CLI::App& command, setting s, setting_text& given, bool ab = false);

// Reads the option of `s` into `settings` when `command` was given it (a flag only when on). O(1).
void read_setting(const CLI::App& command, setting s, const setting_text& given, run_settings& settings);

// Appends to `words` the words that give `settings`' value of `s` to another process: {"--size", "1000000"}.
inline void append_setting(std::vector<std::string>& words, setting s, const run_settings& settings) {
    const std::vector<std::string> more = setting_of(s).words(settings);
    words.insert(words.end(), more.begin(), more.end());
}
