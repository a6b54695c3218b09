// The `compare` subcommand's options, read into the files and the gate.
#include "cli/compare_command.hpp"

#include "common/output_file.hpp"
#include "records/comparison.hpp"

CLI::App* add_compare_command(CLI::App& app, compare_options& cmp, compare_texts& texts) {
    CLI::App* compare = app.add_subcommand(
        "compare", "Compare --export-json files (single runs, or sweeps step by step), each new run against the base: "
                   "a Hodges-Lehmann shift with its interval and a Mann-Whitney U test per strategy");
    compare->add_option("base", cmp.base, "The base run's JSON export")->required()->type_name("BASE.json");
    compare->add_option("new", cmp.nexts, "The new runs' JSON exports (up to 64)")
        ->required()
        ->expected(1, -1)
        ->type_name("NEW.json...");
    add_gate_levels(*compare, texts.gate,
                    "The change in percent that counts: a shift whose whole interval lies beyond it is faster or "
                    "slower, one whose interval lies within it equivalent (default 2)");
    compare->add_option("--drift", texts.drift,
                        "Accept a verdict from a side of fewer than 5 processes when its whole interval lies beyond "
                        "PERCENT, the drift between processes you know of this machine (otherwise such a row is 'too "
                        "few processes to decide')")
        ->type_name("PERCENT");
    add_gate_flags(*compare, cmp.gate);
    compare->add_option("--export-markdown", cmp.exports.markdown, "Write the comparison as Markdown")
        ->type_name("FILE");
    compare->add_option("--export-json", cmp.exports.json, "Write the comparison as JSON")->type_name("FILE");
    compare->add_option("--export-html", cmp.exports.html, "Write the comparison as a self-contained HTML page")
        ->type_name("FILE");
    return compare;
}

void finish_compare(const CLI::App& app, const CLI::App& compare, compare_options& cmp, const compare_texts& texts) {
    const named_values exports = export_values(cmp.exports, &exporter::comparison);
    named_values values = gate_values(texts.gate);
    values.emplace_back("--drift", &texts.drift);
    values.insert(values.end(), exports.begin(), exports.end());
    refuse_option_as_value(compare, values);
    refuse_benchmark_options(app, "compare: takes no benchmark options");
    if (cmp.nexts.size() > max_new_runs) {
        throw CLI::ValidationError("compare takes at most " + std::to_string(max_new_runs) +
                                   " new runs, got " + std::to_string(cmp.nexts.size()));
    }
    finish_gate(compare, cmp.gate, texts.gate);
    if (!texts.drift.empty() || compare.count("--drift") > 0) {
        cmp.drift = parse_decimal("--drift", texts.drift, "a percentage above 0 and at most 100",
                                  [](double d) { return d > 0 && d <= 100; }) /
                    100;
    }
    check_export_paths(compare, exports);
    // Refused before anything is read: writing the comparison over its own input destroys it.
    for (const auto& [name, path] : exports) {
        std::vector<const std::string*> inputs = {&cmp.base};
        for (const auto& next : cmp.nexts) {
            inputs.push_back(&next);
        }
        for (const std::string* input : inputs) {
            if (!path->empty() && (*path == *input || same_file(*path, *input))) {
                throw CLI::ValidationError(name, "'" + *path + "' is the input '" + *input +
                                                     "'; writing it would destroy that run");
            }
        }
    }
}
