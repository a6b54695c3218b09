// The CPU-count sweep: one fresh process per step, started with its CPU mask already in place, so
// no thread of a step (pool workers, sort threads, chunk tasks, oneTBB's workers) escapes its CPUs
// and no state (oneTBB's arena, cached thread counts) leaks from one step into the next.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/options.hpp"

// The parent: runs each step, prints a line per finished step and then the scaling tables, and
// writes the exports. A failed step ends the sweep with one error line and exit status 1; SIGINT,
// SIGTERM or SIGHUP end the running step at once and exit with 128 + the signal. Either way the
// exports are written with the completed steps and marked incomplete, and no step process is left.
// `cpu_order` is the order in which steps take CPUs (the first N for a step of N).
int run_sweep(const options& opts, const std::vector<unsigned>& cpu_order);

// The order of the steps in each round: ascending for a single round, else a shuffle per round
// that depends on `seed` alone.
std::vector<std::vector<std::size_t>> round_orders(std::size_t steps, unsigned rounds, std::uint64_t seed);
