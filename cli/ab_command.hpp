// The `ab` subcommand's options.
#pragma once

#include <array>

#include "cli/option_rules.hpp"
#include "cli/options.hpp"
#include "cli/run_settings_table.hpp"

// What `ab` was given, before it is checked.
struct ab_texts {
    std::string base_program, next_program, base_options, next_options;
    setting_texts settings; // what both sides get
    gate_texts gate;
    std::string rounds, seed, timeout, max_time;
};

// Adds `ab` to `app`, reading into `ab` and `texts`.
CLI::App* add_ab_command(CLI::App& app, ab_options& ab, ab_texts& texts);

// Checks and converts what `ab` was given, once parsed: the rounds, the alpha they can reach, the
// programs, the sides' options; throws CLI::ValidationError.
void finish_ab(const CLI::App& app, const CLI::App& command, ab_options& ab, const ab_texts& texts);
