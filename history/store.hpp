// The history of runs: every finished run kept whole (its JSON export) in an SQLite database,
// with the columns that selecting, listing and following a series need. One file per user by
// default; written in WAL mode with a busy timeout, each recording one transaction.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "records/results.hpp"
#include "history/places.hpp"
#include "records/stored.hpp"

// Why the history cannot be used: `status` 2 when the file or the request is refused (not our
// database, damaged, a newer schema, an unknown run), 1 when writing failed (a full disk, a
// read-only folder); the database is as it was either way.
class history_error : public std::runtime_error {
public:
    history_error(const std::string& what, int status) : std::runtime_error(what), status_(status) {}
    int status() const { return status_; }

private:
    int status_;
};

// Why `label` cannot tag a run, or nothing when it can: a label must show as it is (no control
// character, valid UTF-8), at most max_label_length bytes, and name its runs alone ("latest" and
// digits name runs otherwise).
inline constexpr std::size_t max_label_length = 200;
std::optional<std::string> label_refusal(const std::string& label);

// A machine is its hardware: host, CPU model, logical CPUs and memory. The compiler, the kernel,
// oneTBB and the build are facts of each run, so that an upgrade shows in a machine's series.
struct machine_identity {
    std::string id;   // stable: a hash of the fields above
    std::string name; // short, for people: the host name and the id's first characters
};
machine_identity identify_machine(const run_context& context);

// Which runs: every filter given must hold. Without all_machines, only one machine's runs (the
// one named, or else the machine of the newest run that passes the other filters).
struct run_filter {
    std::optional<std::string> machine; // id, its start, short name, or host name
    std::optional<std::string> label;
    std::optional<std::string> revision; // the source revision the run was built from
    std::optional<std::int64_t> since_epoch;
    std::optional<std::int64_t> until_epoch;
    std::optional<std::uint64_t> size;
    std::optional<std::size_t> last; // the newest N of those
    bool all_machines = false;
};

// "2026-12-07T13:09:50+0100" (also "+01:00" or "Z") in seconds since 1970, UTC; nothing when malformed.
std::optional<std::int64_t> epoch_of(const std::string& date_time);

// A filter's date: "2026-12-07" (midnight, UTC) or "2026-12-07T13:09:50" (UTC) or with an offset.
std::optional<std::int64_t> parse_filter_date(const std::string& text);

// How a command uses a history: reading opens it read-only and creates nothing; writing creates it
// (a file 0600, in a folder that exists, or in the default folder made 0700; a PostgreSQL schema
// when the role may) and upgrades an older schema.
enum class history_mode { read, write };

// Whether a history's location is PostgreSQL's: a connection URI (postgresql:// or postgres://) or
// a libpq key/value string ("host=db dbname=q", "service=team"). Throws history_error (status 2)
// for a string that looks like a connection but cannot be read as one.
bool is_postgres_location(const std::string& location);

// A location as it may be shown anywhere: a file as it is, a connection rebuilt from its parts
// with every password masked, whatever characters the password holds.
std::string shown_location(const std::string& location);

// Whether the location itself carries a password (in a URI's user part or query, or password=).
bool has_password(const std::string& location);

// What storing a run did: stored it as a new run, or found the same document stored already.
struct record_outcome {
    std::int64_t id = 0;
    bool added = false;
    std::string label; // of the run as stored
};

class history_backend;

// A history: an SQLite file (the default) or a PostgreSQL database, with the same commands and the
// same guarantees.
class history_store {
public:
    // Opens the history at `location`, a file or a connection URI. Refuses, with status 2 and
    // without writing a byte, a history that is not this program's, a damaged one, one of a newer
    // schema, a missing one to read, one to write that is read-only, whose folder does not exist or
    // whose server cannot be reached. A history another writer holds is waited for (up to 30 s),
    // and said so on stderr.
    history_store(const std::string& location, history_mode mode);
    ~history_store();
    history_store(const history_store&) = delete;
    history_store& operator=(const history_store&) = delete;

    // Stores a run: its export `document` with its columns, in one transaction. The same document
    // stored already is not stored again: the outcome names that run.
    record_outcome record(const sweep_results& run, const nlohmann::json& document, const std::string& label);

    // The runs the filter selects, oldest first.
    std::vector<stored_run> list(const run_filter& filter);
    // The runs (and their machines) that pass the filter but another machine's, which a filter
    // without all_machines leaves out; nothing with all_machines.
    std::pair<std::size_t, std::size_t> others(const run_filter& filter);
    // Their medians (of one strategy's, when given), in the runs' order.
    std::vector<stored_median> medians(const std::vector<std::int64_t>& run_ids,
                                       const std::optional<std::string>& strategy = std::nullopt);
    // A stored run's export document.
    std::string document(std::int64_t run_id);
    // A run named by its id, "latest", or a label (its newest run); throws status 2 when none.
    std::int64_t resolve(const std::string& reference);
    std::size_t count();
    // Every machine with its runs, by name.
    std::vector<stored_machine> machines();
    // Stores run `run_id` of `from` as it stands there, its document copied and never parsed.
    // Nothing, and nothing stored, when `from` is older than schema 3: its runs are to be read anew.
    std::optional<record_outcome> record_copy(history_store& from, std::int64_t run_id);

private:
    std::unique_ptr<history_backend> backend_;
};
