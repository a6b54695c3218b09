// Storing a finished run in the history the options name, checked before the run starts.
#include "cli/recording.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "common/error.hpp"
#include "common/format.hpp"
#include "cli/history_import.hpp"
#include "cli/step_process.hpp"
#include "history/places.hpp"
#include "history/store.hpp"
#include "records/record_fields.hpp"
#include "records/record_json.hpp"

void warn_of_password(const std::string& location) {
    if (has_password(location)) {
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

namespace {

// The line a signal prints while a run is being stored, made beforehand: the handler may only
// write it and end the process.
char interrupted_line[8192];
std::size_t interrupted_length = 0;

void say_when_interrupted(const std::string& line) {
    interrupted_length = std::min(line.size(), sizeof interrupted_line);
    std::memcpy(interrupted_line, line.data(), interrupted_length);
}

extern "C" void end_while_storing(int sig) {
    [[maybe_unused]] const auto written = ::write(STDERR_FILENO, interrupted_line, interrupted_length);
    ::_exit(status_after_signal(sig));
}

} // namespace

int record_run(const options& opts, const sweep_results& run) {
    if (!opts.record) {
        return 0;
    }
    const nlohmann::json document = document_json(run);
    const std::string file = history_location(opts.history_file);
    const std::string shown = shown_location(file);
    // A finished measurement is never lost: it is kept first, where `history import` can store it
    // later, and the copy removed once the history holds it.
    std::filesystem::path kept;
    std::string kept_text;
    try {
        kept = keep_unrecorded(json_fields::json_text(document, 2) + "\n");
        kept_text = "it is kept in " + kept.string() + " (store it later: quicksort_bench history import" +
                    " --history " + shell_quoted(shown) +
                    (opts.label.empty() ? "" : " --label " + shell_quoted(opts.label)) + " " +
                    shell_quoted(kept.string()) + ")";
    } catch (const history_error& keep) {
        kept_text = std::string("nor could it be kept: ") + keep.what();
    }
    try {
        // A signal now ends the process at once with 128+n: the run is already kept on disk, and a
        // transaction cut off is rolled back by either database.
        say_when_interrupted(std::string(error_prefix) + "interrupted while the run was stored; " + kept_text + "\n");
        const signal_handlers interrupted(end_while_storing);
        history_store store(file, history_mode::write);
        const record_outcome stored = store.record(run, document, opts.label);
        std::cerr << (stored.added ? "Recorded as run " + std::to_string(stored.id) + " in " + shown
                                   : "Already recorded in " + shown + " as " + stored_as(stored))
                  << std::endl;
    } catch (const history_error& e) {
        print_error(std::cerr, std::string("the run was not recorded: ") + e.what() + "; " + kept_text);
        return 1;
    }
    if (!kept.empty()) {
        std::error_code ignored;
        std::filesystem::remove(kept, ignored);
    }
    return 0;
}
