// Recording and reading a PostgreSQL history, through the statements prepared when it was opened.
#include <algorithm>
#include <set>

#include "common/text.hpp"
#include "history/postgres_history.hpp"
#include "history/schema.hpp"

namespace {

template <typename T>
std::optional<T> null_or(const std::optional<T>& value) {
    return value;
}

std::optional<std::int64_t> as_bigint(const std::optional<std::uint64_t>& value) {
    return value ? std::optional(static_cast<std::int64_t>(*value)) : std::nullopt;
}

stored_run run_of(const pqxx::row& q) {
    return run_from_columns([&](int k) { return q[k].as<std::string>(); },
                            [&](int k) { return q[k].as<std::int64_t>(); });
}

} // namespace

record_outcome postgres_history::record(const run_row& row) {
    try {
        return with_lock_wait(connection_, shown_, [&](pqxx::work& work) -> record_outcome {
            work.exec_prepared("add_machine", row.machine.id, row.machine.name, row.host_name, row.cpu_model,
                               row.logical_cpus, row.memory_bytes);
            // The unique hash decides a duplicate, inside the transaction: never a read, then a write.
            const pqxx::result added = work.exec_prepared(
                "add_run", history_internal::utc_now(), row.run_time, row.run_epoch, row.label, row.machine.id, row.kind,
                row.array_size, row.chunk_size, row.runs, row.processes, row.values, row.cpus, row.document, row.hash,
                row.compiler, row.kernel, row.tbb_version, row.program_version, row.source_revision);
            if (added.empty()) {
                const pqxx::result known = work.exec_prepared("known", row.hash);
                work.commit();
                return {known.at(0)[0].as<std::int64_t>(), false, known.at(0)[1].as<std::string>()};
            }
            const auto id = added[0][0].as<std::int64_t>();
            std::int64_t position = 0;
            for (const auto& m : row.medians) {
                work.exec_prepared("add_median", id, static_cast<std::int64_t>(m.cpus), position++, m.strategy, m.median_ns,
                                   m.low_ns, m.high_ns, static_cast<std::int64_t>(m.count));
            }
            work.commit();
            return {id, true, row.label};
        });
    } catch (const std::exception& e) {
        fail(e);
    }
}

std::optional<std::string> postgres_history::machine_of(pqxx::work& work, const run_filter& filter) {
    if (filter.machine) {
        const pqxx::result found = work.exec_prepared("machine_named", *filter.machine);
        if (found.size() != 1) {
            throw history_error(found.empty() ? "no stored machine is called '" + printable(*filter.machine) + "'"
                                              : "'" + printable(*filter.machine) + "' names " +
                                                    std::to_string(found.size()) +
                                                    " machines (history machines lists them; name one by its short name)",
                                2);
        }
        return found[0][0].as<std::string>();
    }
    if (filter.all_machines) {
        return std::nullopt;
    }
    const pqxx::result newest = work.exec_prepared("newest_machine", null_or(filter.label), null_or(filter.revision),
                                                   null_or(filter.since_epoch), null_or(filter.until_epoch),
                                                   as_bigint(filter.size));
    return newest.empty() ? std::nullopt : std::optional(newest[0][0].as<std::string>());
}

std::vector<stored_run> postgres_history::list(const run_filter& filter) {
    try {
        pqxx::work work(connection_);
        const std::optional<std::string> machine = machine_of(work, filter);
        const std::optional<std::int64_t> last =
            filter.last ? std::optional(static_cast<std::int64_t>(*filter.last)) : std::nullopt;
        const pqxx::result rows =
            work.exec_prepared("list", null_or(filter.label), null_or(filter.revision), null_or(filter.since_epoch),
                               null_or(filter.until_epoch), as_bigint(filter.size), machine, last);
        std::vector<stored_run> runs;
        for (const auto& row : rows) {
            runs.push_back(run_of(row));
        }
        std::reverse(runs.begin(), runs.end());
        return runs;
    } catch (const std::exception& e) {
        fail(e);
    }
}

