// The reporters, fed fixed result records: what each file format holds and how it quotes.
#include <gtest/gtest.h>


#include <sys/stat.h>

#include <thread>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <sstream>
#include <stdexcept>

#include "process.hpp"
#include "common/output_file.hpp"
#include "records/comparison.hpp"
#include "records/json_reader.hpp"
#include "records/record_fields.hpp"
#include "report/exports.hpp"
#include "report/sweep_report.hpp"

namespace {

template <typename Reporter, typename Records>
std::string render(Reporter reporter, const Records& results) {
    std::ostringstream out;
    reporter(results, out);
    return out.str();
}

} // namespace

TEST(Results, SortsSideBySideScaleByThroughputOneAtATimeByTheMedian) {
    // On 1 and 2 CPUs each sort takes as long (100 ms) while the loop's phase does twice the work
    // in the same wall time: the pool and the parallel loops doubled their throughput. The chunked
    // sort ran one at a time and halved its median.
    sweep_results sweep;
    for (const unsigned cpus : {1u, 2u}) {
        benchmark_results step = sample_results();
        step.context.cpus.assign(cpus, 0);
        const duration_ns chunked = 100'000'000 / cpus;
        step.strategies = {make_strategy("sequential sort", duration_list(4, 100'000'000)),
                           make_strategy("parallel sort", duration_list(4, chunked))};
        const auto phase = [](const char* name, duration_ns wall) {
            phase_resources p;
            p.phase = name;
            p.wall_ns = wall;
            return p;
        };
        // The pool's phase in two rounds of two sorts each, whose walls add up.
        step.resources = {phase("sequential sort", 200'000'000 / cpus), phase("parallel sort", 4 * chunked),
                          phase("sequential sort", 200'000'000 / cpus)};
        sweep.steps.push_back({step});
    }
    const std::vector<strategy_scaling> table = scaling_of(sweep);
    ASSERT_EQ(table.size(), 2u);
    EXPECT_TRUE(table[0].by_throughput);
    EXPECT_DOUBLE_EQ(*table[0].points[0].sorts_per_second, 10.0);
    EXPECT_DOUBLE_EQ(*table[0].points[1].sorts_per_second, 20.0);
    EXPECT_DOUBLE_EQ(*table[0].points[1].speedup, 2.0) << "not 100 ms / 100 ms = 1";
    EXPECT_DOUBLE_EQ(*table[0].points[1].efficiency, 1.0);
    EXPECT_FALSE(table[0].points[1].speedup_interval) << "no interval from resampled sorts for a throughput";
    EXPECT_FALSE(table[1].by_throughput);
    EXPECT_DOUBLE_EQ(*table[1].points[1].speedup, 2.0) << "the median halved";
    std::ostringstream text;
    print_scaling_tables(sweep, text);
    EXPECT_HAS(text.str(), "Scaling of the sequential sort (by throughput: its sorts run side by side, one per " "CPU; speedup against 1 CPU")
        << text.str();
    EXPECT_HAS(text.str(), "Scaling of the parallel sort (by the median: its sorts run one at a time;");
    // A record without the phases' wall times scales by the median, as before they were kept.
    for (auto& step : sweep.steps) {
        step.results.resources.clear();
    }
    EXPECT_FALSE(scaling_of(sweep)[0].by_throughput);
    EXPECT_DOUBLE_EQ(*scaling_of(sweep)[0].points[1].speedup, 1.0);
}

TEST(OutputFile, RefusesUnwritablePathsAndReplacesFilesWhole) {
    const scratch_dir dir;
    write_text(dir.file("plain-file"), "x");
    for (const std::string& bad : {dir.file("missing/r.json"), dir.path.string(), std::string(),
                                  dir.file("plain-file/r.json")}) {
        EXPECT_THROW(check_writable(bad), std::runtime_error) << bad;
    }
    check_writable(dir.file("r.json")); // leaves nothing behind: checked by the count below
    write_text(dir.file("r.csv"), "old contents that are longer than the new ones");
    const auto kept = std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                      std::filesystem::perms::group_read;
    std::filesystem::permissions(dir.file("r.csv"), kept);
    write_output_file(dir.file("r.csv"), "new\n");
    EXPECT_EQ(read_text(dir.file("r.csv")), "new\n");
    EXPECT_EQ(std::filesystem::status(dir.file("r.csv")).permissions() & std::filesystem::perms::all, kept)
        << "replaced whole, its permission bits kept";
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), 2) << "no temporary file is left";
    EXPECT_THROW(write_output_file(dir.file("nope/r.csv"), "x"), std::runtime_error);
}

