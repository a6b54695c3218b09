// The PostgreSQL history: a team's runs in one database, in the schema quicksort_bench, every value
// a bound parameter. Private to history/.
#pragma once

#include <pqxx/pqxx>

#include <iostream>
#include <string>
#include <vector>

#include "history/session.hpp"
#include "history/location.hpp"

// Runs `body(work)` in a transaction that waits a second for another session's lock, then says on
// stderr what it waits for and waits up to 29 s more, as SQLite's busy handler does; `body` commits.
// A lock given up on throws pqxx::sql_error with SQLSTATE 55P03.
template <typename Body>
auto with_lock_wait(pqxx::connection& connection, const std::string& shown, Body body) {
    for (bool said = false;; said = true) {
        try {
            pqxx::work work(connection);
            work.exec(said ? "SET LOCAL lock_timeout = '29s'" : "SET LOCAL lock_timeout = '1s'");
            return body(work);
        } catch (const pqxx::sql_error& e) {
            if (said || e.sqlstate() != "55P03") {
                throw;
            }
        }
        std::cerr << "quicksort_bench: waiting for the history " << shown
                  << ": another session holds a lock it needs (up to 30 s)" << std::endl;
    }
}

// A PostgreSQL database as a session of the history's queries, its tables found through the
// connection's search path.
class postgres_session : public sql_session {
public:
    // Connects to `location` (a default connect_timeout of 10 s added when it names none), checks
    // the schema and the role's privileges for `mode`, and creates the schema when writing and it
    // is missing. Waits at most 30 s for another session's lock.
    // Reading a database no run was ever recorded in: it holds no schema of ours yet.
    struct no_history {};
    postgres_session(const postgres_location& location, history_mode mode);

    std::vector<sql_row> query(const std::string& sql, const std::vector<sql_value>& values) override;
    // A writer waits for another session's lock as `with_lock_wait` does; a reader does not lock.
    void transaction(bool write, const std::function<void()>& body) override;
    // A failure of the server or the connection in the history's own words.
    [[noreturn]] void fail(const std::exception& e) const override;

private:
    // An exception's message on one line, without the password.
    std::string shown_message(const std::exception& e) const;

    std::string shown_;
    std::vector<std::string> secrets_;
    pqxx::connection connection_;
    pqxx::work* work_ = nullptr; // the transaction under way
};

// The server's message on one line: PostgreSQL ends its own with a line break.
std::string one_line(const std::string& text);

// `message`, or for a lock given up on (SQLSTATE 55P03) what was waited for.
std::string lock_or_message(const std::string& message, const std::exception& e);
