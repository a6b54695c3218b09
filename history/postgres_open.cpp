// Opening a PostgreSQL history: the connection, the schema quicksort_bench checked or created (one
// creator at a time), and every statement prepared.
#include <cstdint>
#include <iostream>
#include <vector>

#include "common/text.hpp"
#include "history/location.hpp"
#include "history/postgres_history.hpp"
#include "history/schema.hpp"

namespace {

// "QSBH": the advisory lock that serialises the first recorders creating the schema.
constexpr std::int64_t schema_lock = 0x51534248;

// Every filter in one statement, each parameter null when not given: the user's text is only ever a value.
constexpr const char* filters = "($1::text IS NULL OR r.label = $1) AND ($2::text IS NULL OR r.source_revision = $2) "
                                "AND ($3::bigint IS NULL OR r.run_epoch >= $3) AND ($4::bigint IS NULL OR r.run_epoch <= $4) "
                                "AND ($5::bigint IS NULL OR r.array_size = $5)";

void prepare(pqxx::connection& c) {
    const std::string runs = "quicksort_bench.runs r JOIN quicksort_bench.machines m ON m.id = r.machine_id";
    c.prepare("known", "SELECT id, label FROM quicksort_bench.runs WHERE document_hash = $1");
    c.prepare("add_machine", "INSERT INTO quicksort_bench.machines VALUES ($1, $2, $3, $4, $5, $6) ON CONFLICT (id) DO NOTHING");
    c.prepare("add_run", "INSERT INTO quicksort_bench.runs (recorded_at, run_time, run_epoch, label, machine_id, kind, "
                         "array_size, chunk_size, runs, processes, value_kind, cpus, document, document_hash, compiler, "
                         "kernel, tbb_version, program_version, source_revision) VALUES ($1, $2, $3, $4, $5, $6, $7, "
                         "$8, $9, $10, $11, $12, $13, $14, $15, $16, $17, $18, $19) "
                         "ON CONFLICT (document_hash) DO NOTHING RETURNING id");
    c.prepare("add_median", "INSERT INTO quicksort_bench.medians VALUES ($1, $2, $3, $4, $5, $6, $7, $8)");
    c.prepare("list", std::string("SELECT ") + run_columns + " FROM " + runs + " WHERE " + filters +
                          " AND ($6::text IS NULL OR r.machine_id = $6) ORDER BY r.run_epoch DESC, r.id DESC LIMIT $7");
    c.prepare("others", std::string("SELECT count(*), count(DISTINCT r.machine_id) FROM quicksort_bench.runs r WHERE ") +
                            filters + " AND r.machine_id <> $6");
    c.prepare("newest_machine", std::string("SELECT r.machine_id FROM quicksort_bench.runs r WHERE ") + filters +
                                    " ORDER BY r.run_epoch DESC, r.id DESC LIMIT 1");
    c.prepare("machine_named", "SELECT id FROM quicksort_bench.machines WHERE id = $1 OR name = $1 OR host_name = $1 "
                               "OR left(id, length($1)) = $1");
    c.prepare("medians", "SELECT run_id, cpus, strategy, median_ns, low_ns, high_ns, count FROM quicksort_bench.medians "
                         "WHERE run_id BETWEEN $1 AND $2 AND ($3::text IS NULL OR strategy = $3) "
                         "ORDER BY run_id, cpus, position");
    c.prepare("document", "SELECT document FROM quicksort_bench.runs WHERE id = $1");
    c.prepare("run_by_id", "SELECT id FROM quicksort_bench.runs WHERE id = $1");
    c.prepare("latest_run", "SELECT id FROM quicksort_bench.runs ORDER BY run_epoch DESC, id DESC LIMIT 1");
    c.prepare("run_by_label", "SELECT id FROM quicksort_bench.runs WHERE label = $1 ORDER BY run_epoch DESC, id DESC LIMIT 1");
    c.prepare("count", "SELECT count(*) FROM quicksort_bench.runs");
    c.prepare("machines", "SELECT m.id, m.name, m.host_name, m.cpu_model, m.logical_cpus, m.memory_bytes, "
                          "(SELECT kernel FROM quicksort_bench.runs WHERE machine_id = m.id ORDER BY run_epoch DESC, id DESC LIMIT 1), "
                          "(SELECT compiler FROM quicksort_bench.runs WHERE machine_id = m.id ORDER BY run_epoch DESC, id DESC LIMIT 1), "
                          "count(r.id), min(r.run_time), max(r.run_time) FROM quicksort_bench.machines m "
                          "LEFT JOIN quicksort_bench.runs r ON r.machine_id = m.id GROUP BY m.id ORDER BY m.name");
}

// What a role needs on an existing history, said once for every refusal of a privilege.
std::string grants_needed(history_mode mode) {
    return std::string("grant the role USAGE on the schema quicksort_bench, SELECT") +
           (mode == history_mode::write ? " and INSERT on its tables and USAGE on its sequences" : " on its tables");
}

// Whether the schema exists, and refuses one the role may not use, one that is not ours or is
// newer. pg_namespace, not information_schema: the latter hides a schema the role may not use,
// which would read as an empty history.
bool schema_found(pqxx::work& work, const std::string& shown, history_mode mode) {
    const pqxx::result found = work.exec(
        "SELECT has_schema_privilege(oid, 'USAGE') FROM pg_namespace WHERE nspname = 'quicksort_bench'");
    if (found.empty()) {
        return false;
    }
    if (!found[0][0].as<bool>()) {
        throw history_error("permission denied on schema quicksort_bench in " + shown + ": " + grants_needed(mode), 2);
    }
    const pqxx::result info =
        work.exec("SELECT 1 FROM information_schema.tables WHERE table_schema = 'quicksort_bench' AND "
                  "table_name = 'schema_info'");
    const history_error not_ours("the schema quicksort_bench in " + shown + " is not this program's (it holds no "
                                 "quicksort_bench schema_info); it is left as it is",
                                 2);
    if (info.empty()) {
        throw not_ours;
    }
    if (!work.exec("SELECT has_table_privilege('quicksort_bench.schema_info', 'SELECT')")[0][0].as<bool>()) {
        throw history_error("permission denied on table quicksort_bench.schema_info in " + shown + ": " +
                                grants_needed(mode),
                            2);
    }
    const pqxx::result version = work.exec("SELECT application, version FROM quicksort_bench.schema_info");
    if (version.size() != 1 || version[0][0].as<std::string>() != "quicksort_bench") {
        throw not_ours;
    }
    if (const int v = version[0][1].as<int>(); v > schema_version) {
        throw history_error(shown + " was written by a newer quicksort_bench (schema " + std::to_string(v) +
                                "; this one knows schema " + std::to_string(schema_version) + ")",
                            2);
    }
    return true;
}

// Refuses, before any run is measured, a history the role could read but not write (or not read):
// every privilege a command of this mode uses, named together.
void check_privileges(pqxx::work& work, const std::string& shown, history_mode mode) {
    std::vector<std::string> missing;
    for (const char* table : {"machines", "runs", "medians"}) {
        for (const char* privilege : {"SELECT", "INSERT"}) {
            if (std::string(privilege) == "INSERT" && mode == history_mode::read) {
                continue;
            }
            const std::string name = std::string("quicksort_bench.") + table;
            if (!work.exec_params("SELECT has_table_privilege($1, $2)", name, privilege)[0][0].as<bool>()) {
                missing.push_back(std::string(privilege) + " on " + name);
            }
        }
    }
    if (mode == history_mode::write &&
        !work.exec("SELECT has_sequence_privilege('quicksort_bench.runs_id_seq', 'USAGE')")[0][0].as<bool>()) {
        missing.push_back("USAGE on quicksort_bench.runs_id_seq");
    }
    if (!missing.empty()) {
        std::string list;
        for (const auto& m : missing) {
            list += (list.empty() ? "" : ", ") + m;
        }
        throw history_error("permission denied in " + shown + " (no " + list + "): " + grants_needed(mode), 2);
    }
}

} // namespace

