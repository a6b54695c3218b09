#include "report/json_reader.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "report/breakdown_json.hpp"
#include "report/exports.hpp"
#include "report/json_fields.hpp"
#include "report/json_values.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <limits>
#include <sstream>

namespace {

using namespace json_values;

run_context parse_context(const json& doc) {
    const std::string where = "context";
    const json& c = object_at(doc, "", "context");
    run_context context;
    context.date_time = text_at(c, where, "date_time");
    context.host_name = text_at(c, where, "host_name");
    context.cpu_model = text_at(c, where, "cpu_model");
    context.logical_cpus = static_cast<unsigned>(whole_at(c, where, "logical_cpus", 0, 1 << 20));
    context.compiler = text_at(c, where, "compiler");
    context.build_type = text_at(c, where, "build_type");
    context.tbb_version = text_at(c, where, "tbb_version");
    context.array_size = static_cast<std::uint64_t>(whole_at(c, where, "array_size", 1, 2'147'483'647));
    context.chunk_size = whole_at(c, where, "chunk_size", 1, 2'147'483'647);
    // A run of processes, and a sweep's step of rounds, count every process's sorts.
    context.run_count = static_cast<std::uint64_t>(whole_at(c, where, "run_count", 1, 1'000'000'000));
    if (c.contains("kernel")) {
        context.kernel = text_at(c, where, "kernel");
    }
    if (c.contains("memory_bytes")) {
        context.memory_bytes = static_cast<std::uint64_t>(whole_at(c, where, "memory_bytes", 0, INT64_MAX));
    }
    if (c.contains("processes")) {
        context.processes = static_cast<std::uint64_t>(whole_at(c, where, "processes", 1, 1'000'000));
    }
    context.generator = text_at(c, where, "generator");
    // Exports from before the value kinds existed hold classic values.
    context.values = c.contains("values") ? text_at(c, where, "values") : "classic";
    if (context.values != "classic" && context.values != "wide") {
        fail(where + ".values", "neither \"classic\" nor \"wide\"");
    }
    if (c.contains("cpu_mhz")) {
        context.cpu_mhz = static_cast<unsigned>(whole_at(c, where, "cpu_mhz", 0, 1 << 30));
    }
    if (c.contains("cpu_scaling_enabled")) {
        context.cpu_scaling_enabled = flag_at(c, where, "cpu_scaling_enabled");
    }
    if (c.contains("caches")) {
        const json& caches = array_at(c, where, "caches");
        for (std::size_t k = 0; k < caches.size(); ++k) {
            const std::string at = where + ".caches[" + std::to_string(k) + "]";
            if (!caches[k].is_object()) {
                fail(at, "not an object");
            }
            context.caches.push_back({text_at(caches[k], at, "type"),
                                      static_cast<unsigned>(whole_at(caches[k], at, "level", 0, 16)),
                                      static_cast<std::uint64_t>(whole_at(caches[k], at, "size", 0, 1LL << 50)),
                                      static_cast<unsigned>(whole_at(caches[k], at, "num_sharing", 0, 1 << 20))});
        }
    }
    if (c.contains("load_avg")) {
        const json& loads = array_at(c, where, "load_avg");
        for (std::size_t k = 0; k < loads.size(); ++k) {
            if (!loads[k].is_number() || loads[k].get<double>() < 0) {
                fail(where + ".load_avg[" + std::to_string(k) + "]", "not a load average");
            }
            context.load_avg.push_back(loads[k].get<double>());
        }
    }
    if (c.contains("precision")) {
        const std::string at = where + ".precision";
        const json& p = object_at(c, where, "precision");
        const json& target = member(p, at, "target");
        if (!target.is_number() || !(target.get<double>() > 0) || target.get<double>() > 0.5) {
            fail(at + ".target", "not a precision between 0 and 0.5");
        }
        precision_goal setting;
        setting.target = target.get<double>();
        setting.max_runs = static_cast<std::uint64_t>(whole_at(p, at, "max_runs", 1, 1'000'000'000));
        if (p.contains("max_processes")) {
            setting.max_processes = static_cast<std::uint64_t>(whole_at(p, at, "max_processes", 1, 1'000'000));
        }
        if (setting.max_runs < context.run_count) {
            fail(at + ".max_runs", "below context.run_count, the minimum");
        }
        const json& limit = member(p, at, "max_time_ns");
        if (!limit.is_null()) {
            setting.max_time_ns = whole(limit, at + ".max_time_ns", 1, max_duration_ns);
        }
        context.precision = setting;
    }
    if (c.contains("cpus")) {
        const json& cpus = array_at(c, where, "cpus");
        for (std::size_t k = 0; k < cpus.size(); ++k) {
            context.cpus.push_back(
                static_cast<unsigned>(whole(cpus[k], where + ".cpus[" + std::to_string(k) + "]", 0, 1 << 20)));
        }
        context.tbb_threads = static_cast<unsigned>(whole_at(c, where, "tbb_threads", 0, 1 << 20));
    }
    return context;
}

// Each process's durations, which together must be the strategy's durations in the same order:
// anything else means the file was edited or damaged.
std::vector<duration_list> parse_processes(const json& entry, const std::string& where, const run_context& context,
                                           const duration_list& durations) {
    const json& list = array_at(entry, where, "processes");
    if (list.size() != context.processes) {
        fail(where + ".processes", std::to_string(list.size()) + " processes where context.processes is " +
                                       std::to_string(context.processes));
    }
    std::vector<duration_list> processes;
    duration_list joined;
    for (std::size_t p = 0; p < list.size(); ++p) {
        const std::string at = where + ".processes[" + std::to_string(p) + "]";
        if (!list[p].is_object()) {
            fail(at, "not an object");
        }
        const json& values = array_at(list[p], at, "durations_ns");
        if (values.empty()) {
            fail(at + ".durations_ns", "empty");
        }
        duration_list one;
        for (std::size_t k = 0; k < values.size(); ++k) {
            one.push_back(whole(values[k], at + ".durations_ns[" + std::to_string(k) + "]", 0, max_duration_ns));
        }
        joined.insert(joined.end(), one.begin(), one.end());
        processes.push_back(std::move(one));
    }
    if (joined != durations) {
        fail(where + ".processes", "the processes' durations are not the strategy's durations_ns");
    }
    return processes;
}

strategy_result parse_strategy(const json& entry, const std::string& where, const run_context& context) {
    const std::uint64_t run_count = context.run_count;
    if (!entry.is_object()) {
        fail(where, "not an object");
    }
    const std::string name = text_at(entry, where, "name");
    const bool reference = flag_at(entry, where, "reference");
    const json& list = array_at(entry, where, "durations_ns");
    // With a precision goal run_count is the minimum and max_runs the most; otherwise exact.
    const std::uint64_t most = context.precision ? context.precision->max_runs : run_count;
    if (list.size() < run_count || list.size() > most) {
        fail(where + ".durations_ns", std::to_string(list.size()) + " durations where context.run_count is " +
                                          std::to_string(run_count) +
                                          (context.precision ? " and precision.max_runs " + std::to_string(most) : ""));
    }
    duration_list durations;
    durations.reserve(list.size());
    for (std::size_t k = 0; k < list.size(); ++k) {
        durations.push_back(whole(list[k], where + ".durations_ns[" + std::to_string(k) + "]", 0, max_duration_ns));
    }
    strategy_result result = make_strategy(name, std::move(durations));
    result.reference = reference;
    if (entry.contains("processes")) {
        result.processes = parse_processes(entry, where, context, result.durations);
        add_process_figures(result);
    }
    if (entry.contains("cpu_ns")) {
        const json& cpu = array_at(entry, where, "cpu_ns");
        if (cpu.size() != result.durations.size()) {
            fail(where + ".cpu_ns", "not one CPU time per duration");
        }
        for (std::size_t k = 0; k < cpu.size(); ++k) {
            result.cpu_ns.push_back(whole(cpu[k], where + ".cpu_ns[" + std::to_string(k) + "]", 0, max_duration_ns));
        }
    }
    return result;
}

template <typename Figures>
Figures figures_at(const json& strategies, std::size_t k) {
    const std::string where = "strategies[" + std::to_string(k) + "].breakdown";
    const json& entry = member(strategies[k], "strategies[" + std::to_string(k) + "]", "breakdown");
    try {
        return entry.get<Figures>();
    } catch (const json::exception& e) {
        fail(where, std::string("damaged (") + e.what() + ")");
    }
}

breakdown_results parse_breakdown(const json& strategies, std::uint64_t runs) {
    breakdown_results b;
    b.runs = runs;
    b.sequential = figures_at<quicksort_figures>(strategies, 0);
    b.thread = figures_at<thread_figures>(strategies, 1);
    b.parallel = figures_at<chunked_figures>(strategies, 2);
    const auto contention = [&](std::size_t k) {
        const json& breakdown = member(strategies[k], "strategies[" + std::to_string(k) + "]", "breakdown");
        if (!breakdown.contains("contention")) {
            fail("strategies[" + std::to_string(k) + "].breakdown.contention", "missing");
        }
        try {
            return breakdown["contention"].get<contention_json>();
        } catch (const json::exception& e) {
            fail("strategies[" + std::to_string(k) + "].breakdown.contention", std::string("damaged (") + e.what() + ")");
        }
    };
    const contention_json thread = contention(1);
    const contention_json chunked = contention(3);
    b.contention = {thread.in_loop_ns, thread.alone_ns, exact_ratio(thread.in_loop_ns, thread.alone_ns),
                    chunked.in_loop_ns, chunked.alone_ns, exact_ratio(chunked.in_loop_ns, chunked.alone_ns)};
    return b;
}

// The parts of a record that describe the machine rather than the sorts: kept when a sweep
// gathers its steps, refused as damaged when they do not have their shape.
void parse_machine_parts(const json& doc, benchmark_results& results) {
    const json& context = doc.at("context");
    if (context.contains("environment")) {
        const json& e = context.at("environment");
        try {
            read_record(e.at("before"), results.environment_before.emplace());
            if (!e.at("after").is_null()) {
                read_record(e.at("after"), results.environment_after.emplace());
            }
            results.environment_warnings = e.at("warnings").get<std::vector<std::string>>();
        } catch (const json::exception& x) {
            fail("context.environment", std::string("damaged (") + x.what() + ")");
        }
    }
    if (doc.contains("resources")) {
        try {
            read_field(doc.at("resources"), results.resources);
        } catch (const json::exception& x) {
            fail("resources", std::string("damaged (") + x.what() + ")");
        }
    }
    if (doc.contains("memory")) {
        results.predicted_peak_bytes =
            static_cast<std::uint64_t>(whole_at(doc.at("memory"), "memory", "predicted_peak_bytes", 0, INT64_MAX));
        results.peak_rss_bytes =
            static_cast<std::uint64_t>(whole_at(doc.at("memory"), "memory", "measured_peak_rss_bytes", 0, INT64_MAX));
    }
}

benchmark_results parse_record(const json& doc, const std::string& where) {
    if (!doc.is_object()) {
        throw export_error((where.empty() ? "the top level" : where) + ": not a result record (a JSON object)");
    }
    try {
        run_context context = parse_context(doc);
        const json& list = array_at(doc, "", "strategies");
        const char* const main_names[] = {"sequential sort", "thread sort", "parallel sort",
                                          "parallel_for parallel sort"};
        if (list.size() < 4) {
            fail(".strategies", "fewer than the four measured strategies");
        }
        std::vector<strategy_result> strategies;
        for (std::size_t k = 0; k < list.size(); ++k) {
            const std::string at = "strategies[" + std::to_string(k) + "]";
            strategies.push_back(parse_strategy(list[k], at, context));
            if (k < 4 && (strategies.back().name != main_names[k] || strategies.back().reference)) {
                fail(at + ".name", "expected \"" + std::string(main_names[k]) + "\"");
            }
            if (k >= 4 && !strategies.back().reference) {
                fail(at + ".reference", "only reference sorts follow the four measured strategies");
            }
            for (std::size_t other = 0; other < k; ++other) {
                if (strategies[other].name == strategies.back().name) {
                    fail(at + ".name", "\"" + strategies.back().name + "\" appears twice");
                }
            }
        }
        std::optional<breakdown_results> breakdown;
        if (list[0].contains("breakdown")) {
            breakdown = parse_breakdown(list, context.run_count);
        }
        std::vector<strategy_result> references(std::make_move_iterator(strategies.begin() + 4),
                                                std::make_move_iterator(strategies.end()));
        benchmark_results results =
            make_results(std::move(context), std::move(strategies[0]), std::move(strategies[1]),
                         std::move(strategies[2]), std::move(strategies[3]), std::move(references));
        results.breakdown = std::move(breakdown);
        parse_machine_parts(doc, results);
        if (doc.contains("process_costs_ns")) {
            const json& costs = array_at(doc, "", "process_costs_ns");
            for (std::size_t k = 0; k < costs.size(); ++k) {
                results.process_costs_ns.push_back(
                    whole(costs[k], "process_costs_ns[" + std::to_string(k) + "]", 0, max_duration_ns));
            }
        }
        return results;
    } catch (const export_error& e) {
        // Field paths are relative to the record; name where the record sits.
        std::string message = e.what();
        if (!message.empty() && message[0] == '.') {
            message.erase(0, 1);
        }
        throw export_error(where.empty() ? message : where + "." + message);
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

} // namespace

benchmark_results parse_result_record(const std::string& text) {
    const json doc = parse_json(text);
    check_version(doc);
    return parse_record(doc, "");
}

export_document parse_export(const std::string& text) {
    const json doc = parse_json(text);
    check_version(doc);
    export_document result;
    if (!doc.is_object() || !doc.contains("steps")) {
        result.sweep.steps.push_back({parse_record(doc, "")});
        result.sweep.planned_counts.push_back(0);
        return result;
    }
    const json& sweep = object_at(doc, "", "sweep");
    const json& counts = array_at(sweep, "sweep", "cpu_counts");
    for (std::size_t k = 0; k < counts.size(); ++k) {
        result.sweep.planned_counts.push_back(
            static_cast<unsigned>(whole(counts[k], "sweep.cpu_counts[" + std::to_string(k) + "]", 1, 1 << 20)));
    }
    const json& failure = member(sweep, "sweep", "failure");
    if (!failure.is_null() && !failure.is_string()) {
        fail("sweep.failure", "neither null nor a string");
    }
    const json& steps = array_at(doc, "", "steps");
    if (steps.size() > counts.size()) {
        fail("steps", "more steps than sweep.cpu_counts plans");
    }
    // Steps come ascending by CPU count; with shuffled rounds an incomplete sweep may lack any of them.
    for (std::size_t k = 0; k < steps.size(); ++k) {
        const std::string where = "steps[" + std::to_string(k) + "]";
        benchmark_results record = parse_record(steps[k], where);
        const auto n = static_cast<unsigned>(record.context.cpus.size());
        const auto& planned = result.sweep.planned_counts;
        if (std::find(planned.begin(), planned.end(), n) == planned.end()) {
            fail(where + ".context.cpus", "holds " + std::to_string(n) + " CPUs, a count sweep.cpu_counts does not plan");
        }
        if (k > 0 && n <= result.sweep.steps.back().cpu_count()) {
            fail(where + ".context.cpus", "the steps are not in ascending order of their CPU counts");
        }
        result.sweep.steps.push_back({std::move(record)});
    }
    if (sweep.contains("rounds")) {
        result.sweep.rounds = static_cast<unsigned>(whole_at(sweep, "sweep", "rounds", 1, 1000));
        result.sweep.seed = static_cast<std::uint64_t>(whole_at(sweep, "sweep", "seed", 0, INT64_MAX));
        const json& order = array_at(sweep, "sweep", "order");
        for (std::size_t r = 0; r < order.size(); ++r) {
            const std::string at = "sweep.order[" + std::to_string(r) + "]";
            if (!order[r].is_array()) {
                fail(at, "not an array");
            }
            result.sweep.order.emplace_back();
            for (std::size_t k = 0; k < order[r].size(); ++k) {
                result.sweep.order.back().push_back(
                    static_cast<unsigned>(whole(order[r][k], at + "[" + std::to_string(k) + "]", 1, 1 << 20)));
            }
        }
    }
    result.sweep.failure = failure.is_string() ? failure.get<std::string>()
                           : steps.size() < counts.size() ? "the sweep ended early"
                                                          : "";
    return result;
}

export_document read_export_file(const std::string& path, std::size_t max_bytes) {
    const auto refuse = [&](const std::string& why) { return export_error("'" + path + "': " + why); };
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        throw refuse(std::string("cannot be read (") + std::strerror(errno) + ")");
    }
    const struct closer {
        int fd;
        ~closer() { ::close(fd); }
    } close_on_exit{fd};
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        throw refuse(std::string("cannot be read (") + std::strerror(errno) + ")");
    }
    if (S_ISDIR(info.st_mode)) {
        throw refuse("cannot be read (it is a folder, not a file)");
    }
    const std::string too_large =
        "larger than " + std::to_string(max_bytes >> 20) + " MiB, far more than any export of this program";
    if (S_ISREG(info.st_mode) && static_cast<std::uint64_t>(info.st_size) > max_bytes) {
        throw refuse(too_large);
    }
    std::string text;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            throw refuse(std::string("cannot be read (") + std::strerror(errno) + ")");
        }
        if (got == 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(got));
        // An export is a JSON object: a stream that starts otherwise (a device of zeros, say) is
        // refused now rather than after reading it up to the limit.
        const auto first = text.find_first_not_of(" \t\r\n");
        if (first != std::string::npos && text[first] != '{') {
            break;
        }
        if (text.size() > max_bytes) {
            throw refuse(too_large);
        }
    }
    try {
        return parse_export(text);
    } catch (const export_error& e) {
        throw refuse(e.what());
    }
}
