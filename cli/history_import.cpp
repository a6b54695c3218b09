// Runs into a history: our JSON exports and the JSON Lines of `history export`.
#include "cli/history_import.hpp"

#include <iostream>
#include <sstream>

#include "common/error.hpp"
#include "common/input_file.hpp"
#include "common/text.hpp"
#include "history/store.hpp"
#include "records/json_reader.hpp"

namespace {

// Files far larger than a single export: a history's JSON Lines hold thousands of runs.
constexpr std::size_t max_import_bytes = std::size_t{1} << 32;

// A run to store, with the label it came with.
struct importable {
    std::string name; // the file, and the line of JSON Lines
    export_document doc;
    std::string label;
};

// Every run must carry a date and time the history can order it by.
void check_dates(const importable& run) {
    for (const auto& step : run.doc.sweep.steps) {
        const std::string& when = step.results.context.date_time;
        if (!epoch_of(when)) {
            throw export_error(run.name + ": context.date_time: '" + printable(when) +
                               "' is not a date and time such as 2026-12-07T13:09:50+0100");
        }
    }
}

// The lines of `history export`: each a run with its label and its document.
std::vector<importable> read_lines(const std::string& file, const std::string& text) {
    std::vector<importable> runs;
    std::istringstream lines(text);
    std::string line;
    for (std::size_t number = 1; std::getline(lines, line); ++number) {
        if (line.find_first_not_of(" \t\r") == std::string::npos) {
            continue;
        }
        const std::string where = "'" + file + "', line " + std::to_string(number);
        nlohmann::json entry;
        try {
            entry = nlohmann::json::parse(line);
        } catch (const nlohmann::json::exception& e) {
            throw export_error(where + ": not valid JSON (" + e.what() + ")");
        }
        if (!entry.is_object() || !entry.contains("document")) {
            throw export_error(where + ": not a line of `history export` (no document)");
        }
        importable run{where, {}, ""};
        try {
            run.doc = parse_export(entry["document"]);
        } catch (const export_error& e) {
            throw export_error(where + ": document." + e.what());
        }
        if (entry.contains("label") && entry["label"].is_string()) {
            run.label = entry["label"].get<std::string>();
            if (const auto refusal = label_refusal(run.label)) {
                throw export_error(where + ": label: " + *refusal);
            }
        }
        runs.push_back(std::move(run));
    }
    return runs;
}

// One export of a run or a sweep, or the JSON Lines of `history export`.
std::vector<importable> read_importable(const std::string& file) {
    std::string text;
    try {
        text = read_input_file(file, max_import_bytes, '{');
    } catch (const input_error& e) {
        throw export_error("'" + file + "': " + e.what());
    }
    // Told by its content: a first line that is a whole `history export` entry, however many follow.
    const std::string first = text.substr(0, text.find('\n'));
    const bool lines = nlohmann::json::accept(first) && nlohmann::json::parse(first).is_object() &&
                       nlohmann::json::parse(first).contains("document");
    if (lines) {
        return read_lines(file, text);
    }
    try {
        return {{file, parse_export(text), ""}};
    } catch (const export_error& e) {
        throw export_error("'" + file + "': " + e.what());
    }
}

// Every run of every machine, oldest first.
run_filter every_run() {
    run_filter all;
    all.all_machines = true;
    return all;
}

} // namespace

std::string stored_as(const record_outcome& stored) {
    return "run " + std::to_string(stored.id) + (stored.label.empty() ? "" : " (" + printable(stored.label) + ")");
}

int import_files(const history_options& h) {
    std::vector<importable> runs;
    for (const auto& file : h.inputs) {
        for (auto& run : read_importable(file)) {
            check_dates(run);
            runs.push_back(std::move(run));
        }
    }
    history_store store(h.file, history_mode::write);
    for (const auto& run : runs) {
        if (!run.doc.sweep.complete() && run.doc.sweep.is_sweep()) {
            std::cout << "skipped " << run.name << ": an incomplete sweep" << std::endl;
            continue;
        }
        if (!run.doc.sweep.steps.at(0).results.complete()) {
            std::cout << "skipped " << run.name << ": an incomplete run of processes" << std::endl;
            continue;
        }
        const record_outcome stored =
            store.record(run.doc.sweep, run.doc.document, h.label.empty() ? run.label : h.label);
        std::cout << (stored.added ? "imported " + run.name + " as run " + std::to_string(stored.id)
                                   : "skipped " + run.name + ": already stored as " + stored_as(stored))
                  << std::endl;
    }
    return 0;
}

int push_runs(const history_options& h) {
    if (is_postgres_location(h.file)) {
        throw history_error("push copies the runs of a local history (--history FILE) into another one", 2);
    }
    const std::string& to = h.inputs.at(0);
    history_store from(h.file, history_mode::read);
    history_store into(to, history_mode::write);
    std::size_t added = 0;
    std::size_t runs = 0;
    for (const auto& r : from.list(every_run())) {
        std::optional<record_outcome> stored = into.record_copy(from, r.id);
        if (!stored) {
            const export_document doc = parse_export(from.document(r.id));
            stored = into.record(doc.sweep, doc.document, r.label);
        }
        added += stored->added ? 1 : 0;
        ++runs;
    }
    std::cout << "pushed " << runs << (runs == 1 ? " run" : " runs") << " to " << shown_location(to) << ": " << added
              << " new, " << runs - added << " stored there already" << std::endl;
    return 0;
}