std::string lock_or_message(const std::string& message, const std::exception& e) {
    const auto* sql = dynamic_cast<const pqxx::sql_error*>(&e);
    if (sql != nullptr && sql->sqlstate() == "55P03") {
        return "gave up after 30 s waiting for a lock that another session holds (" + message + ")";
    }
    return message;
}

std::string one_line(const std::string& text) {
    std::string line;
    for (const char ch : text) {
        line += ch == '\n' || ch == '\r' ? ' ' : ch;
    }
    while (!line.empty() && line.back() == ' ') {
        line.pop_back();
    }
    return line;
}

postgres_history::postgres_history(const postgres_location& location, history_mode mode) try
    : shown_(location.shown), secrets_(location.secrets), connection_(location.connect) {
    with_lock_wait(connection_, shown_, [&](pqxx::work& work) {
        if (!schema_found(work, shown_, mode)) {
            if (mode == history_mode::read) {
                throw no_history();
            }
            // Sixteen first recorders at once: one creates the schema, the others find it made.
            work.exec_params("SELECT pg_advisory_xact_lock($1)", schema_lock);
            if (!schema_found(work, shown_, mode)) {
                work.exec(schema_sql(sql_dialect::postgres));
                work.exec_params("INSERT INTO quicksort_bench.schema_info VALUES ('quicksort_bench', $1)",
                                 schema_version);
            }
        }
        check_privileges(work, shown_, mode);
        work.commit();
        return 0;
    });
    prepare(connection_);
} catch (const history_error&) {
    throw;
} catch (const no_history&) {
    throw;
} catch (const pqxx::insufficient_privilege& e) {
    throw history_error("the role may not create the schema quicksort_bench in " + location.shown +
                            ": grant it CREATE on the database, or have the database's owner record a run once (" +
                            without_secrets(one_line(e.what()), location.secrets) + ")",
                        2);
} catch (const std::exception& e) {
    throw history_error("cannot use the history " + location.shown + ": " +
                            lock_or_message(without_secrets(one_line(e.what()), location.secrets), e),
                        2);
}

