// Every query of a history, written once for both databases: recording a run, the runs a filter
// selects, their medians, a stored document, the machines.
#include <algorithm>
#include <cctype>
#include <limits>
#include <unordered_map>

#include "common/text.hpp"
#include "history/session.hpp"

namespace {

// The filters other than the machine, $1 to $5, each null when not given: the user's text is only
// ever a value. The casts let PostgreSQL type a parameter first seen in IS NULL.
std::string filters(bool facts_on_runs) {
    return std::string("(CAST($1 AS TEXT) IS NULL OR r.label = $1) AND (CAST($2 AS TEXT) IS NULL OR ") +
           (facts_on_runs ? "r.source_revision" : "'unknown'") +
           " = $2) AND (CAST($3 AS BIGINT) IS NULL OR r.run_epoch >= $3) AND (CAST($4 AS BIGINT) IS NULL OR "
           "r.run_epoch <= $4) AND (CAST($5 AS BIGINT) IS NULL OR r.array_size = $5)";
}

std::vector<sql_value> filter_values(const run_filter& f) {
    return {sql_or_null(f.label), sql_or_null(f.revision), sql_or_null(f.since_epoch), sql_or_null(f.until_epoch),
            sql_or_null(f.size)};
}

// A stored run's columns, `r` the runs and `m` the machines joined. Before schema 3 the build was
// a fact of the machine, and the version and revision were not kept.
std::string run_columns(bool facts_on_runs) {
    return std::string("r.id, r.run_time, r.run_epoch, r.label, r.machine_id, m.name, r.kind, r.array_size, "
                       "r.chunk_size, r.runs, r.processes, r.value_kind, r.cpus, m.cpu_model, ") +
           (facts_on_runs ? "r.compiler, r.kernel, r.tbb_version, r.program_version, r.source_revision"
                          : "m.compiler, m.kernel, m.tbb_version, 'unknown', 'unknown'");
}

stored_run run_of(const sql_row& q) {
    stored_run r;
    r.id = q.integer(0);
    r.run_time = q.text(1);
    r.run_epoch = q.integer(2);
    r.label = q.text(3);
    r.machine_id = q.text(4);
    r.machine_name = q.text(5);
    r.kind = q.text(6);
    r.array_size = static_cast<std::uint64_t>(q.integer(7));
    r.chunk_size = q.integer(8);
    r.runs = static_cast<std::uint64_t>(q.integer(9));
    r.processes = static_cast<std::uint64_t>(q.integer(10));
    r.values = q.text(11);
    r.cpus = static_cast<unsigned>(q.integer(12));
    r.cpu_model = q.text(13);
    r.compiler = q.text(14);
    r.kernel = q.text(15);
    r.tbb_version = q.text(16);
    r.program_version = q.text(17);
    r.source_revision = q.text(18);
    return r;
}

// The medians of one query over a range of run ids, kept for the runs asked for and in their
// order (each run's own rows in the order found). O(found + run_ids).
std::vector<stored_median> in_run_order(std::vector<stored_median> found, const std::vector<std::int64_t>& run_ids) {
    std::unordered_map<std::int64_t, std::vector<stored_median>> by_run;
    for (stored_median& m : found) {
        by_run[m.run_id].push_back(std::move(m));
    }
    std::vector<stored_median> medians;
    for (const std::int64_t id : run_ids) {
        const auto run = by_run.find(id);
        if (run != by_run.end()) {
            medians.insert(medians.end(), run->second.begin(), run->second.end());
        }
    }
    return medians;
}

class sql_history : public history_backend {
public:
    explicit sql_history(std::unique_ptr<sql_session> session) : s_(std::move(session)) {}

    record_outcome record(const run_row& row) override {
        return in_transaction(true, [&] {
            s_->query("INSERT INTO machines VALUES ($1, $2, $3, $4, $5, $6) ON CONFLICT (id) DO NOTHING",
                      {row.machine.id, row.machine.name, row.host_name, row.cpu_model, row.logical_cpus,
                       row.memory_bytes});
            // The unique hash decides a duplicate, inside the transaction: never a read, then a write.
            const auto added = s_->query(
                "INSERT INTO runs (recorded_at, run_time, run_epoch, label, machine_id, kind, array_size, chunk_size, "
                "runs, processes, value_kind, cpus, document, document_hash, compiler, kernel, tbb_version, "
                "program_version, source_revision) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, "
                "$14, $15, $16, $17, $18, $19) ON CONFLICT (document_hash) DO NOTHING RETURNING id",
                {history_internal::utc_now(), row.run_time, row.run_epoch, row.label, row.machine.id, row.kind,
                 row.array_size, row.chunk_size, row.runs, row.processes, row.values, row.cpus, row.document, row.hash,
                 row.compiler, row.kernel, row.tbb_version, row.program_version, row.source_revision});
            if (added.empty()) {
                const auto known = s_->query("SELECT id, label FROM runs WHERE document_hash = $1", {row.hash});
                return record_outcome{known.at(0).integer(0), false, known.at(0).text(1)};
            }
            const std::int64_t id = added[0].integer(0);
            std::int64_t position = 0;
            for (const auto& m : row.medians) {
                s_->query("INSERT INTO medians VALUES ($1, $2, $3, $4, $5, $6, $7, $8)",
                          {id, static_cast<std::int64_t>(m.cpus), position++, m.strategy, m.median_ns,
                           sql_or_null(m.low_ns), sql_or_null(m.high_ns), static_cast<std::int64_t>(m.count)});
            }
            return record_outcome{id, true, row.label};
        });
    }

