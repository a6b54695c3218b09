// Reading a history: the runs a filter selects, their medians, a stored document.
#include <algorithm>
#include <cctype>
#include <set>
#include <unordered_map>

#include "history/store_internal.hpp"

using history_internal::fail;

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
