// The PostgreSQL history: a team's runs in one database, in the schema quicksort_bench, every query
// a prepared statement. Private to history/.
#pragma once

#include <pqxx/pqxx>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "history/backend.hpp"
#include "history/location.hpp"

// For its lifetime, a statement that may wait on another session's lock: past a second, one line
// on stderr says what it waits for. Its thread is joined on every path.
class lock_wait_notice {
public:
    explicit lock_wait_notice(const std::string& shown);
    ~lock_wait_notice();
    lock_wait_notice(const lock_wait_notice&) = delete;
    lock_wait_notice& operator=(const lock_wait_notice&) = delete;

private:
    std::mutex mutex_;
    std::condition_variable done_changed_;
    bool done_ = false;
    std::thread waiter_; // last: started once the rest is made
};

class postgres_history : public history_backend {
public:
    // Connects to `location` (a default connect_timeout of 10 s added when it names none), checks
    // the schema and the role's privileges for `mode`, creates the schema when writing and it is
    // missing, and prepares every statement. Waits at most 30 s for another session's lock.
    // Reading a database no run was ever recorded in: it holds no schema of ours yet.
    struct no_history {};
    postgres_history(const postgres_location& location, history_mode mode);

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
    // An exception's message on one line, without the password.
    std::string shown_message(const std::exception& e) const;

    std::string shown_;
    std::vector<std::string> secrets_;
    pqxx::connection connection_;
};

// The server's message on one line: PostgreSQL ends its own with a line break.
std::string one_line(const std::string& text);

// `message`, or for a lock given up on (SQLSTATE 55P03) what was waited for.
std::string lock_or_message(const std::string& message, const std::exception& e);
