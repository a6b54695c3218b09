// Reads back what --export-json wrote, for a sweep collecting its steps and for compare. Every
// figure is recomputed from the durations, so a file can disagree with itself only by being refused.
#pragma once

#include <stdexcept>
#include <string>

#include "report/results.hpp"

// A file that is not a result export of this program, or is damaged; the message names the field.
class export_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A single run is held as a sweep of one step whose context has no CPU list.
struct export_document {
    sweep_results sweep;
};

// One result record (the JSON of a single run). Throws export_error.
benchmark_results parse_result_record(const std::string& text);

// A single run or a sweep. Throws export_error.
export_document parse_export(const std::string& text);

// Reads and parses `path`, refusing files over `max_bytes`. Throws export_error naming the file.
export_document read_export_file(const std::string& path, std::size_t max_bytes = 256u << 20);