TEST(OutputFile, LinksAreFollowedAndKeptOtherFilesWrittenInPlace) {
    namespace fs = std::filesystem;
    const scratch_dir dir;
    write_text(dir.file("real.json"), "old");
    fs::create_symlink("real.json", dir.file("link.json"));
    fs::create_symlink("later.json", dir.file("dangling.json"));
    for (const char* link : {"link.json", "dangling.json"}) {
        check_writable(dir.file(link));
        write_output_file(dir.file(link), std::string("new ") + link);
        EXPECT_TRUE(fs::is_symlink(dir.file(link))) << link << " stays a link";
    }
    EXPECT_EQ(read_text(dir.file("real.json")), "new link.json");
    EXPECT_EQ(read_text(dir.file("later.json")), "new dangling.json");

    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    check_writable(dir.file("fifo")); // must not wait for a reader
    std::string got;
    std::thread reader([&] { got = read_text(dir.file("fifo")); });
    write_output_file(dir.file("fifo"), "through the pipe");
    reader.join();
    EXPECT_EQ(got, "through the pipe");
    EXPECT_TRUE(fs::is_fifo(dir.file("fifo")));

    fs::create_symlink("loop-b", dir.file("loop-a"));
    fs::create_symlink("loop-a", dir.file("loop-b"));
    EXPECT_THROW(check_writable(dir.file("loop-a")), std::runtime_error);
}

TEST(JsonReport, OneRunHasNoSpreadAndEveryFileNamesItsFormatVersion) {
    benchmark_results r = sample_results();
    r.strategies[0] = make_strategy("sequential sort", {400'000'000});
    const auto doc = nlohmann::json::parse(render(write_json, r));
    EXPECT_EQ(doc["format_version"], export_format_version);
    EXPECT_TRUE(doc["strategies"][0]["stddev_ns"].is_null() && doc["strategies"][0]["cv"].is_null());
    EXPECT_HAS(render(write_markdown, r), "| 400.00 ms | 400.00 | 400.00 | n/a |");

    nlohmann::json old = doc;
    old.erase("format_version");
    old["strategies"] = nlohmann::json::parse(render(write_json, sample_results()))["strategies"];
    old["context"]["run_count"] = 3;
    EXPECT_NO_THROW(parse_export(old.dump())) << "files from before the field are version 1";
    old["format_version"] = export_format_version + 1;
    try {
        parse_export(old.dump());
        ADD_FAILURE() << "a newer format is refused";
    } catch (const export_error& e) {
        const std::string says = "format version " + std::to_string(export_format_version + 1) +
                                 " by a newer quicksort_bench; this one reads versions 1 to " +
                                 std::to_string(export_format_version);
        EXPECT_HAS(std::string(e.what()), says) << e.what();
    }
}

TEST(MarkdownReport, TextFromARecordIsShownNotRendered) {
    benchmark_results r = sample_results();
    r.context.cpu_model = "<img src=x onerror=alert(1)> | *bold* [link](x) `code` a&b";
    const std::string md = render(write_markdown, r);
    EXPECT_HAS(md, "on &lt;img src=x onerror=alert(1)&gt; \\| \\*bold\\* \\[link\\](x) \\`code\\` a&amp;b (") << md;
    EXPECT_LACKS(md, "<img");

    sweep_results base;
    base.planned_counts = {0};
    base.steps = {{sample_results()}};
    sweep_results next = base;
    next.steps[0].results.context.host_name = "<script>x</script>|";
    comparison c = compare_runs(base, {{"new `odd`.json", next}}, 0.05, 0.02);
    c.base_name = "base.json";
    const std::string cmp = render(write_comparison_markdown, c);
    EXPECT_HAS(cmp, "| &lt;script&gt;x&lt;/script&gt;\\| |") << cmp;
    EXPECT_HAS(cmp, "``new `odd`.json``") << "a file name as code, fenced past its backticks";
    EXPECT_LACKS(cmp, "<script>");
}

