// The `history` subcommands, and the recording of a finished run.
#pragma once

#include <string>

#include "cli/option_rules.hpp"
#include "cli/options.hpp"
#include "report/results.hpp"

struct history_texts {
    std::string file, machine, label, since, until, size, last, strategy;
};

// Adds `history` with its actions to `app`, reading into `h` and `texts`.
CLI::App* add_history_command(CLI::App& app, history_options& h, history_texts& texts);

// Checks and converts what `history` was given, once parsed; throws CLI::ValidationError.
void finish_history(const CLI::App& app, const CLI::App& history, history_options& h, const history_texts& texts);

// Runs the action: 0, 2 for a refused file or request (one line), 1 when a write failed.
int run_history(const history_options& h);

// After a run's report and exports: stores `run` (its export `document`) in the history the
// options name. 0, or 1 with one line on stderr when it could not be stored; the report and the
// exports stand either way.
int record_run(const options& opts, const sweep_results& run, const std::string& document);
