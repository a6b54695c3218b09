// Reads result records and sweeps from their field lists, then checks what one field cannot say
// alone: the counts, the names and order of the strategies, the processes.
#include "records/json_reader.hpp"

#include <algorithm>

#include "common/input_file.hpp"
#include "records/breakdown_json.hpp"
#include "records/record_fields.hpp"

namespace {

using namespace json_values;

// Each process's durations must together be the strategy's durations in the same order: anything
// else means the file was edited or damaged.
void check_processes(const strategy_result& s, const std::string& where, const run_context& context) {
    if (s.processes.size() != context.processes) {
        fail(where + ".processes", std::to_string(s.processes.size()) + " processes where context.processes is " +
                                       std::to_string(context.processes));
    }
    duration_list joined;
    for (const auto& p : s.processes) {
        joined.insert(joined.end(), p.begin(), p.end());
    }
    if (joined != s.durations) {
        fail(where + ".processes", "the processes' durations are not the strategy's durations_ns");
    }
}

void check_strategy(const strategy_result& s, const json& entry, const std::string& where,
                    const run_context& context) {
    // With a precision goal run_count is the minimum and max_runs the most; otherwise exact.
    const std::uint64_t most = context.precision ? context.precision->max_runs : context.run_count;
    if (s.durations.size() < context.run_count || s.durations.size() > most) {
        fail(where + ".durations_ns",
             std::to_string(s.durations.size()) + " durations where context.run_count is " +
                 std::to_string(context.run_count) +
                 (context.precision ? " and precision.max_runs " + std::to_string(most) : ""));
    }
    if (entry.contains("processes")) {
        check_processes(s, where, context);
    }
    if (!s.cpu_ns.empty() && s.cpu_ns.size() != s.durations.size()) {
        fail(where + ".cpu_ns", "not one CPU time per duration");
    }
    if (!s.array_ids.empty() && s.array_ids.size() != s.durations.size()) {
        fail(where + ".array_ids", "not one array per duration");
    }
}

// The measured strategies first, in the table's order, then only references, no name twice.
void check_strategies(const std::vector<strategy_result>& list, const json& entries, const run_context& context) {
    if (context.precision && context.precision->max_runs < context.run_count) {
        fail(".context.precision.max_runs", "below context.run_count, the minimum");
    }
    if (list.size() < measured_strategy_count) {
        fail(".strategies", "fewer than the four measured strategies");
    }
    for (std::size_t k = 0; k < list.size(); ++k) {
        const std::string at = ".strategies[" + std::to_string(k) + "]";
        const strategy_result& s = list[k];
        if (k < measured_strategy_count && (s.name != strategy_table[k].name || s.reference)) {
            fail(at + ".name", "expected \"" + std::string(strategy_table[k].name) + "\"");
        }
        if (k >= measured_strategy_count && !s.reference) {
            fail(at + ".reference", "only reference sorts follow the four measured strategies");
        }
        for (std::size_t other = 0; other < k; ++other) {
            if (list[other].name == s.name) {
                fail(at + ".name", "\"" + s.name + "\" appears twice");
            }
        }
        check_strategy(s, entries[k], at, context);
    }
}

template <typename Figures>
Figures figures_at(const json& strategies, strategy id, const char* key = nullptr) {
    const std::string at = ".strategies[" + std::to_string(index_of(id)) + "]";
    const json& entry = member(strategies[index_of(id)], at, "breakdown");
    const std::string where = at + ".breakdown";
    const json& figures = key == nullptr ? entry : member(entry, where, key);
    try {
        return figures.get<Figures>();
    } catch (const json::exception& e) {
        fail(key == nullptr ? where : where + "." + key, std::string("damaged (") + e.what() + ")");
    }
}

breakdown_results parse_breakdown(const json& strategies, std::uint64_t runs) {
    breakdown_results b;
    b.runs = runs;
    b.sequential = figures_at<quicksort_figures>(strategies, strategy::sequential);
    b.thread = figures_at<thread_figures>(strategies, strategy::thread);
    b.parallel = figures_at<chunked_figures>(strategies, strategy::parallel);
    const auto thread = figures_at<contention_json>(strategies, strategy::thread, "contention");
    const auto chunked = figures_at<contention_json>(strategies, strategy::parallel_for, "contention");
    b.contention = {thread.in_loop_ns, thread.alone_ns, exact_ratio(thread.in_loop_ns, thread.alone_ns),
                    chunked.in_loop_ns, chunked.alone_ns, exact_ratio(chunked.in_loop_ns, chunked.alone_ns)};
    return b;
}

// The record as read, made whole: every strategy's figures recomputed from its durations.
benchmark_results make_whole(benchmark_results read, const json& entries) {
    std::vector<strategy_result> strategies;
    for (auto& s : read.strategies) {
        strategy_result whole = make_strategy(std::move(s.name), std::move(s.durations));
        whole.reference = s.reference;
        whole.cpu_ns = std::move(s.cpu_ns);
        whole.array_ids = std::move(s.array_ids);
        whole.processes = std::move(s.processes);
        add_process_figures(whole);
        strategies.push_back(std::move(whole));
    }
    benchmark_results results = make_results(std::move(read.context), std::move(strategies));
    if (entries[index_of(strategy::sequential)].contains("breakdown")) {
        results.breakdown = parse_breakdown(entries, results.context.run_count);
    }
    results.environment_before = std::move(read.environment_before);
    results.environment_after = std::move(read.environment_after);
    results.environment_warnings = std::move(read.environment_warnings);
    results.resources = std::move(read.resources);
    results.process_costs_ns = std::move(read.process_costs_ns);
    results.processes_planned = read.processes_planned;
    results.failure = std::move(read.failure);
    results.predicted_peak_bytes = read.predicted_peak_bytes;
    results.peak_rss_bytes = read.peak_rss_bytes;
    if ((read.floor.bytes_per_pass > 0 || !read.floor.passes_ns.empty() || !read.floor.one_cpu_passes_ns.empty()) &&
        (!read.floor.measured() || read.floor.bytes_per_pass == 0)) {
        fail(".memory_floor", "incomplete: it needs bytes_per_pass and passes on every CPU and on one");
    }
    results.floor = std::move(read.floor);
    return results;
}

// Field paths are relative to the record; `where` names where the record sits.
[[noreturn]] void rethrow_at(const export_error& e, const std::string& where) {
    std::string message = e.what();
    if (!message.empty() && message[0] == '.') {
        message.erase(0, 1);
    }
    throw export_error(where.empty() ? message : where + "." + message);
}

benchmark_results parse_record(const json& doc, const std::string& where) {
    if (!doc.is_object()) {
        throw export_error((where.empty() ? "the top level" : where) + ": not a result record (a JSON object)");
    }
    try {
        benchmark_results read;
        json_fields::reader fields(doc, "");
        each_field(read, fields);
        const json& entries = doc.at("strategies");
        check_strategies(read.strategies, entries, read.context);
        return make_whole(std::move(read), entries);
    } catch (const export_error& e) {
        rethrow_at(e, where);
    }
}

// Files without the field are version 1; a newer version may mean what this reader cannot know.
void check_version(const json& doc) {
    if (!doc.is_object() || !doc.contains("format_version")) {
        return;
    }
    const std::int64_t version = whole(doc["format_version"], "format_version", 1, 1'000'000);
    if (version > export_format_version) {
        throw export_error("written in format version " + std::to_string(version) + " by a newer quicksort_bench; "
                           "this one reads versions 1 to " + std::to_string(export_format_version));
    }
}

// What a file says it is: a record of a run, of a run of processes, or of a sweep. Other exports of
// this program (a comparison's, say) are refused for what they are.
void check_kind(const json& doc) {
    if (!doc.is_object() || !doc.contains("kind")) {
        return;
    }
    const json& kind = doc["kind"];
    if (kind != "run" && kind != "processes" && kind != "sweep") {
        throw export_error("kind: " + json_fields::json_text(kind) + " is not the record of a run, a run of processes or a sweep" +
                           (kind == "ab" ? " but the export of `ab`, an interleaved comparison" : ""));
    }
    if ((kind == "sweep") != doc.contains("steps")) {
        fail("kind", kind == "sweep" ? "\"sweep\", and no steps" : json_fields::json_text(kind) + ", yet it holds steps");
    }
}

json parse_json(const std::string& text) {
    if (text.find_first_not_of(" \t\r\n") == std::string::npos) {
        throw export_error("empty file");
    }
    try {
        return json::parse(text);
    } catch (const json::exception& e) { // a syntax error, or a number too large for any type
        throw export_error(std::string("not valid JSON (") + e.what() + ")");
    }
}

// Steps come ascending by CPU count; with shuffled rounds an incomplete sweep may lack any of them.
sweep_results parse_sweep(const json& doc) {
    object_at(doc, "", "sweep");
    sweep_results sweep;
    sweep.cpu_sweep = true;
    try {
        json_fields::reader fields(doc, "");
        each_field(sweep, fields);
    } catch (const export_error& e) {
        rethrow_at(e, "");
    }
    const json& steps = array_at(doc, "", "steps");
    if (steps.size() > sweep.planned_counts.size()) {
        fail("steps", "more steps than sweep.cpu_counts plans");
    }
    for (std::size_t k = 0; k < steps.size(); ++k) {
        const std::string where = "steps[" + std::to_string(k) + "]";
        benchmark_results record = parse_record(steps[k], where);
        const auto n = static_cast<unsigned>(record.context.cpus.size());
        const auto& planned = sweep.planned_counts;
        if (std::find(planned.begin(), planned.end(), n) == planned.end()) {
            fail(where + ".context.cpus", "holds " + std::to_string(n) + " CPUs, a count sweep.cpu_counts does not plan");
        }
        if (k > 0 && n <= sweep.steps.back().cpu_count()) {
            fail(where + ".context.cpus", "the steps are not in ascending order of their CPU counts");
        }
        sweep.steps.push_back({std::move(record)});
    }
    if (sweep.failure.empty() && steps.size() < sweep.planned_counts.size()) {
        sweep.failure = "the sweep ended early";
    }
    return sweep;
}

} // namespace

export_document parse_export(nlohmann::json document) {
    check_version(document);
    check_kind(document);
    export_document result;
    if (!document.is_object() || !document.contains("steps")) {
        result.sweep = as_sweep(parse_record(document, ""));
    } else {
        result.sweep = parse_sweep(document);
    }
    result.document = std::move(document);
    return result;
}

export_document parse_export(const std::string& text) { return parse_export(parse_json(text)); }

export_document read_export_file(const std::string& path, std::size_t max_bytes) {
    const auto refuse = [&](const std::string& why) { return export_error("'" + path + "': " + why); };
    std::string text;
    try {
        // An export is a JSON object: a stream that starts otherwise is refused at once.
        text = read_input_file(path, max_bytes, '{');
    } catch (const input_error& e) {
        throw refuse(e.too_large() ? std::string(e.what()) + ", far more than any export of this program" : e.what());
    }
    try {
        return parse_export(text);
    } catch (const export_error& e) {
        throw refuse(e.what());
    }
}