// One field list writes and reads a record: what goes out comes back and goes out again unchanged,
// and every range the reader enforces refuses the first value past it, naming the field.
TEST(JsonReport, TheFieldListsRoundTripAndRefuseEachValuePastItsRange) {
    benchmark_results r = sample_results();
    r.context.caches = {{"Data", 1, 32768, 2}, {"Unified", 3, 1 << 25, 16}};
    r.context.load_avg = {0.5, 0.25, 0};
    r.context.precision = precision_goal{0.05, 12, 90'000'000'000, 0};
    r.context.cpus = {0, 1};
    r.context.tbb_threads = 2;
    r = make_results(r.context, r.strategies); // judged against the precision goal
    r.floor = sample_results().floor;
    r.process_costs_ns = {5, 6};
    r.predicted_peak_bytes = 1 << 20;
    r.peak_rss_bytes = 1 << 19;
    // The machine's facts and a phase's resources, absent ones (boost, a counter's value) absent.
    environment_facts& e = r.environment_before.emplace();
    e.governor = "powersave";
    e.cores = 8;
    e.load_avg = {0.5, 0.25, 0.125};
    e.busiest = {{"make", 97.5}};
    e.throttle_count = 7;
    e.counters = {{"cycles", true, false, "not available: no PMU"}};
    r.resources = {{"parallel sort", 10, 20, 30, 2.5, 4, 5, 6, 7, 8,
                    {{"cycles", std::nullopt, "no PMU"}, {"task-clock", 1e9, ""}}}}; // by name, as read back
    const std::string text = render(write_json, r);
    EXPECT_EQ(render(write_json, parse_result_record(text)), text);
    nlohmann::json without = nlohmann::json::parse(text);
    without.erase("memory_floor");
    EXPECT_FALSE(parse_result_record(without.dump()).floor.measured()) << "a record without a floor has none";

    const nlohmann::json good = nlohmann::json::parse(text);
    const struct {
        const char* pointer; // the field edited, as a JSON pointer
        nlohmann::json value;
        const char* says;
    } cases[] = {
        {"/context/logical_cpus", -1, "context.logical_cpus: -1 is out of range (0 .. 1048576)"},
        {"/context/array_size", 0, "context.array_size: 0 is out of range (1 .. 2147483647)"},
        {"/context/array_size", 2147483648, "context.array_size: out of range (1 .. 2147483647)"},
        {"/context/chunk_size", 0, "context.chunk_size: 0 is out of range"},
        {"/context/run_count", 0, "context.run_count: 0 is out of range"},
        {"/context/values", "tiny", "context.values: neither \"classic\" nor \"wide\""},
        {"/context/host_name", 7, "context.host_name: not a string"},
        {"/context/cpu_scaling_enabled", "yes", "context.cpu_scaling_enabled: not true or false"},
        {"/context/load_avg/1", -0.5, "context.load_avg[1]: not a load average"},
        {"/context/caches/1/level", 17, "context.caches[1].level: out of range (0 .. 16)"},
        {"/context/caches/0", 3, "context.caches[0]: not an object"},
        {"/context/processes", 0, "context.processes: 0 is out of range (1 .. 1000000)"},
        {"/context/precision/target", 0.6, "context.precision.target: not a precision between 0 and 0.5"},
        {"/context/precision/target", 0, "context.precision.target: not a precision between 0 and 0.5"},
        {"/context/precision/max_runs", 2, "context.precision.max_runs: below context.run_count, the minimum"},
        {"/context/precision/max_time_ns", 0, "context.precision.max_time_ns: 0 is out of range"},
        {"/context/cpus/1", -1, "context.cpus[1]: -1 is out of range"},
        {"/strategies/2/cpu_ns", {1, 2}, "strategies[2].cpu_ns: not one CPU time per duration"},
        {"/strategies/5/reference", false, "strategies[5].reference: only reference sorts follow"},
        {"/strategies/5/name", "std::sort", "strategies[5].name: \"std::sort\" appears twice"},
        {"/strategies/1/name", "thread", "strategies[1].name: expected \"thread sort\""},
        {"/process_costs_ns/0", -5, "process_costs_ns[0]: -5 is out of range"},
        {"/memory/predicted_peak_bytes", -1, "memory.predicted_peak_bytes: -1 is out of range"},
        {"/format_version", 7, "written in format version 7 by a newer quicksort_bench"},
        {"/memory_floor/passes_ns/2", -1, "memory_floor.passes_ns[2]: -1 is out of range"},
        {"/memory_floor/one_cpu_passes_ns", nlohmann::json::array(), "memory_floor: incomplete"},
        {"/memory_floor/bytes_per_pass", 0, "memory_floor.bytes_per_pass: 0 is out of range"},
        {"/kind", "ab", "kind: \"ab\" is not the record of a run, a run of processes or a sweep but the export of `ab`"},
        {"/kind", "sweep", "kind: \"sweep\", and no steps"},
    };
    for (const auto& c : cases) {
        nlohmann::json edited = good;
        edited[nlohmann::json::json_pointer(c.pointer)] = c.value;
        try {
            parse_result_record(edited.dump());
            ADD_FAILURE() << c.pointer << " = " << c.value << " was read";
        } catch (const export_error& e) {
            EXPECT_HAS(std::string(e.what()), c.says) << c.pointer << ": " << e.what();
        }
    }
}
