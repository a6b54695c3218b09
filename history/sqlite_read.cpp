// Reading a history: the runs a filter selects, their medians, a stored document.
#include <algorithm>
#include <cctype>
#include <set>

#include "common/text.hpp"
#include "history/schema.hpp"
#include "history/sqlite_history.hpp"

using history_internal::fail;

namespace {

stored_run run_of(SQLite::Statement& q) {
    return run_from_columns([&](int k) { return q.getColumn(k).getString(); },
                            [&](int k) { return q.getColumn(k).getInt64(); });
}

// The filters other than the machine, as SQL with their values bound by name: never text of the
// user's inside the SQL.
struct filter_sql {
    const run_filter& filter;
    bool facts_on_runs = true; // schema 3 on: the build is a fact of each run
    std::string where() const {
        std::string sql = " WHERE 1";
        sql += filter.label ? " AND runs.label = :label" : "";
        sql += filter.revision ? facts_on_runs ? " AND runs.source_revision = :revision" : " AND 'unknown' = :revision"
                               : "";
        sql += filter.since_epoch ? " AND runs.run_epoch >= :since" : "";
        sql += filter.until_epoch ? " AND runs.run_epoch <= :until" : "";
        sql += filter.size ? " AND runs.array_size = :size" : "";
        return sql;
    }
    void bind(SQLite::Statement& q) const {
        if (filter.label) {
            q.bind(":label", *filter.label);
        }
        if (filter.revision) {
            q.bind(":revision", *filter.revision);
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
    }
};

// The machine a --machine names: its id, the start of its id, its short name, or its host name
// when that host is one machine. Compared as text: % and _ are no wildcards.
std::string machine_named(SQLite::Database& db, const std::string& given) {
    SQLite::Statement q(db, "SELECT id FROM machines WHERE id = :m OR name = :m OR host_name = :m OR "
                            "substr(id, 1, length(:m)) = :m");
    q.bind(":m", given);
    std::set<std::string> ids;
    while (q.executeStep()) {
        ids.insert(q.getColumn(0).getString());
    }
    if (ids.size() != 1) {
        throw history_error(ids.empty() ? "no stored machine is called '" + printable(given) + "'"
                                        : "'" + printable(given) + "' names " + std::to_string(ids.size()) +
                                              " machines (history machines lists them; name one by its short name)",
                            2);
    }
    return *ids.begin();
}

// The machine whose runs a filter without --all-machines shows: the one named, or else the machine
// of the newest run that passes the other filters.
std::optional<std::string> machine_of(SQLite::Database& db, const run_filter& filter, bool facts_on_runs) {
    if (filter.machine) {
        return machine_named(db, *filter.machine);
    }
    if (filter.all_machines) {
        return std::nullopt;
    }
    const filter_sql f{filter, facts_on_runs};
    SQLite::Statement q(db, "SELECT machine_id FROM runs" + f.where() + " ORDER BY run_epoch DESC, id DESC LIMIT 1");
    f.bind(q);
    return q.executeStep() ? std::optional(q.getColumn(0).getString()) : std::nullopt;
}

} // namespace

std::vector<stored_run> sqlite_history::list(const run_filter& filter) {
    SQLite::Database& db = db_;
    try {
        const filter_sql f{filter, version_ >= 3};
        const std::optional<std::string> machine = machine_of(db, filter, version_ >= 3);
        std::string sql = "SELECT runs.id, run_time, run_epoch, label, machine_id, machines.name, kind, array_size, "
                          "chunk_size, runs, processes, value_kind, cpus, machines.cpu_model, " +
                          std::string(version_ >= 3 ? "runs.compiler, runs.kernel, runs.tbb_version, runs.program_version, "
                                                      "runs.source_revision"
                                                    : "machines.compiler, machines.kernel, machines.tbb_version, "
                                                      "'unknown', 'unknown'") +
                          " FROM runs JOIN machines "
                          "ON machines.id = runs.machine_id" +
                          f.where() + (machine ? " AND runs.machine_id = :machine" : "") +
                          " ORDER BY run_epoch DESC, runs.id DESC";
        if (filter.last) {
            sql += " LIMIT " + std::to_string(*filter.last);
        }
        SQLite::Statement q(db, sql);
        f.bind(q);
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
        fail(file_, e);
    }
}

std::pair<std::size_t, std::size_t> sqlite_history::others(const run_filter& filter) {
    SQLite::Database& db = db_;
    try {
        const std::optional<std::string> machine = machine_of(db, filter, version_ >= 3);
        if (!machine) {
            return {0, 0};
        }
        const filter_sql f{filter, version_ >= 3};
        SQLite::Statement q(db, "SELECT count(*), count(DISTINCT machine_id) FROM runs" + f.where() +
                                    " AND machine_id != :machine");
        f.bind(q);
        q.bind(":machine", *machine);
        q.executeStep();
        return {static_cast<std::size_t>(q.getColumn(0).getInt64()), static_cast<std::size_t>(q.getColumn(1).getInt64())};
    } catch (const SQLite::Exception& e) {
        fail(file_, e);
    }
}

std::vector<stored_median> sqlite_history::medians(const std::vector<std::int64_t>& run_ids,
                                                   const std::optional<std::string>& strategy) {
    if (run_ids.empty()) {
        return {};
    }
    try {
        // One query over the ids' range rather than one per run: a trend of ten thousand runs
        // would spend most of its time starting statements.
        const auto [lowest, highest] = std::minmax_element(run_ids.begin(), run_ids.end());
        SQLite::Statement q(db_, "SELECT run_id, cpus, strategy, median_ns, low_ns, high_ns, count FROM medians "
                                       "WHERE run_id BETWEEN ? AND ? AND (?3 IS NULL OR strategy = ?3) "
                                       "ORDER BY run_id, cpus, position");
        q.bind(1, *lowest);
        q.bind(2, *highest);
        if (strategy) {
            q.bind(3, *strategy);
        }
        std::vector<stored_median> found;
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
            found.push_back(std::move(m));
        }
        return history_internal::in_run_order(std::move(found), run_ids);
    } catch (const SQLite::Exception& e) {
        fail(file_, e);
    }
}

