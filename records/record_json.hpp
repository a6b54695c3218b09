// A result record and a sweep in our JSON: what --export-json writes, a sweep step and a process
// hand their parent, and the history stores.
#pragma once

#include <nlohmann/json_fwd.hpp>

#include <iosfwd>

#include "records/results.hpp"

// Every duration, its statistics and the context; with a breakdown its figures, with processes
// their estimate and variance.
nlohmann::ordered_json run_json(const benchmark_results& results);
void write_json(const benchmark_results& results, std::ostream& out);

// Every step as a full record, plus the scaling table and whether the sweep completed.
nlohmann::ordered_json sweep_json(const sweep_results& sweep);
void write_sweep_json(const sweep_results& sweep, std::ostream& out);

// A single run as a record, a sweep as a sweep.
nlohmann::ordered_json document_json(const sweep_results& run);