    std::vector<stored_run> list(const run_filter& filter) override {
        return in_transaction(false, [&] {
            const bool facts = s_->facts_on_runs();
            std::vector<sql_value> values = filter_values(filter);
            values.push_back(sql_or_null(machine_of(filter)));
            values.emplace_back(filter.last ? static_cast<std::int64_t>(*filter.last)
                                            : std::numeric_limits<std::int64_t>::max());
            std::vector<stored_run> runs;
            for (const auto& row : s_->query("SELECT " + run_columns(facts) +
                                                 " FROM runs r JOIN machines m ON m.id = r.machine_id WHERE " +
                                                 filters(facts) + " AND (CAST($6 AS TEXT) IS NULL OR r.machine_id = $6)"
                                                                  " ORDER BY r.run_epoch DESC, r.id DESC LIMIT $7",
                                             values)) {
                runs.push_back(run_of(row));
            }
            std::reverse(runs.begin(), runs.end());
            return runs;
        });
    }

    std::pair<std::size_t, std::size_t> others(const run_filter& filter) override {
        return in_transaction(false, [&]() -> std::pair<std::size_t, std::size_t> {
            const std::optional<std::string> machine = machine_of(filter);
            if (!machine) {
                return {0, 0};
            }
            std::vector<sql_value> values = filter_values(filter);
            values.emplace_back(*machine);
            const auto counts = s_->query("SELECT count(*), count(DISTINCT r.machine_id) FROM runs r WHERE " +
                                              filters(s_->facts_on_runs()) + " AND r.machine_id <> $6",
                                          values);
            return {static_cast<std::size_t>(counts.at(0).integer(0)), static_cast<std::size_t>(counts.at(0).integer(1))};
        });
    }

    std::vector<stored_median> medians(const std::vector<std::int64_t>& run_ids,
                                       const std::optional<std::string>& strategy) override {
        if (run_ids.empty()) {
            return {};
        }
        return in_transaction(false, [&] {
            // One query over the ids' range rather than one per run: a trend of ten thousand runs
            // would spend most of its time starting statements.
            const auto [lowest, highest] = std::minmax_element(run_ids.begin(), run_ids.end());
            std::vector<stored_median> found;
            for (const auto& row :
                 s_->query("SELECT run_id, cpus, strategy, median_ns, low_ns, high_ns, count FROM medians "
                           "WHERE run_id BETWEEN $1 AND $2 AND (CAST($3 AS TEXT) IS NULL OR strategy = $3) "
                           "ORDER BY run_id, cpus, position",
                           {*lowest, *highest, sql_or_null(strategy)})) {
                stored_median m;
                m.run_id = row.integer(0);
                m.cpus = static_cast<unsigned>(row.integer(1));
                m.strategy = row.text(2);
                m.median_ns = row.integer(3);
                if (!row.null(4)) {
                    m.low_ns = row.integer(4);
                    m.high_ns = row.integer(5);
                }
                m.count = static_cast<std::uint64_t>(row.integer(6));
                found.push_back(std::move(m));
            }
            return in_run_order(std::move(found), run_ids);
        });
    }

    std::string document(std::int64_t run_id) override {
        return in_transaction(false, [&] {
            const auto found = s_->query("SELECT document FROM runs WHERE id = $1", {run_id});
            if (found.empty()) {
                throw history_error("no stored run has the id " + std::to_string(run_id), 2);
            }
            return found[0].text(0);
        });
    }

    std::int64_t resolve(const std::string& reference) override {
        return in_transaction(false, [&] {
            const auto found =
                is_run_id(reference)   ? s_->query("SELECT id FROM runs WHERE id = $1", {std::stoll(reference)})
                : reference == "latest" ? s_->query("SELECT id FROM runs ORDER BY run_epoch DESC, id DESC LIMIT 1")
                                        : s_->query("SELECT id FROM runs WHERE label = $1 "
                                                    "ORDER BY run_epoch DESC, id DESC LIMIT 1",
                                                    {reference});
            if (found.empty()) {
                throw history_error("no stored run is '" + printable(reference) + "' (a run id, a label, or latest)", 2);
            }
            return found[0].integer(0);
        });
    }

    std::size_t count() override {
        return in_transaction(false,
                              [&] { return static_cast<std::size_t>(s_->query("SELECT count(*) FROM runs").at(0).integer(0)); });
    }