std::string sqlite_history::document(std::int64_t run_id) {
    try {
        SQLite::Statement q(db_, "SELECT document FROM runs WHERE id = ?");
        q.bind(1, run_id);
        if (!q.executeStep()) {
            throw history_error("no stored run has the id " + std::to_string(run_id), 2);
        }
        return q.getColumn(0).getString();
    } catch (const SQLite::Exception& e) {
        fail(file_, e);
    }
}

std::int64_t sqlite_history::resolve(const std::string& reference) {
    try {
        SQLite::Database& db = db_;
        std::optional<SQLite::Statement> q;
        if (is_run_id(reference)) {
            q.emplace(db, "SELECT id FROM runs WHERE id = ?");
            q->bind(1, static_cast<std::int64_t>(std::stoll(reference)));
        } else if (reference == "latest") {
            q.emplace(db, "SELECT id FROM runs ORDER BY run_epoch DESC, id DESC LIMIT 1");
        } else {
            q.emplace(db, "SELECT id FROM runs WHERE label = ? ORDER BY run_epoch DESC, id DESC LIMIT 1");
            q->bind(1, reference);
        }
        if (!q->executeStep()) {
            throw history_error("no stored run is '" + printable(reference) + "' (a run id, a label, or latest)", 2);
        }
        return q->getColumn(0).getInt64();
    } catch (const SQLite::Exception& e) {
        fail(file_, e);
    }
}

std::size_t sqlite_history::count() {
    try {
        return static_cast<std::size_t>(db_.execAndGet("SELECT count(*) FROM runs").getInt64());
    } catch (const SQLite::Exception& e) {
        fail(file_, e);
    }
}

std::vector<stored_machine> sqlite_history::machines() {
    try {
        // Each machine with its runs, and the software of its newest run.
        const std::string newest = "FROM runs WHERE machine_id = m.id ORDER BY run_epoch DESC, id DESC LIMIT 1)";
        SQLite::Statement q(db_, "SELECT m.id, m.name, m.host_name, m.cpu_model, m.logical_cpus, m.memory_bytes, " +
                                     (version_ >= 3 ? "(SELECT kernel " + newest + ", (SELECT compiler " + newest
                                                    : std::string("m.kernel, m.compiler")) +
                                     ", count(r.id), min(r.run_time), max(r.run_time) "
                                 "FROM machines m LEFT JOIN runs r ON r.machine_id = m.id GROUP BY m.id ORDER BY m.name");
        std::vector<stored_machine> machines;
        while (q.executeStep()) {
            stored_machine m;
            m.id = q.getColumn(0).getString();
            m.name = q.getColumn(1).getString();
            m.host_name = q.getColumn(2).getString();
            m.cpu_model = q.getColumn(3).getString();
            m.logical_cpus = static_cast<unsigned>(q.getColumn(4).getInt64());
            m.memory_bytes = static_cast<std::uint64_t>(q.getColumn(5).getInt64());
            m.kernel = q.getColumn(6).getString();
            m.compiler = q.getColumn(7).getString();
            m.runs = static_cast<std::size_t>(q.getColumn(8).getInt64());
            m.first_run = q.getColumn(9).getString();
            m.last_run = q.getColumn(10).getString();
            machines.push_back(std::move(m));
        }
        return machines;
    } catch (const SQLite::Exception& e) {
        fail(file_, e);
    }
}
