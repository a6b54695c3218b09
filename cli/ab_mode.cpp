// The interleaved comparison: its trial runs, its rounds of pairs of workers (or of side processes
// for a side that answers no units), its report and gate.
#include "cli/ab_mode.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <limits>
#include <optional>
#include <random>
#include <system_error>
#include <tuple>

#include "bench/progress.hpp"
#include "cli/ab_sides.hpp"
#include "cli/child_process.hpp"
#include "cli/compare_mode.hpp"
#include "cli/step_process.hpp"
#include "cli/sweep.hpp"
#include "common/clock.hpp"
#include "common/error.hpp"
#include "common/input_file.hpp"
#include "machine/cpus.hpp"
#include "records/json_reader.hpp"
#include "records/strategy.hpp"
#include "records/record_fields.hpp"
#include "report/ab_report.hpp"
#include "report/exports.hpp"

std::vector<bool> alternating_starts(unsigned rounds, std::uint64_t seed) {
    std::vector<bool> new_first(rounds);
    const bool first = std::mt19937_64(seed)() % 2 == 1;
    for (unsigned r = 0; r < rounds; ++r) {
        new_first[r] = (r % 2 == 1) != first;
    }
    return new_first;
}

std::vector<std::pair<std::size_t, std::size_t>> environment_pads(unsigned rounds, std::uint64_t seed) {
    // A generator of its own, so that the pads leave the starting sides as the seed drew them.
    std::mt19937_64 generator(seed ^ 0x9e3779b97f4a7c15ull);
    std::vector<std::pair<std::size_t, std::size_t>> pads(rounds);
    for (auto& [base, next] : pads) {
        base = generator() % (max_environment_pad + 1);
        next = generator() % (max_environment_pad + 1);
    }
    return pads;
}

