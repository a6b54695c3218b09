// An SQLite history as the queries' session: statements bound by position, a writer's transaction.
#include <cctype>

#include "history/sqlite_history.hpp"

std::vector<sql_row> sqlite_session::query(const std::string& sql, const std::vector<sql_value>& values) {
    // The queries number their values as PostgreSQL does ($1); SQLite's own spelling is ?1.
    std::string text = sql;
    for (std::size_t k = 0; k + 1 < text.size(); ++k) {
        if (text[k] == '$' && std::isdigit(static_cast<unsigned char>(text[k + 1])) != 0) {
            text[k] = '?';
        }
    }
    SQLite::Statement q(db_, text);
    for (std::size_t k = 0; k < values.size(); ++k) {
        const int at = static_cast<int>(k + 1);
        if (const auto* integer = std::get_if<std::int64_t>(&values[k])) {
            q.bind(at, *integer);
        } else if (const auto* string = std::get_if<std::string>(&values[k])) {
            q.bind(at, *string);
        } else {
            q.bind(at);
        }
    }
    std::vector<sql_row> rows;
    while (q.executeStep()) {
        sql_row row;
        for (int c = 0; c < q.getColumnCount(); ++c) {
            const SQLite::Column cell = q.getColumn(c);
            row.cells.push_back(cell.isNull() ? std::nullopt : std::optional(cell.getString()));
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

void sqlite_session::transaction(bool write, const std::function<void()>& body) {
    if (!write) {
        body();
        return;
    }
    SQLite::Transaction transaction(db_, SQLite::TransactionBehavior::IMMEDIATE);
    body();
    transaction.commit();
}

void sqlite_session::fail(const std::exception& e) const {
    if (const auto* sqlite = dynamic_cast<const SQLite::Exception*>(&e)) {
        history_internal::fail(file_, *sqlite);
    }
    throw history_error("cannot use the history " + file_.string() + ": " + e.what(), 1);
}
