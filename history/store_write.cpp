// Recording a run: its document, its machine and its medians, in one transaction.
#include <algorithm>

#include "records/json_fields.hpp"
#include "history/store_internal.hpp"

namespace {

using history_internal::fail;

void insert_machine(SQLite::Database& db, const machine_identity& machine, const run_context& c) {
    SQLite::Statement add(db, "INSERT OR IGNORE INTO machines VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)");
    add.bind(1, machine.id);
    add.bind(2, machine.name);
    add.bind(3, c.host_name);
    add.bind(4, c.cpu_model);
    add.bind(5, static_cast<std::int64_t>(c.logical_cpus));
    add.bind(6, static_cast<std::int64_t>(c.memory_bytes));
    add.bind(7, c.kernel);
    add.bind(8, c.compiler);
    add.bind(9, c.tbb_version);
    add.exec();
}

// A sweep's largest step, or the machine's logical CPUs for a run.
unsigned cpus_of(const sweep_results& run) {
    unsigned cpus = run.steps.front().results.context.logical_cpus;
    if (run.is_sweep()) {
        cpus = 0;
        for (const auto& step : run.steps) {
            cpus = std::max(cpus, step.cpu_count());
        }
    }
    return cpus;
}

std::int64_t insert_run(SQLite::Database& db, const sweep_results& run, const std::string& machine_id,
                        const std::string& document, const std::string& hash, const std::string& label) {
    const run_context& c = run.steps.front().results.context;
    SQLite::Statement add(db, "INSERT INTO runs (recorded_at, run_time, run_epoch, label, machine_id, kind, "
                              "array_size, chunk_size, runs, processes, value_kind, cpus, document, "
                              "document_hash) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    add.bind(1, history_internal::utc_now());
    add.bind(2, c.date_time);
    add.bind(3, epoch_of(c.date_time).value_or(0));
    add.bind(4, label);
    add.bind(5, machine_id);
    add.bind(6, kind_of(run));
    add.bind(7, static_cast<std::int64_t>(c.array_size));
    add.bind(8, c.chunk_size);
    add.bind(9, static_cast<std::int64_t>(c.run_count));
    add.bind(10, static_cast<std::int64_t>(c.processes));
    add.bind(11, c.values);
    add.bind(12, static_cast<std::int64_t>(cpus_of(run)));
    add.bind(13, document);
    add.bind(14, hash);
    add.exec();
    return db.getLastInsertRowid();
}

// Each strategy's headline median (over processes when the run had several), per step.
void insert_medians(SQLite::Database& db, std::int64_t id, const sweep_results& run) {
    SQLite::Statement add(db, "INSERT INTO medians VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
    for (const auto& step : run.steps) {
        std::int64_t position = 0;
        for (const auto& s : step.results.strategies) {
            const duration_summary shown = headline(s);
            add.bind(1, id);
            add.bind(2, static_cast<std::int64_t>(run.is_sweep() ? step.cpu_count() : 0));
            add.bind(3, position++);
            add.bind(4, s.name);
            add.bind(5, shown.median);
            if (shown.interval) {
                add.bind(6, shown.interval->low);
                add.bind(7, shown.interval->high);
            } else {
                add.bind(6);
                add.bind(7);
            }
            add.bind(8, static_cast<std::int64_t>(s.across_processes ? s.processes.size() : s.durations.size()));
            add.exec();
            add.reset();
        }
    }
}

} // namespace

std::optional<std::int64_t> history_store::record(const sweep_results& run, const nlohmann::json& document,
                                                  const std::string& label) {
    if (run.steps.empty()) {
        throw history_error("a run without a completed step is not recorded", 2);
    }
    // The same document however it was written: its canonical form (keys sorted, no blanks) decides.
    const std::string canonical = json_fields::json_text(document);
    const std::string hash = history_internal::stable_hash(canonical);
    const machine_identity machine = identify_machine(run.steps.front().results.context);
    SQLite::Database& db = impl_->db;
    try {
        SQLite::Transaction transaction(db, SQLite::TransactionBehavior::IMMEDIATE);
        SQLite::Statement known(db, "SELECT id FROM runs WHERE document_hash = ?");
        known.bind(1, hash);
        if (known.executeStep()) {
            return std::nullopt;
        }
        insert_machine(db, machine, run.steps.front().results.context);
        const std::int64_t id = insert_run(db, run, machine.id, canonical, hash, label);
        insert_medians(db, id, run);
        transaction.commit();
        return id;
    } catch (const SQLite::Exception& e) {
        fail(impl_->file, e);
    }
}
