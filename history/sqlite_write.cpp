// Recording a run in an SQLite history: its machine, its row and its medians, in one transaction.
#include "history/sqlite_history.hpp"

namespace {

using history_internal::fail;

void insert_machine(SQLite::Database& db, const run_row& row) {
    SQLite::Statement add(db, "INSERT OR IGNORE INTO machines VALUES (?, ?, ?, ?, ?, ?)");
    add.bind(1, row.machine.id);
    add.bind(2, row.machine.name);
    add.bind(3, row.host_name);
    add.bind(4, row.cpu_model);
    add.bind(5, row.logical_cpus);
    add.bind(6, row.memory_bytes);
    add.exec();
}

std::int64_t insert_run(SQLite::Database& db, const run_row& row) {
    SQLite::Statement add(db, "INSERT INTO runs (recorded_at, run_time, run_epoch, label, machine_id, kind, "
                              "array_size, chunk_size, runs, processes, value_kind, cpus, document, document_hash, "
                              "compiler, kernel, tbb_version, program_version, source_revision) "
                              "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    int k = 0;
    add.bind(++k, history_internal::utc_now());
    add.bind(++k, row.run_time);
    add.bind(++k, row.run_epoch);
    add.bind(++k, row.label);
    add.bind(++k, row.machine.id);
    add.bind(++k, row.kind);
    add.bind(++k, row.array_size);
    add.bind(++k, row.chunk_size);
    add.bind(++k, row.runs);
    add.bind(++k, row.processes);
    add.bind(++k, row.values);
    add.bind(++k, row.cpus);
    add.bind(++k, row.document);
    add.bind(++k, row.hash);
    add.bind(++k, row.compiler);
    add.bind(++k, row.kernel);
    add.bind(++k, row.tbb_version);
    add.bind(++k, row.program_version);
    add.bind(++k, row.source_revision);
    add.exec();
    return db.getLastInsertRowid();
}

void insert_medians(SQLite::Database& db, std::int64_t id, const run_row& row) {
    SQLite::Statement add(db, "INSERT INTO medians VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
    std::int64_t position = 0;
    for (const auto& m : row.medians) {
        add.bind(1, id);
        add.bind(2, static_cast<std::int64_t>(m.cpus));
        add.bind(3, position++);
        add.bind(4, m.strategy);
        add.bind(5, m.median_ns);
        if (m.low_ns) {
            add.bind(6, *m.low_ns);
            add.bind(7, *m.high_ns);
        } else {
            add.bind(6);
            add.bind(7);
        }
        add.bind(8, static_cast<std::int64_t>(m.count));
        add.exec();
        add.reset();
    }
}

} // namespace

record_outcome sqlite_history::record(const run_row& row) {
    try {
        SQLite::Transaction transaction(db_, SQLite::TransactionBehavior::IMMEDIATE);
        SQLite::Statement known(db_, "SELECT id, label FROM runs WHERE document_hash = ?");
        known.bind(1, row.hash);
        if (known.executeStep()) {
            return {known.getColumn(0).getInt64(), false, known.getColumn(1).getString()};
        }
        insert_machine(db_, row);
        const std::int64_t id = insert_run(db_, row);
        insert_medians(db_, id, row);
        transaction.commit();
        return {id, true, row.label};
    } catch (const SQLite::Exception& e) {
        fail(file_, e);
    }
}
