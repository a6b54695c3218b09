// Opening a history: a file of ours, created with its schema when asked, anything else refused
// untouched.
#include <sqlite3.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "history/store_internal.hpp"

namespace {

namespace fs = std::filesystem;
using history_internal::fail;

// "QSBH" in the database header, so that another program's SQLite file is never taken for ours.
constexpr int application_id = 0x51534248;
constexpr int schema_version = 1;
// Two runs recording at once: the second waits for the first's transaction, well within this.
constexpr int busy_timeout_ms = 30'000;

constexpr const char* schema = R"sql(
CREATE TABLE machines (
    id TEXT PRIMARY KEY,
    name TEXT NOT NULL,
    host_name TEXT NOT NULL,
    cpu_model TEXT NOT NULL,
    logical_cpus INTEGER NOT NULL,
    memory_bytes INTEGER NOT NULL,
    kernel TEXT NOT NULL,
    compiler TEXT NOT NULL,
    tbb_version TEXT NOT NULL
);
CREATE TABLE runs (
    id INTEGER PRIMARY KEY,
    recorded_at TEXT NOT NULL,
    run_time TEXT NOT NULL,
    run_epoch INTEGER NOT NULL,
    label TEXT NOT NULL,
    machine_id TEXT NOT NULL REFERENCES machines(id),
    kind TEXT NOT NULL,
    array_size INTEGER NOT NULL,
    chunk_size INTEGER NOT NULL,
    runs INTEGER NOT NULL,
    processes INTEGER NOT NULL,
    value_kind TEXT NOT NULL,
    cpus INTEGER NOT NULL,
    document TEXT NOT NULL,
    document_hash TEXT NOT NULL UNIQUE
);
CREATE INDEX runs_by_machine_and_time ON runs(machine_id, run_epoch);
CREATE INDEX runs_by_label ON runs(label, run_epoch);
CREATE TABLE medians (
    run_id INTEGER NOT NULL REFERENCES runs(id),
    cpus INTEGER NOT NULL,
    position INTEGER NOT NULL,
    strategy TEXT NOT NULL,
    median_ns INTEGER NOT NULL,
    low_ns INTEGER,
    high_ns INTEGER,
    count INTEGER NOT NULL,
    PRIMARY KEY (run_id, cpus, strategy)
) WITHOUT ROWID;
)sql";

} // namespace

namespace history_internal {

// What an SQLite failure means for the user: the file refused, or the write failed.
void fail(const fs::path& file, const SQLite::Exception& e) {
    const int code = e.getErrorCode();
    if (code == SQLITE_NOTADB || code == SQLITE_CORRUPT) {
        throw history_error(file.string() + " is not a quicksort_bench history (not an SQLite database, or damaged: " +
                                e.what() + ")",
                            2);
    }
    throw history_error("cannot use the history " + file.string() + ": " + e.what(), 1);
}

} // namespace history_internal

fs::path default_history_path() {
    const char* data = std::getenv("XDG_DATA_HOME");
    fs::path base;
    if (data != nullptr && fs::path(data).is_absolute()) {
        base = data;
    } else {
        const char* home = std::getenv("HOME");
        base = fs::path(home != nullptr ? home : ".") / ".local" / "share";
    }
    return base / "quicksort_bench" / "history.sqlite";
}

machine_identity identify_machine(const run_context& c) {
    const std::string fields = c.host_name + "\n" + c.cpu_model + "\n" + std::to_string(c.logical_cpus) + "\n" +
                               std::to_string(c.memory_bytes) + "\n" + c.kernel + "\n" + c.compiler + "\n" +
                               c.tbb_version;
    machine_identity m;
    m.id = history_internal::stable_hash(fields);
    m.name = (c.host_name.empty() ? std::string("machine") : c.host_name) + "-" + m.id.substr(0, 6);
    return m;
}

history_store::history_store(const fs::path& file, bool create) {
    std::error_code error;
    const bool exists = fs::exists(file, error);
    if (exists && !fs::is_regular_file(file, error)) {
        throw history_error(file.string() + " is not a quicksort_bench history (not a regular file)", 2);
    }
    if (!exists && !create) {
        throw history_error("there is no history at " + file.string() + " (--record stores a run there)", 2);
    }
    if (!exists && file.has_parent_path() && !fs::create_directories(file.parent_path(), error) && error) {
        throw history_error("cannot create the folder of the history " + file.string() + ": " + error.message(), 1);
    }
    try {
        impl_ = std::make_unique<impl>(file, SQLite::OPEN_READWRITE | (create ? SQLite::OPEN_CREATE : 0), busy_timeout_ms);
        SQLite::Database& db = impl_->db;
        // Only reads until the file is known to be ours: another program's database is never touched.
        // One statement, so one snapshot: read apart, another process could create the schema
        // between the reads, and its fresh history would look like another program's database.
        SQLite::Statement header(db, "SELECT (SELECT application_id FROM pragma_application_id), "
                                     "(SELECT user_version FROM pragma_user_version), "
                                     "(SELECT count(*) FROM sqlite_master)");
        header.executeStep();
        const int app = header.getColumn(0).getInt();
        const int version = header.getColumn(1).getInt();
        const bool empty = header.getColumn(2).getInt() == 0;
        header.reset();
        if (app != application_id && !(app == 0 && version == 0 && empty)) {
            throw history_error(file.string() + " is not a quicksort_bench history (an SQLite database of another "
                                                "program)",
                                2);
        }
        if (version > schema_version) {
            throw history_error(file.string() + " was written by a newer quicksort_bench (schema " +
                                    std::to_string(version) + "; this one knows schema " +
                                    std::to_string(schema_version) + ")",
                                2);
        }
        // Turning a new file to WAL needs it to itself, and SQLite answers "busy" at once, without
        // waiting, while another process creating the same history holds it: wait here instead.
        for (const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(busy_timeout_ms);;) {
            try {
                db.exec("PRAGMA journal_mode=WAL");
                break;
            } catch (const SQLite::Exception& e) {
                if (e.getErrorCode() != SQLITE_BUSY || std::chrono::steady_clock::now() > deadline) {
                    throw;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        if (app == 0) {
            // Another process may be creating it too: the check is repeated inside the transaction.
            SQLite::Transaction create_schema(db, SQLite::TransactionBehavior::IMMEDIATE);
            if (db.execAndGet("PRAGMA application_id").getInt() == 0) {
                db.exec(schema);
                db.exec("PRAGMA application_id=" + std::to_string(application_id));
                db.exec("PRAGMA user_version=" + std::to_string(schema_version));
            }
            create_schema.commit();
        }
    } catch (const SQLite::Exception& e) {
        fail(file, e);
    }
}

history_store::~history_store() = default;
