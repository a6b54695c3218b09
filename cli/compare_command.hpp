// The `compare` subcommand's options.
#pragma once

#include "cli/option_rules.hpp"
#include "cli/options.hpp"

struct compare_texts {
    gate_texts gate;
    std::string drift;
};

// Adds `compare` to `app`, reading into `cmp` and `texts`.
CLI::App* add_compare_command(CLI::App& app, compare_options& cmp, compare_texts& texts);

// Checks and converts what `compare` was given, once parsed; throws CLI::ValidationError.
void finish_compare(const CLI::App& app, const CLI::App& compare, compare_options& cmp, const compare_texts& texts);
