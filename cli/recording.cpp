// Storing a finished run in the history the options name.
#include "cli/recording.hpp"

#include <iostream>

#include "common/error.hpp"
#include "history/store.hpp"
#include "records/record_json.hpp"

int record_run(const options& opts, const sweep_results& run) {
    if (!opts.record) {
        return 0;
    }
    const std::string file = history_location(opts.history_file);
    try {
        history_store store(file, true);
        const auto id = store.record(run, document_json(run), opts.label);
        std::cerr << (id ? "Recorded as run " + std::to_string(*id) + " in " + file : "Already recorded in " + file)
                  << std::endl;
        return 0;
    } catch (const history_error& e) {
        print_error(std::cerr, std::string("the run was not recorded: ") + e.what());
        return 1;
    }
}
