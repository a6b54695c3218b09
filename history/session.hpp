// The little a history's queries need of a database, so that they are written once for SQLite and
// PostgreSQL: a statement run with its values bound, a transaction, a failure in the history's own
// words. Private to history/.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "history/backend.hpp"

// A value bound to a statement: null, an integer or text. The user's text only ever travels as one.
using sql_value = std::variant<std::monostate, std::int64_t, std::string>;

template <typename T>
sql_value sql_or_null(const std::optional<T>& value) {
    if (!value) {
        return {};
    }
    if constexpr (std::is_integral_v<T>) {
        return static_cast<std::int64_t>(*value);
    } else {
        return std::string(*value);
    }
}

// A row as the database gave it: each cell null or its text (an integer as its decimal digits).
struct sql_row {
    std::vector<std::optional<std::string>> cells;
    bool null(std::size_t k) const { return !cells.at(k); }
    std::string text(std::size_t k) const { return cells.at(k).value_or(""); }
    std::int64_t integer(std::size_t k) const { return cells.at(k) ? std::stoll(*cells[k]) : 0; }
};

class sql_session {
public:
    virtual ~sql_session() = default;
    // Runs one statement, its $1, $2, ... bound to `values` in order; the rows it returns. Only
    // inside `transaction`.
    virtual std::vector<sql_row> query(const std::string& sql, const std::vector<sql_value>& values = {}) = 0;
    // Runs `body` in one transaction, committed when it returns and rolled back when it throws. A
    // writing one waits for another writer up to 30 s, saying so once on stderr.
    virtual void transaction(bool write, const std::function<void()>& body) = 0;
    // A failure of the database or the connection in the history's own words: a history_error.
    [[noreturn]] virtual void fail(const std::exception& e) const = 0;
    // Whether the build (compiler, kernel, oneTBB, version, revision) is a fact of each run: from
    // schema 3 on. An SQLite history read without being written may be older.
    virtual bool facts_on_runs() const { return true; }
};

// Every command of a history over one session: the queries, written once.
std::unique_ptr<history_backend> history_over(std::unique_ptr<sql_session> session);
