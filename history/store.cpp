#include "history/store.hpp"

#include <SQLiteCpp/SQLiteCpp.h>
#include <sqlite3.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <thread>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <regex>
#include <set>
#include <unordered_map>

namespace {

namespace fs = std::filesystem;

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

std::string hex64(std::uint64_t value) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

// FNV-1a: stable across builds and machines, which std::hash is not.
std::uint64_t fnv1a(const std::string& text) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (const unsigned char ch : text) {
        hash = (hash ^ ch) * 0x100000001b3ull;
    }
    return hash;
}

std::string utc_now() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    return std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc) > 0 ? text : "";
}

// What an SQLite failure means for the user: the file refused, or the write failed.
[[noreturn]] void fail(const fs::path& file, const SQLite::Exception& e) {
    const int code = e.getErrorCode();
    if (code == SQLITE_NOTADB || code == SQLITE_CORRUPT) {
        throw history_error(file.string() + " is not a quicksort_bench history (not an SQLite database, or damaged: " +
                                e.what() + ")",
                            2);
    }
    throw history_error("cannot use the history " + file.string() + ": " + e.what(), 1);
}

} // namespace

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
    m.id = hex64(fnv1a(fields));
    m.name = (c.host_name.empty() ? std::string("machine") : c.host_name) + "-" + m.id.substr(0, 6);
    return m;
}

std::optional<std::int64_t> epoch_of(const std::string& date_time) {
    static const std::regex form(R"((\d{4})-(\d{2})-(\d{2})T(\d{2}):(\d{2}):(\d{2})(Z|([+-])(\d{2}):?(\d{2}))?)");
    std::smatch m;
    if (!std::regex_match(date_time, m, form)) {
        return std::nullopt;
    }
    std::tm t{};
    t.tm_year = std::stoi(m[1]) - 1900;
    t.tm_mon = std::stoi(m[2]) - 1;
    t.tm_mday = std::stoi(m[3]);
    t.tm_hour = std::stoi(m[4]);
    t.tm_min = std::stoi(m[5]);
    t.tm_sec = std::stoi(m[6]);
    if (t.tm_mon > 11 || t.tm_mday < 1 || t.tm_mday > 31 || t.tm_hour > 23 || t.tm_min > 59 || t.tm_sec > 60) {
        return std::nullopt;
    }
    const std::tm asked = t;
    std::int64_t epoch = timegm(&t);
    if (t.tm_mday != asked.tm_mday) { // 2026-02-30 rolled over into March
        return std::nullopt;
    }
    if (m[8].matched) {
        const std::int64_t offset = 3600 * std::stoi(m[9]) + 60 * std::stoi(m[10]);
        epoch -= m[8] == "+" ? offset : -offset;
    }
    return epoch;
}

std::optional<std::int64_t> parse_filter_date(const std::string& text) {
    static const std::regex day(R"(\d{4}-\d{2}-\d{2})");
    return epoch_of(std::regex_match(text, day) ? text + "T00:00:00Z" : text);
}

struct history_store::impl {
    fs::path file;
    SQLite::Database db;
    impl(const fs::path& path, int flags) : file(path), db(path, flags, busy_timeout_ms) {}
};

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
        impl_ = std::make_unique<impl>(file, SQLite::OPEN_READWRITE | (create ? SQLite::OPEN_CREATE : 0));
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