std::pair<std::size_t, std::size_t> postgres_history::others(const run_filter& filter) {
    try {
        pqxx::work work(connection_);
        const std::optional<std::string> machine = machine_of(work, filter);
        if (!machine) {
            return {0, 0};
        }
        const pqxx::result counts =
            work.exec_prepared("others", null_or(filter.label), null_or(filter.revision), null_or(filter.since_epoch),
                               null_or(filter.until_epoch), as_bigint(filter.size), *machine);
        return {counts[0][0].as<std::size_t>(), counts[0][1].as<std::size_t>()};
    } catch (const std::exception& e) {
        fail(e);
    }
}

std::vector<stored_median> postgres_history::medians(const std::vector<std::int64_t>& run_ids,
                                                     const std::optional<std::string>& strategy) {
    if (run_ids.empty()) {
        return {};
    }
    try {
        pqxx::work work(connection_);
        // One query over the ids' range, as the SQLite history asks it.
        const auto [lowest, highest] = std::minmax_element(run_ids.begin(), run_ids.end());
        std::vector<stored_median> found;
        for (const auto& row : work.exec_prepared("medians", *lowest, *highest, strategy)) {
            stored_median m;
            m.run_id = row[0].as<std::int64_t>();
            m.cpus = row[1].as<unsigned>();
            m.strategy = row[2].as<std::string>();
            m.median_ns = row[3].as<std::int64_t>();
            if (!row[4].is_null()) {
                m.low_ns = row[4].as<std::int64_t>();
                m.high_ns = row[5].as<std::int64_t>();
            }
            m.count = row[6].as<std::uint64_t>();
            found.push_back(std::move(m));
        }
        return history_internal::in_run_order(std::move(found), run_ids);
    } catch (const std::exception& e) {
        fail(e);
    }
}

std::string postgres_history::document(std::int64_t run_id) {
    try {
        pqxx::work work(connection_);
        const pqxx::result found = work.exec_prepared("document", run_id);
        if (found.empty()) {
            throw history_error("no stored run has the id " + std::to_string(run_id), 2);
        }
        return found[0][0].as<std::string>();
    } catch (const std::exception& e) {
        fail(e);
    }
}

std::int64_t postgres_history::resolve(const std::string& reference) {
    try {
        pqxx::work work(connection_);
        const pqxx::result found = is_run_id(reference) ? work.exec_prepared("run_by_id", std::stoll(reference))
                                   : reference == "latest" ? work.exec_prepared("latest_run")
                                                           : work.exec_prepared("run_by_label", reference);
        if (found.empty()) {
            throw history_error("no stored run is '" + printable(reference) + "' (a run id, a label, or latest)", 2);
        }
        return found[0][0].as<std::int64_t>();
    } catch (const std::exception& e) {
        fail(e);
    }
}

std::size_t postgres_history::count() {
    try {
        pqxx::work work(connection_);
        return work.exec_prepared("count")[0][0].as<std::size_t>();
    } catch (const std::exception& e) {
        fail(e);
    }
}

std::vector<stored_machine> postgres_history::machines() {
    try {
        pqxx::work work(connection_);
        std::vector<stored_machine> machines;
        for (const auto& row : work.exec_prepared("machines")) {
            stored_machine m;
            m.id = row[0].as<std::string>();
            m.name = row[1].as<std::string>();
            m.host_name = row[2].as<std::string>();
            m.cpu_model = row[3].as<std::string>();
            m.logical_cpus = row[4].as<unsigned>();
            m.memory_bytes = row[5].as<std::uint64_t>();
            m.kernel = row[6].is_null() ? "" : row[6].as<std::string>();
            m.compiler = row[7].is_null() ? "" : row[7].as<std::string>();
            m.runs = row[8].as<std::size_t>();
            m.first_run = row[9].is_null() ? "" : row[9].as<std::string>();
            m.last_run = row[10].is_null() ? "" : row[10].as<std::string>();
            machines.push_back(std::move(m));
        }
        return machines;
    } catch (const std::exception& e) {
        fail(e);
    }
}
