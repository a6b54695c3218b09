// The history's backends behind one interface, and what a run is stored as whichever the database.
// Private to history/.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "history/store.hpp"

// The schema both backends are at. SQLite histories of older versions are upgraded when written
// (sqlite_open.cpp); a PostgreSQL history starts at this version.
inline constexpr int schema_version = 3;

// A run as the history stores it: its machine, its columns, its document and the medians of each
// strategy (and sweep step), worked out once for every backend.
struct run_row {
    machine_identity machine;
    std::string host_name;
    std::string cpu_model;
    std::int64_t logical_cpus = 0;
    std::int64_t memory_bytes = 0;
    std::string run_time;
    std::int64_t run_epoch = 0;
    std::string label;
    std::string kind;
    std::int64_t array_size = 0;
    std::int64_t chunk_size = 0;
    std::int64_t runs = 0;
    std::int64_t processes = 0;
    std::string values;
    std::int64_t cpus = 0;
    std::string compiler;
    std::string kernel;
    std::string tbb_version;
    std::string program_version;
    std::string source_revision;
    std::string document; // canonical: keys sorted, no blanks
    std::string hash;     // of the canonical document
    std::vector<stored_median> medians; // their run_id left 0
};
run_row row_of(const sweep_results& run, const nlohmann::json& document, const std::string& label);

namespace history_internal {

// FNV-1a as 16 hex digits: stable across builds and machines, which std::hash is not.
std::string stable_hash(const std::string& text);

// Now, in UTC: "2026-12-07T13:09:50Z".
std::string utc_now();

} // namespace history_internal

// Whether `reference` is a run id: digits only, and few enough to be one.
bool is_run_id(const std::string& reference);

class history_backend {
public:
    virtual ~history_backend() = default;
    virtual record_outcome record(const run_row& row) = 0;
    virtual std::vector<stored_run> list(const run_filter& filter) = 0;
    virtual std::pair<std::size_t, std::size_t> others(const run_filter& filter) = 0;
    virtual std::vector<stored_median> medians(const std::vector<std::int64_t>& run_ids,
                                               const std::optional<std::string>& strategy) = 0;
    virtual std::string document(std::int64_t run_id) = 0;
    virtual std::int64_t resolve(const std::string& reference) = 0;
    virtual std::size_t count() = 0;
    virtual std::vector<stored_machine> machines() = 0;
    // A stored run's row as recorded, or nothing from a history older than schema 3, whose rows
    // hold the build on the machine.
    virtual std::optional<run_row> row(std::int64_t run_id) = 0;
};

std::unique_ptr<history_backend> open_sqlite(const std::filesystem::path& file, history_mode mode);
std::unique_ptr<history_backend> open_postgres(const std::string& uri, history_mode mode);
