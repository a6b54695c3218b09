// A run of several processes: the whole measurement repeated in fresh processes of this program,
// one after another, because the sorts of one process share its memory placement, the machine's
// state of that minute and the allocator's history, and so cannot show how much the next process
// differs.
#pragma once

#include "cli/options.hpp"
#include "records/pooling.hpp"

// Runs `opts.processes` processes (more, up to the precision goal's --max-processes, until every
// strategy's interval over processes is within the target), then reports over all of them. A
// failed process ends the run with its message and status 1, a caught SIGINT, SIGTERM or SIGHUP
// with 128 + the signal; either way with no report and no exports, and no process left behind.
int run_processes(const options& opts);

// With a precision goal: whether the run may stop after the processes in `pool`, `elapsed_ns` into it.
bool processes_enough(const process_pool& pool, const precision_goal& goal, std::int64_t elapsed_ns);