    std::vector<stored_machine> machines() override {
        return in_transaction(false, [&] {
            // Each machine with its runs, and the software of its newest run.
            const std::string newest = "FROM runs WHERE machine_id = m.id ORDER BY run_epoch DESC, id DESC LIMIT 1)";
            const std::string software = s_->facts_on_runs()
                                             ? "(SELECT kernel " + newest + ", (SELECT compiler " + newest
                                             : std::string("m.kernel, m.compiler");
            std::vector<stored_machine> machines;
            for (const auto& row : s_->query("SELECT m.id, m.name, m.host_name, m.cpu_model, m.logical_cpus, "
                                             "m.memory_bytes, " +
                                             software +
                                             ", count(r.id), min(r.run_time), max(r.run_time) FROM machines m "
                                             "LEFT JOIN runs r ON r.machine_id = m.id GROUP BY m.id ORDER BY m.name")) {
                stored_machine m;
                m.id = row.text(0);
                m.name = row.text(1);
                m.host_name = row.text(2);
                m.cpu_model = row.text(3);
                m.logical_cpus = static_cast<unsigned>(row.integer(4));
                m.memory_bytes = static_cast<std::uint64_t>(row.integer(5));
                m.kernel = row.text(6);
                m.compiler = row.text(7);
                m.runs = static_cast<std::size_t>(row.integer(8));
                m.first_run = row.text(9);
                m.last_run = row.text(10);
                machines.push_back(std::move(m));
            }
            return machines;
        });
    }

    std::optional<run_row> row(std::int64_t run_id) override {
        if (!s_->facts_on_runs()) {
            return std::nullopt;
        }
        return in_transaction(false, [&] {
            const auto found = s_->query(
                "SELECT m.id, m.name, m.host_name, m.cpu_model, m.logical_cpus, m.memory_bytes, r.run_time, "
                "r.run_epoch, r.label, r.kind, r.array_size, r.chunk_size, r.runs, r.processes, r.value_kind, r.cpus, "
                "r.compiler, r.kernel, r.tbb_version, r.program_version, r.source_revision, r.document, "
                "r.document_hash FROM runs r JOIN machines m ON m.id = r.machine_id WHERE r.id = $1",
                {run_id});
            if (found.empty()) {
                throw history_error("no stored run has the id " + std::to_string(run_id), 2);
            }
            const sql_row& q = found[0];
            run_row r{{q.text(0), q.text(1)}, q.text(2), q.text(3), q.integer(4), q.integer(5), q.text(6),
                      q.integer(7), q.text(8), q.text(9), q.integer(10), q.integer(11), q.integer(12), q.integer(13),
                      q.text(14), q.integer(15), q.text(16), q.text(17), q.text(18), q.text(19), q.text(20),
                      q.text(21), q.text(22), {}};
            for (const auto& m : s_->query("SELECT cpus, strategy, median_ns, low_ns, high_ns, count FROM medians "
                                           "WHERE run_id = $1 ORDER BY position",
                                           {run_id})) {
                r.medians.push_back({0, static_cast<unsigned>(m.integer(0)), m.text(1), m.integer(2),
                                     m.null(3) ? std::nullopt : std::optional(m.integer(3)),
                                     m.null(4) ? std::nullopt : std::optional(m.integer(4)),
                                     static_cast<std::uint64_t>(m.integer(5))});
            }
            return std::optional(std::move(r));
        });
    }

private:
    // `body()` in one transaction, a failure of the database said in the history's words.
    template <typename Body>
    auto in_transaction(bool write, Body body) -> decltype(body()) {
        std::optional<decltype(body())> result;
        try {
            s_->transaction(write, [&] { result.emplace(body()); });
        } catch (const history_error&) {
            throw;
        } catch (const std::exception& e) {
            s_->fail(e);
        }
        return std::move(*result);
    }

    // The machine whose runs a filter without --all-machines shows: the one named (its id, the
    // start of its id, its short name, or its host name when that host is one machine; compared as
    // text, so % and _ are no wildcards), or else the machine of the newest run that passes the
    // other filters. Inside a transaction.
    std::optional<std::string> machine_of(const run_filter& filter) {
        if (filter.machine) {
            const auto found = s_->query("SELECT id FROM machines WHERE id = $1 OR name = $1 OR host_name = $1 OR "
                                         "substr(id, 1, length($1)) = $1",
                                         {*filter.machine});
            if (found.size() != 1) {
                const std::string given = printable(*filter.machine);
                throw history_error(found.empty() ? "no stored machine is called '" + given + "'"
                                                  : "'" + given + "' names " + std::to_string(found.size()) +
                                                        " machines (history machines lists them; name one by its "
                                                        "short name)",
                                    2);
            }
            return found[0].text(0);
        }
        if (filter.all_machines) {
            return std::nullopt;
        }
        const auto newest = s_->query("SELECT r.machine_id FROM runs r WHERE " + filters(s_->facts_on_runs()) +
                                          " ORDER BY r.run_epoch DESC, r.id DESC LIMIT 1",
                                      filter_values(filter));
        return newest.empty() ? std::nullopt : std::optional(newest[0].text(0));
    }

    std::unique_ptr<sql_session> s_;
};

} // namespace

std::unique_ptr<history_backend> history_over(std::unique_ptr<sql_session> session) {
    return std::make_unique<sql_history>(std::move(session));
}
