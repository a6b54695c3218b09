// A PostgreSQL history: the connection, the schema quicksort_bench checked or created (one creator
// at a time), and the queries' statements run in its transactions.
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

postgres_session::postgres_session(const postgres_location& location, history_mode mode) try
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
    // Restored by libpqxx whenever it reconnects, as a prepared statement would be.
    connection_.set_variable("search_path", "quicksort_bench");
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

void postgres_session::fail(const std::exception& e) const {
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

std::vector<sql_row> postgres_session::query(const std::string& sql, const std::vector<sql_value>& values) {
    std::vector<std::optional<std::string>> texts;
    for (const sql_value& v : values) {
        if (const auto* integer = std::get_if<std::int64_t>(&v)) {
            texts.emplace_back(std::to_string(*integer));
        } else if (const auto* string = std::get_if<std::string>(&v)) {
            texts.emplace_back(*string);
        } else {
            texts.emplace_back();
        }
    }
    std::vector<sql_row> rows;
    for (const auto& found : work_->exec_params(sql, pqxx::prepare::make_dynamic_params(texts))) {
        sql_row row;
        for (const auto& cell : found) {
            row.cells.push_back(cell.is_null() ? std::nullopt : std::optional<std::string>(cell.c_str()));
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

void postgres_session::transaction(bool write, const std::function<void()>& body) {
    struct under_way {
        pqxx::work*& at;
        ~under_way() { at = nullptr; }
    };
    if (write) {
        with_lock_wait(connection_, shown_, [&](pqxx::work& work) {
            work_ = &work;
            const under_way in{work_};
            body();
            work.commit();
            return 0;
        });
        return;
    }
    pqxx::work work(connection_);
    work_ = &work;
    const under_way in{work_};
    body();
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
    std::optional<run_row> row(std::int64_t id) override {
        document(id);
        return std::nullopt;
    }
};

} // namespace

std::string postgres_session::shown_message(const std::exception& e) const {
    return without_secrets(one_line(without_secrets(e.what(), secrets_)), secrets_);
}

std::unique_ptr<history_backend> open_postgres(const std::string& uri, history_mode mode) {
    const auto location = read_postgres_location(uri);
    try {
        return history_over(std::make_unique<postgres_session>(location.value(), mode));
    } catch (const postgres_session::no_history&) {
        return std::make_unique<empty_history>();
    }
}
