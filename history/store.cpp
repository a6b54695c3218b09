// A history: its location chooses its backend, SQLite or PostgreSQL, and every command asks it alike.
#include "history/store.hpp"

#include <algorithm>
#include <cctype>
#include <tuple>

#include "history/backend.hpp"
#include "history/location.hpp"
#include "records/json_fields.hpp"

bool is_postgres_location(const std::string& location) { return read_postgres_location(location).has_value(); }

namespace {

// The location read as PostgreSQL's, or nothing for a file and for a string that cannot be read:
// for showing, which must never fail.
std::optional<postgres_location> read_for_showing(const std::string& location) {
    try {
        return read_postgres_location(location);
    } catch (const history_error&) {
        return postgres_location{"(a connection string that cannot be read)", "", false, {}};
    }
}

} // namespace

std::string shown_location(const std::string& location) {
    const auto postgres = read_for_showing(location);
    return postgres ? postgres->shown : location;
}

bool has_password(const std::string& location) {
    const auto postgres = read_for_showing(location);
    return postgres && postgres->has_password;
}

bool is_run_id(const std::string& reference) {
    return !reference.empty() && reference.size() < 19 &&
           std::all_of(reference.begin(), reference.end(), [](char ch) { return std::isdigit(static_cast<unsigned char>(ch)) != 0; });
}

machine_identity identify_machine(const run_context& c) {
    const std::string fields =
        c.host_name + "\n" + c.cpu_model + "\n" + std::to_string(c.logical_cpus) + "\n" + std::to_string(c.memory_bytes);
    machine_identity m;
    m.id = history_internal::stable_hash(fields);
    m.name = (c.host_name.empty() ? std::string("machine") : c.host_name) + "-" + m.id.substr(0, 6);
    return m;
}

run_row row_of(const sweep_results& run, const nlohmann::json& document, const std::string& label) {
    if (run.steps.empty()) {
        throw history_error("a run without a completed step is not recorded", 2);
    }
    const run_context& c = run.steps.front().results.context;
    run_row row;
    row.machine = identify_machine(c);
    row.host_name = c.host_name;
    row.cpu_model = c.cpu_model;
    row.logical_cpus = c.logical_cpus;
    row.memory_bytes = static_cast<std::int64_t>(c.memory_bytes);
    row.run_time = c.date_time;
    row.run_epoch = epoch_of(c.date_time).value_or(0);
    row.label = label;
    row.kind = kind_of(run);
    row.array_size = static_cast<std::int64_t>(c.array_size);
    row.chunk_size = c.chunk_size;
    row.runs = static_cast<std::int64_t>(c.run_count);
    row.processes = static_cast<std::int64_t>(c.processes);
    row.values = c.values;
    row.cpus = c.logical_cpus; // a sweep: its largest step's CPUs
    row.compiler = c.compiler;
    row.kernel = c.kernel;
    row.tbb_version = c.tbb_version;
    row.program_version = c.program_version;
    row.source_revision = c.source_revision;
    // The same document however it was written: its canonical form (keys sorted, no blanks) decides.
    row.document = json_fields::json_text(document);
    row.hash = history_internal::stable_hash(row.document);
    if (run.is_sweep()) {
        row.cpus = 0;
        for (const auto& step : run.steps) {
            row.cpus = std::max<std::int64_t>(row.cpus, step.cpu_count());
        }
    }
    for (const auto& step : run.steps) {
        for (const auto& s : step.results.strategies) {
            const duration_summary shown = headline(s);
            stored_median m;
            m.cpus = run.is_sweep() ? step.cpu_count() : 0;
            m.strategy = s.name;
            m.median_ns = shown.median;
            if (shown.interval) {
                m.low_ns = shown.interval->low;
                m.high_ns = shown.interval->high;
            }
            m.count = s.across_processes ? s.processes.size() : s.durations.size();
            row.medians.push_back(std::move(m));
        }
        // The floor trends beside the sorts, as two series of their own.
        const memory_floor& f = step.results.floor;
        if (f.measured()) {
            for (const auto& [name, ns, passes] :
                 {std::tuple{memory_floor_series, f.ns(), f.passes_ns.size()},
                  std::tuple{memory_floor_one_cpu_series, f.one_cpu_ns(), f.one_cpu_passes_ns.size()}}) {
                stored_median m;
                m.cpus = run.is_sweep() ? step.cpu_count() : 0;
                m.strategy = name;
                m.median_ns = ns;
                m.count = passes;
                row.medians.push_back(std::move(m));
            }
        }
    }
    return row;
}

history_store::history_store(const std::string& location, history_mode mode)
    : backend_(is_postgres_location(location) ? open_postgres(location, mode) : open_sqlite(location, mode)) {}

history_store::~history_store() = default;

record_outcome history_store::record(const sweep_results& run, const nlohmann::json& document,
                                     const std::string& label) {
    return backend_->record(row_of(run, document, label));
}

std::vector<stored_run> history_store::list(const run_filter& filter) { return backend_->list(filter); }

std::pair<std::size_t, std::size_t> history_store::others(const run_filter& filter) { return backend_->others(filter); }

std::vector<stored_median> history_store::medians(const std::vector<std::int64_t>& run_ids,
                                                  const std::optional<std::string>& strategy) {
    return backend_->medians(run_ids, strategy);
}

std::string history_store::document(std::int64_t run_id) { return backend_->document(run_id); }

std::int64_t history_store::resolve(const std::string& reference) { return backend_->resolve(reference); }

std::size_t history_store::count() { return backend_->count(); }

std::vector<stored_machine> history_store::machines() { return backend_->machines(); }

std::optional<record_outcome> history_store::record_copy(history_store& from, std::int64_t run_id) {
    const std::optional<run_row> row = from.backend_->row(run_id);
    return row ? std::optional(backend_->record(*row)) : std::nullopt;
}
