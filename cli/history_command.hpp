// The `history` subcommand's options: what each action takes, read into its settings.
#pragma once

#include <string>

#include "cli/option_rules.hpp"
#include "cli/options.hpp"

struct history_texts {
    std::string file, machine, label, revision, since, until, size, last, strategy, to;
};

// Adds `history` with its actions to `app`, reading into `h` and `texts`.
CLI::App* add_history_command(CLI::App& app, history_options& h, history_texts& texts);

// Checks and converts what `history` was given, once parsed; throws CLI::ValidationError.
void finish_history(const CLI::App& app, const CLI::App& history, history_options& h, const history_texts& texts);
