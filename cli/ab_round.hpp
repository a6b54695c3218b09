// One round of `ab`: both sides as workers whose units are paired strategy by strategy, or, for a
// side that answers no units, each side once as a whole process; and the runs of a side around the
// rounds (its trial, the question whether it answers units).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "bench/progress.hpp"
#include "cli/child_process.hpp"
#include "cli/options.hpp"
#include "cli/step_process.hpp"
#include "records/ab.hpp"

enum class side_id { base, next };

const char* side_name(side_id id);
const ab_side& side_of(const ab_options& opts, side_id id);

// A side's record: read, checked to be one plain run, and kept as it wrote it, in its own order.
struct side_record {
    benchmark_results record;
    std::shared_ptr<const nlohmann::ordered_json> document;
};

struct side_outcome : step_outcome {
    side_record side;
};

// How long a side's run may take before it is taken for hung: --timeout, else an hour while no
// round has shown how long an honest run takes, then ten times the longest of the rounds before,
// at least five minutes.
std::int64_t side_timeout(const ab_options& opts, std::int64_t longest_ns);

// A side's check and trial, at the smallest size, are taken for hung after five minutes.
std::int64_t trial_timeout(const ab_options& opts);

// One run of a side, its record exported into the scratch folder as `record` and read back; its
// environment padded by `pad` bytes.
side_outcome run_side(const ab_side& side, std::vector<std::string> args, const std::string& record,
                      progress_line& progress, std::int64_t timeout_ns, std::size_t pad = 0);

// Whether a side's program answers units of this protocol: a worker at the trial's size, asked
// for its hello and ended at once. An older build, which takes the request for a run of its own,
// is ended at its first line. `interrupted` takes a signal caught meanwhile.
bool answers_units(const ab_side& side, const std::string& record, std::int64_t timeout_ns, int& interrupted);

// Why a round ended early: the side and its words, and how its process ended.
struct round_failure {
    std::string failure;
    step_outcome outcome;
};

// One round of pairs: both sides started as workers in the round's order, each with its pad; then,
// `runs` times over the strategies in the round's `order`, a pair of each (both sides' units back to
// back, the first by ABBA blocks); then both finished, their records read into `round`. Each
// request waits at most `limit_ns`. A side that fails ends the round with its words.
std::optional<round_failure> run_pairs(const ab_options& opts, campaign& run, std::size_t r,
                                       const std::string& prefix, const std::vector<std::string>& strategies,
                                       const std::vector<std::size_t>& order, ab_round& round, std::int64_t limit_ns);

// One round of whole processes: each side once, in the round's order, with its pad, its record read
// into `round`; `longest_ns` keeps the longest side's run so far.
std::optional<round_failure> run_whole_sides(const ab_options& opts, campaign& run, std::size_t r,
                                             const std::string& prefix, ab_round& round, std::int64_t limit_ns,
                                             std::int64_t& longest_ns);