void postgres_history::fail(const std::exception& e) const {
    if (dynamic_cast<const history_error*>(&e) != nullptr) {
        throw history_error(e.what(), static_cast<const history_error&>(e).status());
    }
    // A connection lost in a transaction rolls it back whole: nothing of the run is stored.
    if (dynamic_cast<const pqxx::broken_connection*>(&e) != nullptr || !connection_.is_open()) {
        throw history_error("lost the connection to the history " + shown_ + " (" + shown_message(e) +
                                "); what it was storing was rolled back whole",
                            1);
    }
    throw history_error("cannot use the history " + shown_ + ": " + lock_or_message(shown_message(e), e), 1);
}

namespace {

// A database where no run was ever recorded, as a reader sees it: a history without runs.
class empty_history : public history_backend {
public:
    record_outcome record(const run_row&) override { throw history_error("an empty history is read-only here", 1); }
    std::vector<stored_run> list(const run_filter&) override { return {}; }
    std::pair<std::size_t, std::size_t> others(const run_filter&) override { return {0, 0}; }
    std::vector<stored_median> medians(const std::vector<std::int64_t>&, const std::optional<std::string>&) override {
        return {};
    }
    std::string document(std::int64_t id) override {
        throw history_error("no stored run has the id " + std::to_string(id), 2);
    }
    std::int64_t resolve(const std::string& reference) override {
        throw history_error("no stored run is '" + printable(reference) + "' (a run id, a label, or latest)", 2);
    }
    std::size_t count() override { return 0; }
    std::vector<stored_machine> machines() override { return {}; }
};

} // namespace

std::string postgres_history::shown_message(const std::exception& e) const {
    return without_secrets(one_line(without_secrets(e.what(), secrets_)), secrets_);
}

std::unique_ptr<history_backend> open_postgres(const std::string& uri, history_mode mode) {
    const auto location = read_postgres_location(uri);
    try {
        return std::make_unique<postgres_history>(location.value(), mode);
    } catch (const postgres_history::no_history&) {
        return std::make_unique<empty_history>();
    }
}
