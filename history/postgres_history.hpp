// The PostgreSQL history: a team's runs in one database, in the schema quicksort_bench, every query
// a prepared statement. Private to history/.
#pragma once

#include <pqxx/pqxx>

#include <string>

#include "history/backend.hpp"

class postgres_history : public history_backend {
public:
    // Connects to `uri` (a default connect_timeout of 10 s added when it names none), checks the
    // schema, creates it when writing and it is missing, and prepares every statement.
    // Reading a database no run was ever recorded in: it holds no schema of ours yet.
    struct no_history {};
    postgres_history(const std::string& uri, history_mode mode);

    record_outcome record(const run_row& row) override;
    std::vector<stored_run> list(const run_filter& filter) override;
    std::pair<std::size_t, std::size_t> others(const run_filter& filter) override;
    std::vector<stored_median> medians(const std::vector<std::int64_t>& run_ids,
                                       const std::optional<std::string>& strategy) override;
    std::string document(std::int64_t run_id) override;
    std::int64_t resolve(const std::string& reference) override;
    std::size_t count() override;
    std::vector<stored_machine> machines() override;

private:
    // The machine a filter shows: named, or the newest run's; nothing for every machine.
    std::optional<std::string> machine_of(pqxx::work& work, const run_filter& filter);
    // A failure of the server or the connection in the history's own words.
    [[noreturn]] void fail(const std::exception& e) const;

    std::string shown_;
    pqxx::connection connection_;
};

// The server's message on one line: PostgreSQL ends its own with a line break.
std::string one_line(const std::string& text);

// The connection string `uri` stands for, with connect_timeout=10 unless it sets one.
std::string with_connect_timeout(const std::string& uri);
