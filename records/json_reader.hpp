// Reads back what --export-json wrote, for a sweep collecting its steps, a run collecting its
// processes, compare and the history. Every figure is recomputed from the durations, so a file can
// disagree with itself only by being refused.
#pragma once

#include <nlohmann/json.hpp>

#include <stdexcept>
#include <string>

#include "records/results.hpp"

// A file that is not a result export of this program, or is damaged; the message names the field.
class export_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A single run is held as a sweep of one step whose context has no CPU list. `document` is the
// JSON it was read from.
struct export_document {
    sweep_results sweep;
    nlohmann::json document;
};

// A single run or a sweep, from its text or its JSON. Throws export_error.
export_document parse_export(const std::string& text);
export_document parse_export(nlohmann::json document);

// Reads and parses `path`, refusing files over `max_bytes`. Throws export_error naming the file.
export_document read_export_file(const std::string& path, std::size_t max_bytes = 256u << 20);