std::optional<std::int64_t> history_store::record(const sweep_results& run, const std::string& document,
                                                  const std::string& label) {
    if (run.steps.empty()) {
        throw history_error("a run without a completed step is not recorded", 2);
    }
    // The same document however it was indented: its canonical form decides.
    std::string canonical;
    try {
        canonical = nlohmann::json::parse(document).dump();
    } catch (const nlohmann::json::exception& e) {
        throw history_error(std::string("the run's document is not JSON: ") + e.what(), 2);
    }
    const std::string hash = hex64(fnv1a(canonical));
    const run_context& c = run.steps.front().results.context;
    const machine_identity machine = identify_machine(c);
    unsigned cpus = c.logical_cpus;
    if (run.is_sweep()) {
        cpus = 0;
        for (const auto& step : run.steps) {
            cpus = std::max(cpus, step.cpu_count());
        }
    }
    SQLite::Database& db = impl_->db;
    try {
        SQLite::Transaction transaction(db, SQLite::TransactionBehavior::IMMEDIATE);
        SQLite::Statement known(db, "SELECT id FROM runs WHERE document_hash = ?");
        known.bind(1, hash);
        if (known.executeStep()) {
            return std::nullopt;
        }
        SQLite::Statement add_machine(db, "INSERT OR IGNORE INTO machines VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)");
        add_machine.bind(1, machine.id);
        add_machine.bind(2, machine.name);
        add_machine.bind(3, c.host_name);
        add_machine.bind(4, c.cpu_model);
        add_machine.bind(5, static_cast<std::int64_t>(c.logical_cpus));
        add_machine.bind(6, static_cast<std::int64_t>(c.memory_bytes));
        add_machine.bind(7, c.kernel);
        add_machine.bind(8, c.compiler);
        add_machine.bind(9, c.tbb_version);
        add_machine.exec();
        SQLite::Statement add_run(db, "INSERT INTO runs (recorded_at, run_time, run_epoch, label, machine_id, kind, "
                                      "array_size, chunk_size, runs, processes, value_kind, cpus, document, "
                                      "document_hash) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
        add_run.bind(1, utc_now());
        add_run.bind(2, c.date_time);
        add_run.bind(3, epoch_of(c.date_time).value_or(0));
        add_run.bind(4, label);
        add_run.bind(5, machine.id);
        add_run.bind(6, run.is_sweep() ? "sweep" : "run");
        add_run.bind(7, static_cast<std::int64_t>(c.array_size));
        add_run.bind(8, c.chunk_size);
        add_run.bind(9, static_cast<std::int64_t>(c.run_count));
        add_run.bind(10, static_cast<std::int64_t>(c.processes));
        add_run.bind(11, c.values);
        add_run.bind(12, static_cast<std::int64_t>(cpus));
        add_run.bind(13, canonical);
        add_run.bind(14, hash);
        add_run.exec();
        const std::int64_t id = db.getLastInsertRowid();
        SQLite::Statement add_median(db, "INSERT INTO medians VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
        for (const auto& step : run.steps) {
            std::int64_t position = 0;
            for (const auto& s : step.results.strategies) {
                const duration_summary shown = headline(s);
                add_median.bind(1, id);
                add_median.bind(2, static_cast<std::int64_t>(step.cpu_count()));
                add_median.bind(3, position++);
                add_median.bind(4, s.name);
                add_median.bind(5, shown.median);
                if (shown.interval) {
                    add_median.bind(6, shown.interval->low);
                    add_median.bind(7, shown.interval->high);
                } else {
                    add_median.bind(6);
                    add_median.bind(7);
                }
                add_median.bind(8, static_cast<std::int64_t>(s.across_processes ? s.processes.size()
                                                                                : s.durations.size()));
                add_median.exec();
                add_median.reset();
            }
        }
        transaction.commit();
        return id;
    } catch (const SQLite::Exception& e) {
        fail(impl_->file, e);
    }
}

namespace {

stored_run run_of(SQLite::Statement& q) {
    stored_run r;
    r.id = q.getColumn(0).getInt64();
    r.run_time = q.getColumn(1).getString();
    r.run_epoch = q.getColumn(2).getInt64();
    r.label = q.getColumn(3).getString();
    r.machine_id = q.getColumn(4).getString();
    r.machine_name = q.getColumn(5).getString();
    r.kind = q.getColumn(6).getString();
    r.array_size = static_cast<std::uint64_t>(q.getColumn(7).getInt64());
    r.chunk_size = q.getColumn(8).getInt64();
    r.runs = static_cast<std::uint64_t>(q.getColumn(9).getInt64());
    r.processes = static_cast<std::uint64_t>(q.getColumn(10).getInt64());
    r.values = q.getColumn(11).getString();
    r.cpus = static_cast<unsigned>(q.getColumn(12).getInt64());
    return r;
}

} // namespace

std::vector<stored_run> history_store::list(const run_filter& filter) {
    SQLite::Database& db = impl_->db;
    try {
        std::string where = " WHERE 1";
        if (filter.label) {
            where += " AND runs.label = :label";
        }
        if (filter.since_epoch) {
            where += " AND runs.run_epoch >= :since";
        }
        if (filter.until_epoch) {
            where += " AND runs.run_epoch <= :until";
        }
        if (filter.size) {
            where += " AND runs.array_size = :size";
        }
        const auto bind_filters = [&](SQLite::Statement& q) {
            if (filter.label) {
                q.bind(":label", *filter.label);
            }
            if (filter.since_epoch) {
                q.bind(":since", *filter.since_epoch);
            }
            if (filter.until_epoch) {
                q.bind(":until", *filter.until_epoch);
            }
            if (filter.size) {
                q.bind(":size", static_cast<std::int64_t>(*filter.size));
            }
        };
        std::optional<std::string> machine;
        if (filter.machine) {
            SQLite::Statement q(db, "SELECT id FROM machines WHERE id = :m OR name = :m OR id LIKE :start");
            q.bind(":m", *filter.machine);
            q.bind(":start", *filter.machine + "%");
            std::set<std::string> ids;
            while (q.executeStep()) {
                ids.insert(q.getColumn(0).getString());
            }
            if (ids.size() != 1) {
                throw history_error(ids.empty() ? "no stored machine is called '" + *filter.machine + "'"
                                                : "'" + *filter.machine + "' names more than one machine",
                                    2);
            }
            machine = *ids.begin();
        } else if (!filter.all_machines) {
            // Series never mix machines: the newest run's machine, unless asked otherwise.
            SQLite::Statement q(db, "SELECT machine_id FROM runs" + where + " ORDER BY run_epoch DESC, id DESC LIMIT 1");
            bind_filters(q);
            if (q.executeStep()) {
                machine = q.getColumn(0).getString();
            }
        }
        if (machine) {
            where += " AND runs.machine_id = :machine";
        }
        std::string sql = "SELECT runs.id, run_time, run_epoch, label, machine_id, machines.name, kind, array_size, "
                          "chunk_size, runs, processes, value_kind, cpus FROM runs JOIN machines ON machines.id = "
                          "runs.machine_id" +
                          where + " ORDER BY run_epoch DESC, runs.id DESC";
        if (filter.last) {
            sql += " LIMIT " + std::to_string(*filter.last);
        }
        SQLite::Statement q(db, sql);
        bind_filters(q);
        if (machine) {
            q.bind(":machine", *machine);
        }
        std::vector<stored_run> runs;
        while (q.executeStep()) {
            runs.push_back(run_of(q));
        }
        std::reverse(runs.begin(), runs.end());
        return runs;
    } catch (const SQLite::Exception& e) {
        fail(impl_->file, e);
    }
}

std::vector<stored_median> history_store::medians(const std::vector<std::int64_t>& run_ids) {
    if (run_ids.empty()) {
        return {};
    }
    try {
        // One query over the ids' range rather than one per run: a trend of ten thousand runs
        // would spend most of its time starting statements.
        const auto [lowest, highest] = std::minmax_element(run_ids.begin(), run_ids.end());
        SQLite::Statement q(impl_->db, "SELECT run_id, cpus, strategy, median_ns, low_ns, high_ns, count FROM medians "
                                       "WHERE run_id BETWEEN ? AND ? ORDER BY run_id, cpus, position");
        q.bind(1, *lowest);
        q.bind(2, *highest);
        std::unordered_map<std::int64_t, std::vector<stored_median>> by_run;
        while (q.executeStep()) {
            stored_median m;
            m.run_id = q.getColumn(0).getInt64();
            m.cpus = static_cast<unsigned>(q.getColumn(1).getInt64());
            m.strategy = q.getColumn(2).getString();
            m.median_ns = q.getColumn(3).getInt64();
            if (!q.getColumn(4).isNull()) {
                m.low_ns = q.getColumn(4).getInt64();
                m.high_ns = q.getColumn(5).getInt64();
            }
            m.count = static_cast<std::uint64_t>(q.getColumn(6).getInt64());
            by_run[m.run_id].push_back(std::move(m));
        }
        std::vector<stored_median> medians;
        for (const std::int64_t id : run_ids) {
            const auto found = by_run.find(id);
            if (found != by_run.end()) {
                medians.insert(medians.end(), found->second.begin(), found->second.end());
            }
        }
        return medians;
    } catch (const SQLite::Exception& e) {
        fail(impl_->file, e);
    }
}

std::string history_store::document(std::int64_t run_id) {
    try {
        SQLite::Statement q(impl_->db, "SELECT document FROM runs WHERE id = ?");
        q.bind(1, run_id);
        if (!q.executeStep()) {
            throw history_error("no stored run has the id " + std::to_string(run_id), 2);
        }
        return q.getColumn(0).getString();
    } catch (const SQLite::Exception& e) {
        fail(impl_->file, e);
    }
}

std::int64_t history_store::resolve(const std::string& reference) {
    try {
        SQLite::Database& db = impl_->db;
        const bool number = !reference.empty() && reference.size() < 19 &&
                            std::all_of(reference.begin(), reference.end(),
                                        [](char ch) { return std::isdigit(static_cast<unsigned char>(ch)) != 0; });
        std::optional<SQLite::Statement> q;
        if (number) {
            q.emplace(db, "SELECT id FROM runs WHERE id = ?");
            q->bind(1, static_cast<std::int64_t>(std::stoll(reference)));
        } else if (reference == "latest") {
            q.emplace(db, "SELECT id FROM runs ORDER BY run_epoch DESC, id DESC LIMIT 1");
        } else {
            q.emplace(db, "SELECT id FROM runs WHERE label = ? ORDER BY run_epoch DESC, id DESC LIMIT 1");
            q->bind(1, reference);
        }
        if (!q->executeStep()) {
            throw history_error("no stored run is '" + reference + "' (a run id, a label, or latest)", 2);
        }
        return q->getColumn(0).getInt64();
    } catch (const SQLite::Exception& e) {
        fail(impl_->file, e);
    }
}

std::size_t history_store::count() {
    try {
        return static_cast<std::size_t>(impl_->db.execAndGet("SELECT count(*) FROM runs").getInt64());
    } catch (const SQLite::Exception& e) {
        fail(impl_->file, e);
    }
}
