// The `ab` subcommand's options, read into the sides, the rounds and the gate.
#include "cli/ab_command.hpp"

#include <filesystem>
#include <sstream>
#include <stdexcept>

#include "analysis/signed_rank.hpp"
#include "bench/config.hpp"
#include "cli/ab_sides.hpp"
#include "records/strategy.hpp"

CLI::App* add_ab_command(CLI::App& app, ab_options& ab, ab_texts& texts) {
    CLI::App* command = app.add_subcommand(
        "ab", "Compare two builds or two settings in interleaved rounds: each round starts both sides as fresh "
              "workers that sort the same arrays unit by unit, back to back in ABBA order, the side that starts "
              "alternating, and the verdict rests on the rounds' ratios, so that the machine's drift cancels");
    command->add_option("--base", texts.base_program, "The base side's program (default: this program)")
        ->type_name("PROGRAM");
    command->add_option("--new", texts.next_program, "The new side's program (default: this program)")
        ->type_name("PROGRAM");
    command->add_option("--base-options", texts.base_options,
                        "The base side's own run options, overriding those given to both (one option alone: "
                        "--base-options=--reference)")
        ->type_name("\"OPTIONS\"");
    command->add_option("--new-options", texts.next_options,
                        "The new side's own run options, e.g. \"--chunk 2000\"")
        ->type_name("\"OPTIONS\"");
    for (const setting s : both_sides) {
        add_setting(*command, s, texts.settings[static_cast<std::size_t>(s)], true);
    }
    command->add_option("--rounds", texts.rounds, "Rounds, each starting both sides once (6 to 1000, default 10)")
        ->type_name("R");
    command->add_option("--max-time", texts.max_time,
                        "Instead of a fixed number of rounds, add rounds until every strategy is decided or this "
                        "much time is spent, e.g. 2m; looks at 9, 14, 21... rounds, each at its share of --alpha")
        ->type_name("DURATION");
    command->add_option("--seed", texts.seed, "The seed of the side starting the first round, of the pads and of the strategies' order (default 1)")->type_name("N");
    add_gate_levels(*command, texts.gate, "The change in percent that counts, as for compare (default 2)");
    command->add_option("--timeout", texts.timeout,
                        "End a side's run that takes longer than this, e.g. 20m (default: an hour in the first "
                        "round, then ten times the longest run so far, at least 5 minutes)")
        ->type_name("DURATION");
    add_gate_flags(*command, ab.gate);
    command->add_option("--export-json", ab.exports.json,
                        "Write every round (its order and both sides' records) and the verdicts as JSON")
        ->type_name("FILE");
    command->add_option("--export-markdown", ab.exports.markdown, "Write the table as Markdown")->type_name("FILE");
    command->add_option("--export-html", ab.exports.html,
                        "Write a self-contained HTML page with the table and the rounds' ratios")
        ->type_name("FILE");
    return command;
}

namespace {

// The run options both sides get, as words, each checked as this program checks its own.
std::vector<std::string> shared_options(const CLI::App& command, const ab_texts& texts) {
    std::vector<std::string> shared;
    for (const setting s : both_sides) {
        if (command.count(option_name(s)) > 0) {
            options given;
            read_setting(command, s, texts.settings[static_cast<std::size_t>(s)], given);
            append_setting(shared, s, given);
        }
    }
    return shared;
}

ab_side side_of(const char* program_option, const std::string& program, const char* options_option,
                const std::string& options_text, const std::vector<std::string>& shared) {
    ab_side side;
    try {
        side.program = program.empty() ? std::filesystem::read_symlink("/proc/self/exe").string()
                                       : resolve_program(program);
    } catch (const std::exception& e) {
        throw CLI::ValidationError(program_option, e.what());
    }
    std::vector<std::string> own;
    try {
        own = split_words(options_text);
    } catch (const std::invalid_argument& e) {
        throw CLI::ValidationError(options_option, std::string("cannot be read: ") + e.what());
    }
    if (const auto refusal = side_refusal(own)) {
        throw CLI::ValidationError(options_option, *refusal);
    }
    side.arguments = side_arguments(shared, own);
    side.options_text = options_text;
    return side;
}

} // namespace

void finish_ab(const CLI::App& app, const CLI::App& command, ab_options& ab, const ab_texts& texts) {
    refuse_benchmark_options(app, "ab: its run options go after it");
    const named_values exports = export_values(ab.exports, &exporter::ab);
    named_values values = {{"--base", &texts.base_program}, {"--new", &texts.next_program}};
    for (const setting s : both_sides) {
        if (!setting_of(s).is_flag()) {
            values.emplace_back(option_name(s), &texts.settings[static_cast<std::size_t>(s)].text);
        }
    }
    values.insert(values.end(), {{"--rounds", &texts.rounds},
                                 {"--seed", &texts.seed},
                                 {"--timeout", &texts.timeout},
                                 {"--max-time", &texts.max_time}});
    const named_values gate = gate_values(texts.gate);
    values.insert(values.end(), gate.begin(), gate.end());
    values.insert(values.end(), exports.begin(), exports.end());
    refuse_option_as_value(command, values);
    if (command.count("--rounds") > 0) {
        ab.rounds = parse_count<unsigned>("--rounds", texts.rounds, min_ab_rounds, max_ab_rounds);
    }
    if (command.count("--seed") > 0) {
        ab.seed = parse_count<std::uint64_t>("--seed", texts.seed, 0, UINT64_MAX);
    }
    finish_gate(command, ab.gate, texts.gate);
    if (command.count("--timeout") > 0) {
        ab.timeout_ns = parse_duration("--timeout", texts.timeout);
    }
    if (command.count("--max-time") > 0) {
        if (command.count("--rounds") > 0) {
            throw CLI::ValidationError("--rounds and --max-time: give --rounds for a fixed number of rounds or "
                                       "--max-time for rounds until decided, not both");
        }
        ab.max_time_ns = parse_duration("--max-time", texts.max_time);
    }
    // The smallest p-value R rounds can give is 2 / 2^R, and Holm's adjustment multiplies the
    // smallest of the four strategies' by four: below that no verdict could ever be reached.
    constexpr double family = measured_strategy_count;
    if (ab.max_time_ns == 0 && family * smallest_p_value(ab.rounds) >= ab.gate.alpha) {
        std::ostringstream alpha;
        alpha << ab.gate.alpha;
        throw CLI::ValidationError("--alpha " + alpha.str() + " cannot be reached in " + std::to_string(ab.rounds) +
                                   " rounds for the four strategies (their smallest adjusted p-value is " +
                                   std::to_string(family * smallest_p_value(ab.rounds)) + "); it needs --rounds " +
                                   std::to_string(differences_for_alpha(ab.gate.alpha / family)) + " or more");
    }
    const std::vector<std::string> shared = shared_options(command, texts);
    ab.base = side_of("--base", texts.base_program, "--base-options", texts.base_options, shared);
    ab.next = side_of("--new", texts.next_program, "--new-options", texts.next_options, shared);
    check_export_paths(command, exports);
}
