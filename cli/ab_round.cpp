// One round of `ab` and the runs of a side around the rounds.
#include "cli/ab_round.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <filesystem>
#include <limits>
#include <stdexcept>
#include <system_error>

#include "cli/ab_sides.hpp"
#include "cli/unit_worker.hpp"
#include "common/clock.hpp"
#include "common/input_file.hpp"
#include "machine/cpus.hpp"
#include "records/json_reader.hpp"
#include "records/record_fields.hpp"

namespace {

// A side's record read, checked to be one plain run, and kept in its own order. Throws
// std::runtime_error; the message of a record newer than this program reads names the remedy.
side_record read_side_record(const std::string& path) {
    std::string text;
    try {
        text = read_input_file(path, 256u << 20, '{');
    } catch (const input_error& e) {
        throw std::runtime_error(std::string("it wrote no record: ") + e.what());
    }
    side_record side;
    nlohmann::ordered_json document = nlohmann::ordered_json::parse(text, nullptr, false);
    if (document.is_object() && document.contains("format_version") &&
        document["format_version"].is_number_integer() &&
        document["format_version"].get<std::int64_t>() > export_format_version) {
        throw std::runtime_error("it writes records of format version " +
                                 std::to_string(document["format_version"].get<std::int64_t>()) +
                                 ", newer than this program reads (1 to " + std::to_string(export_format_version) +
                                 "); run ab from the newer build");
    }
    try {
        // Parsed once: the document in the side's order serves both the export and the reading.
        export_document parsed =
            document.is_discarded() ? parse_export(text) : parse_export(nlohmann::json(document));
        if (parsed.sweep.is_sweep() || parsed.sweep.steps.size() != 1) {
            throw std::runtime_error("its record is not one plain run");
        }
        side.record = std::move(parsed.sweep.steps.front().results);
    } catch (const export_error& e) {
        throw std::runtime_error(std::string("its record cannot be read: ") + e.what());
    }
    side.document = std::make_shared<const nlohmann::ordered_json>(std::move(document));
    return side;
}

// The entry that pads a side's environment by `pad` bytes, for a whole run and a worker alike.
std::string pad_entry(std::size_t pad) { return "QSB_ENVIRONMENT_PAD=" + std::string(pad, 'x'); }

constexpr std::int64_t minute_ns = 60'000'000'000;

} // namespace

const char* side_name(side_id id) { return id == side_id::base ? "base" : "new"; }

const ab_side& side_of(const ab_options& opts, side_id id) { return id == side_id::base ? opts.base : opts.next; }

std::int64_t side_timeout(const ab_options& opts, std::int64_t longest_ns) {
    if (opts.timeout_ns > 0) {
        return opts.timeout_ns;
    }
    return longest_ns == 0 ? 60 * minute_ns : std::max(5 * minute_ns, 10 * longest_ns);
}

std::int64_t trial_timeout(const ab_options& opts) { return opts.timeout_ns > 0 ? opts.timeout_ns : 5 * minute_ns; }

side_outcome run_side(const ab_side& side, std::vector<std::string> args, const std::string& record,
                      progress_line& progress, std::int64_t timeout_ns, std::size_t pad) {
    args.insert(args.end(), {"--export-json", record});
    side_outcome outcome;
    static_cast<step_outcome&>(outcome) = run_step_process(side.program, args, allowed_cpus(), -1, 0, progress,
                                                           timeout_ns, {pad_entry(pad)});
    if (outcome.ok) {
        try {
            outcome.side = read_side_record(record);
        } catch (const std::runtime_error& e) {
            outcome.ok = false;
            outcome.failure = e.what();
        }
    }
    std::error_code ignored;
    std::filesystem::remove(record, ignored);
    return outcome;
}

namespace {

// A side as a worker of a round: its record's file in the scratch folder, open for it to write.
struct side_worker {
    record_file record;
    unit_worker worker;
    side_worker(const ab_side& side, const std::vector<std::string>& args, std::string path, std::size_t pad)
        : record(std::move(path)),
          worker(side.program, args, allowed_cpus(), record.fd(),
                 {pad_entry(pad), std::string(step_units_variable) + "=" + unit_protocol_version}) {}
};

} // namespace

bool answers_units(const ab_side& side, const std::string& record, std::int64_t timeout_ns, int& interrupted) {
    side_worker probe(side, trial_arguments(side.arguments), record, 0);
    const std::optional<std::string> greeting = probe.worker.answer(timeout_ns);
    const bool speaks = greeting && read_unit_greeting(*greeting);
    interrupted = probe.worker.outcome().interrupted_by;
    return speaks; // and ended, unasked, as it goes
}