namespace {

// A side's record as it wrote it: read, checked to be one plain run, and kept in its own order.
// Throws std::runtime_error; the message of a record newer than this program reads names the remedy.
struct side_record {
    benchmark_results record;
    nlohmann::ordered_json document;
};

side_record read_side_record(const std::string& path) {
    std::string text;
    try {
        text = read_input_file(path, 256u << 20, '{');
    } catch (const input_error& e) {
        throw std::runtime_error(std::string("it wrote no record: ") + e.what());
    }
    side_record side;
    side.document = nlohmann::ordered_json::parse(text, nullptr, false);
    if (side.document.is_object() && side.document.contains("format_version") &&
        side.document["format_version"].is_number_integer() &&
        side.document["format_version"].get<std::int64_t>() > export_format_version) {
        throw std::runtime_error("it writes records of format version " +
                                 std::to_string(side.document["format_version"].get<std::int64_t>()) +
                                 ", newer than this program reads (1 to " + std::to_string(export_format_version) +
                                 "); run ab from the newer build");
    }
    try {
        // Parsed once: the document in the side's order serves both the export and the reading.
        export_document parsed = side.document.is_discarded() ? parse_export(text)
                                                              : parse_export(nlohmann::json(side.document));
        if (parsed.sweep.is_sweep() || parsed.sweep.steps.size() != 1) {
            throw std::runtime_error("its record is not one plain run");
        }
        side.record = std::move(parsed.sweep.steps.front().results);
    } catch (const export_error& e) {
        throw std::runtime_error(std::string("its record cannot be read: ") + e.what());
    }
    return side;
}

enum class side_id { base, next };

const char* side_name(side_id id) { return id == side_id::base ? "base" : "new"; }

const ab_side& side_of(const ab_options& opts, side_id id) { return id == side_id::base ? opts.base : opts.next; }

struct side_outcome : step_outcome {
    side_record side;
};

// How long a side's run may take before it is taken for hung: --timeout, else an hour while no
// round has shown how long an honest run takes, then ten times the longest of the rounds before,
// at least five minutes.
constexpr std::int64_t minute_ns = 60'000'000'000;

std::int64_t side_timeout(const ab_options& opts, std::int64_t longest_ns) {
    if (opts.timeout_ns > 0) {
        return opts.timeout_ns;
    }
    return longest_ns == 0 ? 60 * minute_ns : std::max(5 * minute_ns, 10 * longest_ns);
}

// A side's check and trial, at the smallest size, are taken for hung after five minutes.
std::int64_t trial_timeout(const ab_options& opts) { return opts.timeout_ns > 0 ? opts.timeout_ns : 5 * minute_ns; }

// One run of a side, its record exported into the scratch folder and read back.
side_outcome run_side(const ab_side& side, std::vector<std::string> args, const std::string& record,
                      progress_line& progress, std::int64_t timeout_ns, std::size_t pad = 0) {
    args.insert(args.end(), {"--export-json", record});
    side_outcome outcome;
    static_cast<step_outcome&>(outcome) = run_step_process(side.program, args, allowed_cpus(), -1, 0, progress,
                                                           timeout_ns, {"QSB_ENVIRONMENT_PAD=" + std::string(pad, 'x')});
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

// A side as a worker of a round: its record's file in the scratch folder, open for it to write.
struct side_worker {
    std::string record;
    int fd;
    unit_worker worker;
    side_worker(const ab_side& side, std::vector<std::string> args, std::string path, std::size_t pad)
        : record(std::move(path)), fd(open_record(record)),
          worker(side.program, args, allowed_cpus(), fd,
                 {"QSB_ENVIRONMENT_PAD=" + std::string(pad, 'x'), std::string(step_units_variable) + "=" +
                                                                   unit_protocol_version}) {}
    ~side_worker() { ::close(fd); }
    side_worker(const side_worker&) = delete;
    side_worker& operator=(const side_worker&) = delete;

    static int open_record(const std::string& path) {
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0) {
            throw std::system_error(errno, std::generic_category(), "cannot create a file for a side's record");
        }
        return fd;
    }
};

// Whether a side's program answers units of this protocol: a worker at the trial's size, asked
// for its hello and ended at once. An older build, which takes the request for a run of its own,
// is ended at its first line. `interrupted` takes a signal caught meanwhile.
bool answers_units(const ab_side& side, const std::string& record, std::int64_t timeout_ns, int& interrupted) {
    side_worker probe(side, trial_arguments(side.arguments), record, 0);
    const std::optional<std::string> greeting = probe.worker.answer(timeout_ns);
    const bool speaks = greeting && read_unit_greeting(*greeting);
    interrupted = probe.worker.outcome().interrupted_by;
    return speaks; // and ended, unasked, as it goes
}

// The sides in the order a round that `new_first` starts runs them.
std::array<side_id, 2> round_order(bool new_first) {
    return new_first ? std::array{side_id::next, side_id::base} : std::array{side_id::base, side_id::next};
}

// The bytes a side's environment is padded by this round.
std::size_t pad_of(const ab_round& round, side_id id) { return id == side_id::base ? round.base_pad : round.next_pad; }

// A side's record, as read and as it wrote it, kept in its round.
void keep_record(ab_round& round, side_id id, side_record read) {
    (id == side_id::base ? round.base : round.next) = std::move(read.record);
    (id == side_id::base ? round.base_record : round.next_record) =
        std::make_shared<const nlohmann::ordered_json>(std::move(read.document));
}

// Which side sorts first in pair `k` of a strategy in a round that `new_first` starts: ABBA blocks,
// so that going first, and any drift within the block, falls on both sides alike.
bool pair_new_first(bool new_first, std::size_t k) { return (k % 4 == 0 || k % 4 == 3) == new_first; }

// Each side's options as given, judged by its own program without measuring (--validate): a size
// or a count it would refuse is refused now, not in round 1. An older program that knows no
// --validate, or a wrapper that fails it otherwise than with the status of bad options (2), is left
// to the trial run. The status to end with, or 0.
int validate_sides(const ab_options& opts) {
    progress_line quiet(nullptr);
    for (const side_id id : {side_id::base, side_id::next}) {
        const ab_side& side = side_of(opts, id);
        std::vector<std::string> args = side.arguments;
        args.push_back("--validate");
        const step_outcome checked =
            run_step_process(side.program, args, allowed_cpus(), -1, 0, quiet, trial_timeout(opts));
        if (checked.interrupted_by != 0) {
            print_error(std::cerr, "interrupted");
            return checked.run_status();
        }
        if (checked.exit_code == 2 && checked.failure.find("--validate") == std::string::npos) {
            print_error(std::cerr, std::string("the ") + side_name(id) + " side's options are refused (" +
                                       side_text(side) + "): " + checked.failure);
            return 2;
        }
    }
    return 0;
}

// Each side once at the smallest size: its program takes its options and writes a record this
// program reads. Then whether both answer units: if so, `paired` takes the strategies both
// records hold, in the base's order; if not, the one that does not is said in a line and the
// rounds run each side as a whole process. The status to end with, or 0.
int try_sides(const ab_options& opts, const campaign& run, std::vector<std::string>& paired) {
    if (const int refused = validate_sides(opts); refused != 0) {
        return refused;
    }
    progress_line quiet(nullptr);
    std::vector<std::string> names[2];
    for (const side_id id : {side_id::base, side_id::next}) {
        const ab_side& side = side_of(opts, id);
        const side_outcome trial = run_side(side, trial_arguments(side.arguments),
                                            run.file(std::string("trial-") + side_name(id) + ".json"),
                                            quiet, trial_timeout(opts));
        if (trial.interrupted_by != 0) {
            print_error(std::cerr, "interrupted");
            return trial.run_status();
        }
        if (!trial.ok) {
            print_error(std::cerr, std::string("the ") + side_name(id) + " side cannot run (" + side_text(side) +
                                       "): " + trial.failure);
            return 2;
        }
        for (const auto& s : trial.side.record.strategies) {
            names[id == side_id::base ? 0 : 1].push_back(s.name);
        }
    }
    for (const side_id id : {side_id::base, side_id::next}) {
        int interrupted = 0;
        const bool answers = answers_units(side_of(opts, id), run.file(std::string("probe-") + side_name(id) + ".json"),
                                           trial_timeout(opts), interrupted);
        if (interrupted != 0) {
            print_error(std::cerr, "interrupted");
            return status_after_signal(interrupted);
        }
        if (!answers) {
            std::cerr << "ab: the " << side_name(id) << " side does not answer units of protocol version "
                      << unit_protocol_version << " (an older build?): each round runs each side once as a whole process"
                      << std::endl;
            return 0;
        }
    }
    for (const auto& name : names[0]) {
        if (std::find(names[1].begin(), names[1].end(), name) != names[1].end()) {
            paired.push_back(name);
        }
    }
    return 0;
}

// Why a round of pairs ended early: the side and its words, and how its worker ended.
struct round_failure {
    std::string failure;
    step_outcome outcome;
};

round_failure side_failure(side_id id, const step_outcome& outcome, const std::string& otherwise) {
    return {std::string(side_name(id)) + ": " + (outcome.failure.empty() ? otherwise : outcome.failure), outcome};
}

// One round of pairs: both sides started as workers in the round's order, each with its pad; then,
// `runs` times over the strategies in the round's `order`, a pair of each (both sides' units back to
// back, the first by ABBA blocks); then both finished, their records read into `round`. Each
// request waits at most `limit_ns`. A side that fails ends the round with its words.
std::optional<round_failure> run_pairs(const ab_options& opts, campaign& run, std::size_t r,
                                       const std::string& prefix, const std::vector<std::string>& strategies,
                                       const std::vector<std::size_t>& order, ab_round& round, std::int64_t limit_ns) {
    std::optional<side_worker> workers[2]; // by side_id
    const auto worker_of = [&](side_id id) -> unit_worker& { return workers[static_cast<std::size_t>(id)]->worker; };
    std::uint64_t runs = std::numeric_limits<std::uint64_t>::max();
    for (const side_id id : round_order(round.new_first)) {
        const ab_side& side = side_of(opts, id);
        workers[static_cast<std::size_t>(id)].emplace(
            side, side.arguments, run.file("round-" + std::to_string(r + 1) + "-" + side_name(id) + ".json"),
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
            keep_record(round, id, read_side_record(workers[static_cast<std::size_t>(id)]->record));
        } catch (const std::runtime_error& e) {
            return side_failure(id, ended, e.what());
        }
    }
    return std::nullopt;
}

// One round of whole processes: each side once, in the round's order, with its pad, its record read
// into `round`; `longest_ns` keeps the longest side's run so far.
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
                                    run.file("round-" + std::to_string(r + 1) + "-" + side_name(id) + ".json"),
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

// Every round, both sides in the round's own order (pairs of the `paired_strategies`' units; with
// none, each side once whole), until all are done or a side fails; the finished rounds land in
// `ab`. With --max-time, rounds go on until a look finds every strategy decided, the time is
// spent or the last look is taken; each look's verdicts land in `ab.judged`.
// The status to end with.
int run_rounds(const ab_options& opts, campaign& run, ab_results& ab, const std::vector<std::string>& paired_strategies) {
    const bool paired = !paired_strategies.empty();
    const bool sequential = opts.max_time_ns > 0;
    const std::vector<std::size_t> looks = sequential ? look_rounds(opts.gate.alpha, measured_strategy_count) : std::vector<std::size_t>{};
    const unsigned planned = sequential ? static_cast<unsigned>(looks.back()) : opts.rounds;
    ab.rounds_planned = planned;
    const std::int64_t began = now_ns();
    progress_line& progress = run.progress();
    // What the line counts: each side's run, or each pair once the first round has shown how many.
    std::uint64_t per_round = paired ? 0 : 2;
    progress.restart(per_round * (sequential ? looks.front() : planned));
    // Each round runs both sides, so that whatever the machine does over the minutes falls on both
    // alike and cancels in the round's ratio; which goes first alternates, so that going first
    // favours neither side.
    const std::vector<bool> new_first = alternating_starts(planned, opts.seed);
    // Where a process's stack starts moves with its environment's size: a pad of its own each round
    // makes that an effect that averages out over the rounds, not one that favours a side.
    const auto pads = environment_pads(planned, opts.seed);
    // The strategies' order in each round of pairs, shuffled apart from the starts and the pads.
    const auto strategy_orders = round_orders(paired_strategies.size(), std::max(planned, 2u), opts.seed ^ 0x5bd1e995u);
    std::int64_t longest_ns = 0; // the longest run of a side so far
    for (std::size_t r = 0; r < new_first.size(); ++r) {
        // Another round only while one more as long as the longest side's twice fits the time.
        if (sequential && now_ns() - began + 2 * longest_ns > opts.max_time_ns) {
            break;
        }
        const unsigned until = sequential ? static_cast<unsigned>(looks.at(ab.looks.size())) : planned;
        ab_round round;
        round.new_first = new_first[r];
        std::tie(round.base_pad, round.next_pad) = pads[r];
        const std::int64_t limit = side_timeout(opts, longest_ns); // from the rounds before this one
        const std::string prefix = "round " + std::to_string(r + 1) + "/" + std::to_string(until) + ", ";
        const std::int64_t started = now_ns();
        const std::optional<round_failure> failed =
            paired ? run_pairs(opts, run, r, prefix, paired_strategies, strategy_orders[r], round, limit)
                   : run_whole_sides(opts, run, r, prefix, round, limit, longest_ns);
        progress.erase();
        if (failed) {
            ab.failure = "round " + std::to_string(r + 1) + ", " + failed->failure;
            return campaign::failed(ab.failure, failed->outcome);
        }
        if (paired) {
            longest_ns = std::max(longest_ns, (now_ns() - started) / 2); // half a round: a side's share
        }
        if (!run.terminal()) {
            std::cerr << round_line(round, r + 1, until) << std::endl;
        }
        ab.rounds.push_back(std::move(round));
        if (per_round == 0) {
            per_round = ab.rounds.back().pairs.size();
            progress.restart(per_round * (until - ab.rounds.size()));
        }
        if (sequential && ab.rounds.size() == until) {
            ab.looks.push_back({until, look_alpha(opts.gate.alpha, ab.looks.size())});
            if (take_look(ab.rounds, ab.looks.back(), opts.gate.threshold, ab.judged) || ab.looks.size() == looks.size()) {
                break;
            }
            progress.restart(per_round * (looks[ab.looks.size()] - until));
        }
    }
    return EXIT_SUCCESS;
}

// The verdicts over the rounds run: a fixed number's at --alpha; a sequential run's from its looks,
// with one more look over the rounds run since the last, at its own share.
void judge_rounds(const ab_options& opts, ab_results& ab) {
    if (opts.max_time_ns == 0) {
        ab.judged = compare_rounds(ab.rounds, opts.gate.alpha, opts.gate.threshold);
        return;
    }
    if (!ab.rounds.empty() && (ab.looks.empty() || ab.looks.back().rounds != ab.rounds.size())) {
        ab.looks.push_back({ab.rounds.size(), look_alpha(opts.gate.alpha, ab.looks.size())});
        take_look(ab.rounds, ab.looks.back(), opts.gate.threshold, ab.judged);
    }
    ab.judged.alpha = opts.gate.alpha; // the comparison's, of which each look spent its share
}

} // namespace

int run_ab(const ab_options& opts) {
    campaign run("ab");
    std::vector<std::string> paired; // the strategies of rounds of pairs; none: rounds of processes
    if (const int refused = try_sides(opts, run, paired); refused != 0) {
        return refused;
    }
    ab_results ab;
    ab.base = opts.base;
    ab.next = opts.next;
    ab.rounds_planned = opts.rounds;
    ab.seed = opts.seed;
    const int ended = run_rounds(opts, run, ab, paired);
    judge_rounds(opts, ab);
    if (ended == EXIT_SUCCESS) {
        // Standard output holds an export written to "-" alone.
        print_ab(ab, opts.exports.to_stdout() ? std::cerr : std::cout);
    }
    write_exports(opts.exports, ab);
    if (ended != EXIT_SUCCESS) {
        return ended;
    }
    return gate_status(ab.judged, opts.gate.fail_on_slower, opts.gate.allow_inconclusive,
                       opts.max_time_ns > 0 ? "more time decides them: --max-time" : "more rounds decide them: --rounds");
}
