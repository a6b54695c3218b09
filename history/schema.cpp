// The history's tables and their migrations, written once for SQLite and PostgreSQL.
#include "history/schema.hpp"

#include <string_view>

namespace {

// {p} the tables' schema, {int} a 64-bit integer, {id} a run's generated key; [...] holds what only
// SQLite takes: the defaults an upgraded history fills its older runs with, and medians kept
// without a rowid.
constexpr const char* tables = R"sql(
CREATE TABLE {p}machines (
    id TEXT PRIMARY KEY,
    name TEXT NOT NULL,
    host_name TEXT NOT NULL,
    cpu_model TEXT NOT NULL,
    logical_cpus {int} NOT NULL,
    memory_bytes {int} NOT NULL
);
CREATE TABLE {p}runs (
    id {id} PRIMARY KEY,
    recorded_at TEXT NOT NULL,
    run_time TEXT NOT NULL,
    run_epoch {int} NOT NULL,
    label TEXT NOT NULL,
    machine_id TEXT NOT NULL REFERENCES {p}machines(id),
    kind TEXT NOT NULL,
    array_size {int} NOT NULL,
    chunk_size {int} NOT NULL,
    runs {int} NOT NULL,
    processes {int} NOT NULL,
    value_kind TEXT NOT NULL,
    cpus {int} NOT NULL,
    document TEXT NOT NULL,
    document_hash TEXT NOT NULL UNIQUE,
    compiler TEXT NOT NULL[ DEFAULT ''],
    kernel TEXT NOT NULL[ DEFAULT ''],
    tbb_version TEXT NOT NULL[ DEFAULT ''],
    program_version TEXT NOT NULL[ DEFAULT 'unknown'],
    source_revision TEXT NOT NULL[ DEFAULT 'unknown']
);
CREATE INDEX runs_by_machine_and_time ON {p}runs(machine_id, run_epoch);
CREATE INDEX runs_by_label ON {p}runs(label, run_epoch);
CREATE INDEX runs_by_revision ON {p}runs(source_revision, run_epoch);
CREATE INDEX runs_by_time ON {p}runs(run_epoch, id);
CREATE TABLE {p}medians (
    run_id {int} NOT NULL REFERENCES {p}runs(id),
    cpus {int} NOT NULL,
    position {int} NOT NULL,
    strategy TEXT NOT NULL,
    median_ns {int} NOT NULL,
    low_ns {int},
    high_ns {int},
    count {int} NOT NULL,
    PRIMARY KEY (run_id, cpus, strategy)
)[ WITHOUT ROWID];
)sql";

// PostgreSQL keeps the tables in a schema of their own, with its version in a table (SQLite keeps
// it in the file's header).
constexpr const char* postgres_preamble = R"sql(
CREATE SCHEMA quicksort_bench;
CREATE TABLE quicksort_bench.schema_info (application TEXT NOT NULL, version INTEGER NOT NULL);)sql";

} // namespace

std::string schema_sql(sql_dialect dialect) {
    const bool sqlite = dialect == sql_dialect::sqlite;
    std::string sql = sqlite ? "" : postgres_preamble;
    const std::string_view t = tables;
    for (std::size_t k = 0; k < t.size(); ++k) {
        const std::string_view rest = t.substr(k);
        if (rest.starts_with("{p}")) {
            sql += sqlite ? "" : "quicksort_bench.";
            k += 2;
        } else if (rest.starts_with("{int}")) {
            sql += sqlite ? "INTEGER" : "BIGINT";
            k += 4;
        } else if (rest.starts_with("{id}")) {
            sql += sqlite ? "INTEGER" : "BIGSERIAL";
            k += 3;
        } else if (rest.front() == '[') {
            const std::size_t end = t.find(']', k);
            if (sqlite) {
                sql += t.substr(k + 1, end - k - 1);
            }
            k = end;
        } else {
            sql += rest.front();
        }
    }
    return sql;
}
