// The rules every option follows: strict counts, decimals and times, no option twice or taken as a value.
#include "cli/option_rules.hpp"

#include <algorithm>
#include <set>
#include <stdexcept>

#include "common/output_file.hpp"

void check_export_paths(const CLI::App& app, const named_values& exports) {
    std::vector<std::pair<std::string, std::string>> seen;
    for (const auto& [name, path] : exports) {
        if (app.count(name) == 0) {
            continue;
        }
        try {
            check_writable(*path);
        } catch (const std::runtime_error& e) {
            throw CLI::ValidationError(name, e.what());
        }
        for (const auto& [other_name, other_path] : seen) {
            if (other_path == "-" && *path == "-") {
                throw CLI::ValidationError(name, "only one export can go to standard output (-); " + other_name +
                                                     " already does");
            }
            if (same_destination(other_path, *path)) {
                throw CLI::ValidationError(name, "'" + *path + "' is already the file of " + other_name);
            }
        }
        seen.emplace_back(name, *path);
    }
}

namespace {

// The long options of `app` and its subcommands that take a value, "--chunk" and the like: read off
// their definitions, so that a new option is known without a second list.
std::set<std::string> valued_option_names(const CLI::App& app) {
    std::set<std::string> names;
    for (const CLI::Option* option : app.get_options()) {
        if (option->get_expected_max() > 0 && option->get_type_size() != 0) {
            for (const std::string& long_name : option->get_lnames()) {
                names.insert("--" + long_name);
            }
        }
    }
    for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; })) {
        names.merge(valued_option_names(*sub));
    }
    return names;
}

} // namespace

std::string repeated_option(const CLI::App& app, int argc, const char* const* argv) {
    const std::set<std::string> valued = valued_option_names(app);
    std::vector<std::string> seen;
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        if (arg == "compare" || arg == "check" || arg == "ab") {
            seen.clear();
            continue;
        }
        if (arg.size() < 3 || arg.compare(0, 2, "--") != 0) {
            continue;
        }
        const std::string name = arg.substr(0, arg.find('='));
        // The next word is this option's value, however it looks: ab --base-options "--chunk 500".
        if (arg.find('=') == std::string::npos && valued.count(name) > 0) {
            ++k;
        }
        if (std::find(seen.begin(), seen.end(), name) != seen.end()) {
            return name;
        }
        seen.push_back(name);
    }
    return "";
}

void refuse_option_as_value(const CLI::App& app, const named_values& values) {
    for (const auto& [name, value] : values) {
        if (app.count(name) > 0 && value->rfind("--", 0) == 0) {
            throw CLI::ValidationError(name + " needs a value, and '" + *value + "' is an option (for a file of "
                                       "that name write " + name + "=./" + *value + ")");
        }
    }
}

std::string own_words(const CLI::ParseError& e) {
    const std::string what = e.what();
    if (dynamic_cast<const CLI::ExtrasError*>(&e) != nullptr) {
        std::string first = what.substr(what.find(": ") + 2);
        first = first.substr(0, first.find(' '));
        return (first.rfind('-', 0) == 0 ? "unknown option '" : "unexpected argument '") + first + "'";
    }
    if (dynamic_cast<const CLI::RequiredError*>(&e) != nullptr || what.rfind("runs: ", 0) == 0) {
        if (what.find("subcommand") != std::string::npos) {
            return "history needs an action: list, trend, compare, import or export";
        }
        if (what.rfind("runs", 0) == 0) {
            return "history compare needs two stored runs: A B (a run id, a label, or latest)";
        }
        if (what.rfind("files", 0) == 0) {
            return "history import needs the files to store: FILE.json...";
        }
        return "compare needs two files: BASE.json NEW.json";
    }
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&e) != nullptr) {
        return what.substr(0, what.find(':')) + " needs a value";
    }
    return what;
}

std::int64_t parse_duration(const std::string& name, const std::string& text) {
    const char unit = text.empty() ? '\0' : text.back();
    const double scale = unit == 's' ? 1e9 : unit == 'm' ? 60e9 : unit == 'h' ? 3600e9 : 0;
    double value = 0;
    const char* end = text.data() + text.size() - 1;
    const auto [stop, ec] = std::from_chars(text.data(), end, value);
    if (scale == 0 || text.size() < 2 || ec != std::errc{} || stop != end || !(value > 0) || value * scale > 1e18) {
        throw CLI::ValidationError(name, "must be a time above zero such as 90s, 30m or 2h, got '" + text + "'");
    }
    return static_cast<std::int64_t>(value * scale);
}

void refuse_benchmark_options(const CLI::App& app, const std::string& refusal) {
    for (const CLI::Option* option : app.get_options()) {
        if (option->count() > 0) {
            throw CLI::ValidationError(refusal + " (" + option->get_name() + " given before it)");
        }
    }
}

void add_gate_levels(CLI::App& command, gate_texts& texts, const std::string& threshold_help) {
    command.add_option("--alpha", texts.alpha, "Chance of any false slower or faster in the whole comparison: the strategies' p-values are adjusted by "
                       "Holm's method (default 0.05)")->type_name("P");
    command.add_option("--threshold", texts.threshold, threshold_help)->type_name("PERCENT");
}

void add_gate_flags(CLI::App& command, gate_options& gate) {
    command.add_flag("--fail-on-slower", gate.fail_on_slower,
                     "Exit with status 1 when any strategy got slower, 3 when none did but some could not be decided");
    command.add_flag("--allow-inconclusive", gate.allow_inconclusive,
                     "With --fail-on-slower: strategies that could not be decided do not fail (status 0)");
}

void finish_gate(const CLI::App& command, gate_options& gate, const gate_texts& texts) {
    if (command.count("--alpha") > 0) {
        gate.alpha = parse_decimal("--alpha", texts.alpha, "a number above 0 and at most 0.5",
                                   [](double a) { return a > 0 && a <= 0.5; });
    }
    if (command.count("--threshold") > 0) {
        gate.threshold = parse_decimal("--threshold", texts.threshold, "a percentage above 0 and below 100",
                                       [](double t) { return t > 0 && t < 100; }) /
                         100;
    }
    if (gate.allow_inconclusive && !gate.fail_on_slower) {
        throw CLI::ValidationError("--allow-inconclusive only relaxes --fail-on-slower, which is not given");
    }
}
