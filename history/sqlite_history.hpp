// The SQLite history: one file per user by default, in WAL mode, each recording one transaction.
// Private to history/.
#pragma once

#include <SQLiteCpp/SQLiteCpp.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "history/session.hpp"

namespace history_internal {

// The file refused (status 2) or the write failed (status 1).
[[noreturn]] void fail(const std::filesystem::path& file, const SQLite::Exception& e);

// How long a writer waits for another process's transaction, saying so once.
struct busy_wait {
    std::string file;
    std::chrono::steady_clock::time_point since;
    bool said = false;
};

} // namespace history_internal

// An SQLite file as a session of the history's queries.
class sqlite_session : public sql_session {
public:
    // `name` is what SQLite opens when it is not the file itself (a URI of it).
    sqlite_session(const std::filesystem::path& path, int flags, const std::string& name = "")
        : file_(path), db_(name.empty() ? path.string() : name, flags), busy_{path.string(), {}, false} {}

    SQLite::Database& db() { return db_; }
    history_internal::busy_wait& busy() { return busy_; }
    // The schema it is at: one read read-only may be older, with the build a fact of its machines.
    void set_version(int version) { version_ = version; }

    std::vector<sql_row> query(const std::string& sql, const std::vector<sql_value>& values) override;
    // A writer takes the file at once (IMMEDIATE), waiting for another through the busy handler; a
    // reader reads without a transaction of its own.
    void transaction(bool write, const std::function<void()>& body) override;
    [[noreturn]] void fail(const std::exception& e) const override;
    bool facts_on_runs() const override { return version_ >= 3; }

private:
    std::filesystem::path file_;
    SQLite::Database db_;
    history_internal::busy_wait busy_;
    int version_ = schema_version;
};