namespace {

// The sides in the order a round that `new_first` starts runs them.
std::array<side_id, 2> round_order(bool new_first) {
    return new_first ? std::array{side_id::next, side_id::base} : std::array{side_id::base, side_id::next};
}

// The bytes a side's environment is padded by this round.
std::size_t pad_of(const ab_round& round, side_id id) { return id == side_id::base ? round.base_pad : round.next_pad; }

// A side's record, as read and as it wrote it, kept in its round.
void keep_record(ab_round& round, side_id id, side_record read) {
    (id == side_id::base ? round.base : round.next) = std::move(read.record);
    (id == side_id::base ? round.base_record : round.next_record) = std::move(read.document);
}

// Which side sorts first in pair `k` of a strategy in a round that `new_first` starts: ABBA blocks,
// so that going first, and any drift within the block, falls on both sides alike.
bool pair_new_first(bool new_first, std::size_t k) { return (k % 4 == 0 || k % 4 == 3) == new_first; }

round_failure side_failure(side_id id, const step_outcome& outcome, const std::string& otherwise) {
    return {std::string(side_name(id)) + ": " + (outcome.failure.empty() ? otherwise : outcome.failure), outcome};
}

// A side's record file in the scratch folder for round `r` (from 0).
std::string round_record(std::size_t r, side_id id) {
    return "round-" + std::to_string(r + 1) + "-" + side_name(id) + ".json";
}

} // namespace

std::optional<round_failure> run_pairs(const ab_options& opts, campaign& run, std::size_t r,
                                       const std::string& prefix, const std::vector<std::string>& strategies,
                                       const std::vector<std::size_t>& order, ab_round& round, std::int64_t limit_ns) {
    std::optional<side_worker> workers[2]; // by side_id
    const auto worker_of = [&](side_id id) -> unit_worker& { return workers[static_cast<std::size_t>(id)]->worker; };
    std::uint64_t runs = std::numeric_limits<std::uint64_t>::max();
    for (const side_id id : round_order(round.new_first)) {
        const ab_side& side = side_of(opts, id);
        workers[static_cast<std::size_t>(id)].emplace(
            side, side.arguments, run.file(round_record(r, id)),
            pad_of(round, id));
        const std::optional<std::string> greeting = worker_of(id).answer(limit_ns);
        const std::optional<std::uint64_t> asked = greeting ? read_unit_greeting(*greeting) : std::nullopt;
        if (!asked) {
            return side_failure(id, worker_of(id).outcome(), "it no longer answers units as in its trial");
        }
        runs = std::min(runs, *asked);
    }
    progress_line& progress = run.progress();
    progress.set_prefix(prefix + "pairs");
    progress.phase("", runs * strategies.size());
    for (std::uint64_t k = 0; k < runs; ++k) {
        for (const std::size_t at : order) {
            ab_pair pair{strategies[at], 0, pair_new_first(round.new_first, k), 0, 0};
            for (const side_id id : round_order(pair.new_first)) {
                const std::optional<std::string> line = worker_of(id).ask("unit " + pair.strategy, limit_ns);
                const std::optional<unit_reply> reply = line ? read_unit_reply(*line) : std::nullopt;
                if (!reply) {
                    return side_failure(id, worker_of(id).outcome(),
                                        "its answer to a unit of " + pair.strategy + " is none of the protocol's");
                }
                (id == side_id::base ? pair.base_ns : pair.next_ns) = reply->median_ns;
                pair.array = reply->smallest_array;
            }
            round.pairs.push_back(std::move(pair));
            progress.sorted();
            progress.draw();
        }
    }
    for (const side_id id : {side_id::base, side_id::next}) {
        const step_outcome& ended = worker_of(id).finish(limit_ns);
        if (!ended.ok) {
            return side_failure(id, ended, "");
        }
        try {
            keep_record(round, id, read_side_record(workers[static_cast<std::size_t>(id)]->record.path()));
        } catch (const std::runtime_error& e) {
            return side_failure(id, ended, e.what());
        }
    }
    return std::nullopt;
}

std::optional<round_failure> run_whole_sides(const ab_options& opts, campaign& run, std::size_t r,
                                             const std::string& prefix, ab_round& round, std::int64_t limit_ns,
                                             std::int64_t& longest_ns) {
    progress_line& progress = run.progress();
    for (const side_id id : round_order(round.new_first)) {
        const ab_side& side = side_of(opts, id);
        progress.phase("", 0);
        progress.set_prefix(prefix + side_name(id));
        const std::int64_t started = now_ns();
        side_outcome ran = run_side(side, side.arguments,
                                    run.file(round_record(r, id)),
                                    progress, limit_ns, pad_of(round, id));
        longest_ns = std::max(longest_ns, now_ns() - started);
        progress.erase();
        if (!ran.ok) {
            return side_failure(id, ran, "");
        }
        progress.sorted();
        keep_record(round, id, std::move(ran.side));
    }
    return std::nullopt;
}
