// The SQLite history: one file per user by default, in WAL mode, each recording one transaction.
// Private to history/.
#pragma once

#include <SQLiteCpp/SQLiteCpp.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "history/backend.hpp"

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

class sqlite_history : public history_backend {
public:
    // `name` is what SQLite opens when it is not the file itself (a URI of it).
    sqlite_history(const std::filesystem::path& path, int flags, const std::string& name = "")
        : file_(path), db_(name.empty() ? path.string() : name, flags), busy_{path.string(), {}, false} {}

    SQLite::Database& db() { return db_; }
    const std::filesystem::path& file() const { return file_; }
    history_internal::busy_wait& busy() { return busy_; }
    // The schema it is at: one read read-only may be older, with the build a fact of its machines.
    void set_version(int version) { version_ = version; }

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
    std::filesystem::path file_;
    SQLite::Database db_;
    history_internal::busy_wait busy_;
    int version_ = schema_version;
};
