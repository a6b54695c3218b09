// `quicksort_bench ab`: both sides tried once, then run in interleaved rounds, judged over the
// rounds, reported and gated as `compare` is.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "cli/options.hpp"

// Tries each side once at the smallest size (a side whose program refuses its options, or writes a
// record this program cannot read, is refused with status 2 before any round), then runs the
// rounds: a side that fails ends the run with "round k, base: <its message>" and status 1, a caught
// SIGINT, SIGTERM or SIGHUP with 128 + the signal; the exports asked for are written either way,
// marked incomplete, and no process or scratch file is left behind. Otherwise the table, the
// exports and compare's gate statuses.
int run_ab(const ab_options& opts);

// Which side starts each of `rounds` rounds (true: the new one): the first round's from `seed`,
// then every round the other, so that each side starts half the rounds (one more when odd).
std::vector<bool> alternating_starts(unsigned rounds, std::uint64_t seed);

// The most bytes a side's environment is padded by in a round.
inline constexpr std::size_t max_environment_pad = 4096;

// Each round's pads (base, new), 0 to max_environment_pad bytes each, drawn from `seed`.
std::vector<std::pair<std::size_t, std::size_t>> environment_pads(unsigned rounds, std::uint64_t seed);
