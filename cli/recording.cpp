// Storing a finished run in the history the options name, checked before the run starts.
#include "cli/recording.hpp"

#include <iostream>

#include "common/error.hpp"
#include "common/format.hpp"
#include "cli/history_import.hpp"
#include "history/store.hpp"
#include "records/record_json.hpp"

void warn_of_password(const std::string& location) {
    if (shown_location(location) != location) {
        std::cerr << "quicksort_bench: warning: the password in --history is visible to every user of this machine "
                     "(ps); put it in ~/.pgpass or PGPASSWORD instead"
                  << std::endl;
    }
}

int check_history(const options& opts) {
    if (!opts.record) {
        return 0;
    }
    warn_of_password(opts.history_file);
    try {
        const history_store store(history_location(opts.history_file), history_mode::write);
        return 0;
    } catch (const history_error& e) {
        print_error(std::cerr, std::string("--record: ") + e.what() + " (nothing was measured)");
        return 2;
    }
}

int record_run(const options& opts, const sweep_results& run) {
    if (!opts.record) {
        return 0;
    }
    const nlohmann::json document = document_json(run);
    std::string file;
    try {
        file = history_location(opts.history_file);
        history_store store(file, history_mode::write);
        const record_outcome stored = store.record(run, document, opts.label);
        std::cerr << (stored.added ? "Recorded as run " + std::to_string(stored.id) + " in " + shown_location(file)
                                   : "Already recorded in " + shown_location(file) + " as " + stored_as(stored))
                  << std::endl;
        return 0;
    } catch (const history_error& e) {
        // A finished measurement is never lost: it waits where `history import` can store it later.
        std::string why = std::string("the run was not recorded: ") + e.what();
        try {
            const std::string kept = keep_unrecorded(json_fields::json_text(document, 2) + "\n").string();
            why += "; it is kept in " + kept + " (store it later: quicksort_bench history import" +
                   (file.empty() ? "" : " --history " + shell_quoted(shown_location(file))) +
                   (opts.label.empty() ? "" : " --label " + shell_quoted(opts.label)) + " " + shell_quoted(kept) + ")";
        } catch (const history_error& keep) {
            why += std::string("; nor could it be kept: ") + keep.what();
        }
        print_error(std::cerr, why);
        return 1;
    }
}
