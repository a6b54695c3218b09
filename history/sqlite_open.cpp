// Opening a history: a file of ours, created private to the user or upgraded to this schema when
// written, read-only when read, anything else refused untouched.
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <thread>

#include "common/error.hpp"
#include "history/schema.hpp"
#include "history/sqlite_history.hpp"

namespace {

namespace fs = std::filesystem;
using history_internal::fail;

// "QSBH" in the database header, so that another program's SQLite file is never taken for ours.
constexpr int application_id = 0x51534248;
// Two runs recording at once: the second waits for the first's transaction, well within this.
constexpr auto busy_limit = std::chrono::seconds(30);

// A machine was its hardware and its software: its compiler, kernel and oneTBB move to its runs,
// and each machine takes the id of its hardware alone, machines that differed only in software
// becoming one.
void machines_by_hardware(SQLite::Database& db) {
    db.exec(R"sql(
UPDATE runs SET compiler = (SELECT compiler FROM machines WHERE machines.id = runs.machine_id),
                kernel = (SELECT kernel FROM machines WHERE machines.id = runs.machine_id),
                tbb_version = (SELECT tbb_version FROM machines WHERE machines.id = runs.machine_id);
CREATE TABLE hardware (id TEXT PRIMARY KEY, name TEXT NOT NULL, host_name TEXT NOT NULL, cpu_model TEXT NOT NULL,
                       logical_cpus INTEGER NOT NULL, memory_bytes INTEGER NOT NULL);
)sql");
    SQLite::Statement old(db, "SELECT id, host_name, cpu_model, logical_cpus, memory_bytes FROM machines");
    SQLite::Statement add(db, "INSERT OR IGNORE INTO hardware VALUES (?, ?, ?, ?, ?, ?)");
    SQLite::Statement move(db, "UPDATE runs SET machine_id = ? WHERE machine_id = ?");
    while (old.executeStep()) {
        run_context c;
        c.host_name = old.getColumn(1).getString();
        c.cpu_model = old.getColumn(2).getString();
        c.logical_cpus = static_cast<unsigned>(old.getColumn(3).getInt64());
        c.memory_bytes = static_cast<std::uint64_t>(old.getColumn(4).getInt64());
        const machine_identity m = identify_machine(c);
        add.bind(1, m.id);
        add.bind(2, m.name);
        add.bind(3, c.host_name);
        add.bind(4, c.cpu_model);
        add.bind(5, static_cast<std::int64_t>(c.logical_cpus));
        add.bind(6, static_cast<std::int64_t>(c.memory_bytes));
        add.exec();
        add.reset();
        move.bind(1, m.id);
        move.bind(2, old.getColumn(0).getString());
        move.exec();
        move.reset();
    }
    old.reset();
    db.exec("DROP TABLE machines; ALTER TABLE hardware RENAME TO machines;");
}

// Each change of the schema since the first, applied in order to a history written by an older
// build when it is next written; a PostgreSQL history starts at the latest.
struct migration {
    int to_version;
    const char* sql;
    void (*step)(SQLite::Database&); // what SQL alone cannot do, after it
};
constexpr migration migrations[] = {
    // Runs of processes were stored as sweeps with their medians at the machine's CPU count: they
    // belong in the series of plain runs, as kind "processes".
    {2, R"sql(
UPDATE medians SET cpus = 0
 WHERE run_id IN (SELECT id FROM runs WHERE kind = 'sweep' AND json_type(document, '$.steps') IS NULL);
UPDATE runs SET kind = 'processes', cpus = json_extract(document, '$.context.logical_cpus')
 WHERE kind = 'sweep' AND json_type(document, '$.steps') IS NULL;
UPDATE runs SET kind = 'processes' WHERE kind = 'run' AND processes > 1;
)sql", nullptr},
    // A machine is its hardware; the software and the build are facts of each run.
    {3, R"sql(
ALTER TABLE runs ADD COLUMN compiler TEXT NOT NULL DEFAULT '';
ALTER TABLE runs ADD COLUMN kernel TEXT NOT NULL DEFAULT '';
ALTER TABLE runs ADD COLUMN tbb_version TEXT NOT NULL DEFAULT '';
ALTER TABLE runs ADD COLUMN program_version TEXT NOT NULL DEFAULT 'unknown';
ALTER TABLE runs ADD COLUMN source_revision TEXT NOT NULL DEFAULT 'unknown';
CREATE INDEX runs_by_revision ON runs(source_revision, run_epoch);
CREATE INDEX runs_by_time ON runs(run_epoch, id);
)sql", machines_by_hardware},
};

// SQLite's busy handler: waits for another process's transaction, saying once on stderr that it does.
extern "C" int wait_while_busy(void* state, int count) {
    auto& wait = *static_cast<history_internal::busy_wait*>(state);
    const auto now = std::chrono::steady_clock::now();
    if (count == 0) {
        wait.since = now;
    }
    if (now - wait.since > busy_limit) {
        return 0;
    }
    if (!wait.said && now - wait.since > std::chrono::milliseconds(500)) {
        std::cerr << "quicksort_bench: waiting for the history " << wait.file
                  << ", which another process is writing (up to 30 s)" << std::endl;
        wait.said = true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return 1;
}

// A new history file, 0600 before SQLite ever opens it: its -wal and -shm files take its mode.
void create_private_file(const fs::path& file) {
    const bool default_place = file == default_history_path();
    const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
    if (default_place) {
        create_private_folders(folder);
    } else if (!fs::is_directory(folder)) {
        throw history_error("the folder " + folder.string() + " of the history " + file.string() +
                                " does not exist (nothing was created)",
                            2);
    }
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EEXIST) {
        throw history_error("cannot create the history " + file.string() + ": " + std::strerror(errno), 2);
    }
    if (fd >= 0) {
        ::close(fd);
    }
}

struct header {
    int app = 0;
    int version = 0;
    bool empty = true;
};

// Only reads until the file is known to be ours: another program's database is never touched.
// One statement, so one snapshot: read apart, another process could create the schema between
// the reads, and its fresh history would look like another program's database.
header read_header(SQLite::Database& db, const fs::path& file) {
    SQLite::Statement q(db, "SELECT (SELECT application_id FROM pragma_application_id), "
                            "(SELECT user_version FROM pragma_user_version), "
                            "(SELECT count(*) FROM sqlite_master)");
    q.executeStep();
    const header h{q.getColumn(0).getInt(), q.getColumn(1).getInt(), q.getColumn(2).getInt() == 0};
    if (h.app != application_id && !(h.app == 0 && h.version == 0 && h.empty)) {
        throw history_error(file.string() + " is not a quicksort_bench history (an SQLite database of another program)",
                            2);
    }
    if (h.version > schema_version) {
        throw history_error(file.string() + " was written by a newer quicksort_bench (schema " +
                                std::to_string(h.version) + "; this one knows schema " +
                                std::to_string(schema_version) + ")",
                            2);
    }
    return h;
}

// A new history gets the schema, an older one the migrations it lacks, in one transaction that
// another process creating or upgrading the same file waits for.
void bring_up_to_date(SQLite::Database& db) {
    SQLite::Transaction change(db, SQLite::TransactionBehavior::IMMEDIATE);
    const int app = db.execAndGet("PRAGMA application_id").getInt();
    const int version = db.execAndGet("PRAGMA user_version").getInt();
    if (app == 0) {
        db.exec(schema_sql(sql_dialect::sqlite));
        db.exec("PRAGMA application_id=" + std::to_string(application_id));
    } else {
        for (const auto& m : migrations) {
            if (m.to_version > version) {
                db.exec(m.sql);
                if (m.step != nullptr) {
                    m.step(db);
                }
            }
        }
    }
    db.exec("PRAGMA user_version=" + std::to_string(schema_version));
    change.commit();
}

// A read-only file, or one in a folder this user cannot write, can be read but not recorded into.
void refuse_read_only(SQLite::Database& db, const fs::path& file) {
    if (sqlite3_db_readonly(db.getHandle(), "main") == 1) {
        throw history_error("the history " + file.string() + " is read-only to this user (nothing can be stored "
                                                              "in it)",
                            2);
    }
}

// A file URI for SQLite that reads `file` as it stands on the disk, writing nothing beside it.
std::string immutable_uri(const fs::path& file) {
    std::string uri = "file:";
    for (const unsigned char ch : fs::absolute(file).string()) {
        if (ch == '?' || ch == '#' || ch == '%' || ch < 0x20 || ch >= 0x7f) {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", ch);
            uri += escaped;
        } else {
            uri += static_cast<char>(ch);
        }
    }
    return uri + "?immutable=1";
}

// Reading a history in WAL mode needs its -shm file, which SQLite creates beside it: in a folder
// this user cannot write it cannot. A history whose writer has finished holds every run in the file
// itself, and is read as it stands; one being written cannot be.
std::unique_ptr<sqlite_session> open_to_read(const fs::path& file) {
    auto store = std::make_unique<sqlite_session>(file, SQLite::OPEN_READONLY);
    try {
        read_header(store->db(), file);
        return store;
    } catch (const SQLite::Exception& e) {
        const int code = e.getErrorCode();
        if (code != SQLITE_READONLY && code != SQLITE_CANTOPEN) {
            throw;
        }
    }
    std::error_code error;
    if (fs::exists(fs::path(file.string() + "-wal"), error)) {
        throw history_error("cannot read the history " + file.string() + " while it is being written: SQLite needs to "
                            "write its -shm file beside it, and this user may not write in that folder (read it once "
                            "its writer has finished, or copy it somewhere you can write)",
                            2);
    }
    return std::make_unique<sqlite_session>(file, SQLite::OPEN_READONLY | SQLite::OPEN_URI, immutable_uri(file));
}

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

std::unique_ptr<history_backend> open_sqlite(const fs::path& file, history_mode mode) {
    std::error_code error;
    const bool exists = fs::exists(file, error);
    if (exists && !fs::is_regular_file(file, error)) {
        throw history_error(file.string() + " is not a quicksort_bench history (not a regular file)", 2);
    }
    if (!exists && mode == history_mode::read) {
        throw history_error("there is no history at " + file.string() + " (--record stores a run there)", 2);
    }
    if (!exists) {
        create_private_file(file);
    }
    try {
        if (mode == history_mode::read) {
            auto store = open_to_read(file);
            sqlite3_busy_handler(store->db().getHandle(), wait_while_busy, &store->busy());
            const header h = read_header(store->db(), file);
            store->set_version(h.app == 0 ? schema_version : h.version);
            return history_over(std::move(store));
        }
        auto store = std::make_unique<sqlite_session>(file, SQLite::OPEN_READWRITE);
        SQLite::Database& db = store->db();
        sqlite3_busy_handler(db.getHandle(), wait_while_busy, &store->busy());
        const header h = read_header(db, file);
        refuse_read_only(db, file);
        // Turning a new file to WAL needs it to itself, and SQLite answers "busy" at once, without
        // its busy handler, while another process creating the same history holds it: wait here.
        for (int tries = 0;; ++tries) {
            try {
                db.exec("PRAGMA journal_mode=WAL");
                break;
            } catch (const SQLite::Exception& e) {
                if (e.getErrorCode() != SQLITE_BUSY || wait_while_busy(&store->busy(), tries) == 0) {
                    throw;
                }
            }
        }
        if (h.app == 0 || h.version < schema_version) {
            bring_up_to_date(db);
        }
        return history_over(std::move(store));
    } catch (const SQLite::Exception& e) {
        fail(file, e);
    }
}
