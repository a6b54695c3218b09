// The machine facts from fixture files, the readiness verdicts, the counters where they open, the
// resources of a real run and the memory model against the peak the kernel measured.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <chrono>
#include <regex>
#include <thread>

#include "machine/counters.hpp"
#include "machine/readiness.hpp"
#include "machine/facts.hpp"
#include "bench/memory_model.hpp"
#include "bench/tsan_annotations.hpp"
#include "process.hpp"
#include "thread_limit.hpp"

namespace fs = std::filesystem;

TEST(MachineFacts, ParsersReadTheKernelsOwnText) {
    EXPECT_EQ(parse_loadavg("0.52 1.03 2.50 3/412 9041\n"), (std::vector<double>{0.52, 1.03, 2.50}));
    EXPECT_TRUE(parse_loadavg("garbage").empty());
    const meminfo m = parse_meminfo("MemTotal:       24576000 kB\nMemFree: 100 kB\nMemAvailable:   20000000 kB\n"
                                    "SwapTotal:       1048576 kB\nSwapFree:         524288 kB\n");
    EXPECT_EQ(m.available, 20000000ull * 1024);
    EXPECT_EQ(m.swap_total - m.swap_free, 524288ull * 1024);
    EXPECT_EQ(bracketed_choice("always [madvise] never\n"), "madvise");
    EXPECT_FALSE(bracketed_choice("madvise"));
    EXPECT_EQ(parse_procs_running("cpu  1 2 3\nctxt 99\nprocs_running 3\nprocs_blocked 0\n"), 3u);
    EXPECT_EQ(parse_busy_ticks("cpu  100 5 20 9000 7 1 2 3 0 0\ncpu0 1 2 3\n"), 131u) << "idle and iowait left out";
    EXPECT_FALSE(parse_busy_ticks("intr 1 2 3\n"));
    // A name with blanks and a parenthesis; utime and stime are the 14th and 15th fields.
    const auto t = parse_pid_stat("4242 (my (odd) prog) R 1 4242 4242 0 -1 4194304 100 0 0 0 250 50 0 0 20 0 1 0");
    ASSERT_TRUE(t);
    EXPECT_EQ(t->name, "my (odd) prog");
    EXPECT_EQ(t->ticks, 300u);
    EXPECT_FALSE(parse_pid_stat("4242 no parentheses"));
    // The first CPU's model and clock; a hypervisor's flag among the others' flags.
    const cpuinfo cpu = parse_cpuinfo("processor\t: 0\nmodel name\t: AMD EPYC 7B13\ncpu MHz\t\t: 2449.998\n"
                                      "flags\t\t: fpu sse2 hypervisor\nprocessor\t: 1\nmodel name\t: other\n");
    EXPECT_EQ(cpu.model, "AMD EPYC 7B13");
    EXPECT_EQ(cpu.mhz, 2449u);
    EXPECT_TRUE(cpu.hypervisor);
    EXPECT_FALSE(parse_cpuinfo("flags\t\t: fpu sse2\n").hypervisor);
    EXPECT_EQ(parse_cpuinfo("").model, "unknown");
}

TEST(MachineFacts, FixtureTreesGiveTheVerdictsAndTheChanges) {
    const scratch_dir dir;
    const fs::path proc = dir.path / "proc";
    const fs::path sys = dir.path / "sys";
    const auto put = [](const fs::path& file, const std::string& text) {
        fs::create_directories(file.parent_path());
        write_text(file, text);
    };
    put(proc / "loadavg", "0.10 0.20 0.30 1/100 42\n");
    put(proc / "meminfo", "MemAvailable: 2097152 kB\nSwapTotal: 0 kB\nSwapFree: 0 kB\n");
    put(proc / "sys/kernel/perf_event_paranoid", "2\n");
    put(sys / "kernel/mm/transparent_hugepage/enabled", "[always] madvise never\n");
    // A virtual machine: no cpufreq, no throttle counters.
    environment_facts vm = read_environment(proc.string(), sys.string());
    EXPECT_FALSE(vm.governor);
    EXPECT_FALSE(vm.throttle_count);
    EXPECT_EQ(vm.transparent_hugepages, "always");
    EXPECT_EQ(vm.perf_event_paranoid, 2);
    EXPECT_FALSE(cpu_scaling_enabled(1, (sys / "devices/system/cpu").string()));
    vm.hardware_threads = 2;
    std::vector<check_line> lines = judge_environment(vm, 1u << 30);
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_TRUE(lines[0].ok);
    EXPECT_HAS(lines[0].text, "not exposed");
    EXPECT_TRUE(lines[3].ok) << "2 GiB available, 1 GiB needed";
    EXPECT_FALSE(judge_environment(vm, 3u << 30)[3].ok) << "3 GiB needed";

    // A machine with a powersave governor, boost and two throttled CPUs.
    put(sys / "devices/system/cpu/cpu0/cpufreq/scaling_governor", "powersave\n");
    put(sys / "devices/system/cpu/cpu0/cpufreq/scaling_min_freq", "800000\n");
    put(sys / "devices/system/cpu/cpu0/cpufreq/scaling_max_freq", "3600000\n");
    put(sys / "devices/system/cpu/cpufreq/boost", "1\n");
    put(sys / "devices/system/cpu/cpu0/thermal_throttle/core_throttle_count", "3\n");
    put(sys / "devices/system/cpu/cpu1/thermal_throttle/core_throttle_count", "4\n");
    environment_facts before = read_environment(proc.string(), sys.string());
    EXPECT_EQ(before.governor, "powersave");
    EXPECT_EQ(before.boost, true);
    EXPECT_EQ(before.throttle_count, 7u);
    EXPECT_TRUE(cpu_scaling_enabled(1, (sys / "devices/system/cpu").string()));
    lines = judge_environment(before, 1);
    EXPECT_FALSE(lines[0].ok);
    EXPECT_HAS(lines[0].advice, "performance");
    EXPECT_HAS(lines[0].text, "scaling 0.80 to 3.60 GHz, boost on") << lines[0].text;

    put(sys / "devices/system/cpu/cpu0/cpufreq/scaling_governor", "performance\n");
    put(sys / "devices/system/cpu/cpu1/thermal_throttle/core_throttle_count", "6\n");
    environment_facts after = read_environment(proc.string(), sys.string());
    // Ten seconds on two CPUs: 1500 busy ticks at 100 a second, of which this process had 4 s.
    before.busy_ticks = 1000;
    after.busy_ticks = 2500;
    before.read_at_ns = before.own_cpu_ns = 0;
    after.read_at_ns = 10'000'000'000;
    after.own_cpu_ns = 4'000'000'000;
    after.hardware_threads = 2;
    const std::vector<std::string> changes = environment_changes(before, after, 100);
    ASSERT_EQ(changes.size(), 3u) << ::testing::PrintToString(changes);
    EXPECT_HAS(changes[0], "kept 55% of the CPUs busy") << changes[0];
    after.own_cpu_ns = 14'000'000'000;
    EXPECT_EQ(environment_changes(before, after, 100).size(), 2u) << "all the busy time was the run's own";
    EXPECT_HAS(changes[1], "throttled 2 times");
    EXPECT_HAS(changes[2], "from powersave to performance");
    EXPECT_TRUE(environment_changes(before, before).empty());
}

TEST(Counters, OpenWhereTheKernelAllowsAndSayWhyNotElsewhere) {
    const counter_set counters;
    const resource_reading start = read_resources(counters);
    volatile double sink = 0;
    for (int k = 0; k < 20'000'000; ++k) {
        sink = sink + k;
    }
    const resource_reading busy_end = read_resources(counters);
    const phase_resources used = resources_between("busy", start, busy_end, 1);
    EXPECT_GT(used.user_ns, 0);
    // One busy thread keeps at most one CPU busy, however loaded the machine is.
    EXPECT_GT(used.parallelism, 0.0);
    EXPECT_LT(used.parallelism, 1.2);
    ASSERT_EQ(used.counters.size(), available_counters().size());
    for (const auto& c : used.counters) {
        EXPECT_TRUE(c.value.has_value() != !c.reason.empty()) << c.name << ": a value or a reason, never both";
    }
    if (used.counters[0].value) {
        EXPECT_NEAR(*used.counters[0].value, static_cast<double>(used.user_ns + used.system_ns),
                    0.2 * static_cast<double>(used.user_ns + used.system_ns) + 20e6)
            << "task-clock agrees with getrusage";
    }
    // A quiet phase after the busy one counts only itself.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const phase_resources quiet = resources_between("quiet", busy_end, read_resources(counters), 1);
    EXPECT_LT(quiet.user_ns, 30'000'000);
    if (quiet.counters[0].value) {
        EXPECT_LT(*quiet.counters[0].value, 30e6) << "task-clock of the quiet phase alone";
    }
    const counter_set off(false);
    for (const auto& c : off.read()) {
        EXPECT_FALSE(c.value);
        EXPECT_HAS(c.reason, "not available");
    }
}

TEST(MemoryModel, ChunkedSortAndRefusal) {
    // 10 elements in slices of 4: splitting holds the array, the runs and one slice (24); the last
    // merge holds the runs (10), the array merged so far (8, as doubling leaves it) and the merge
    // array growing from 8 to 16 (24): 42.
    EXPECT_EQ(chunked_sort_peak_elements(10, 4), 42u);
    EXPECT_EQ(chunked_sort_peak_elements(10, 10), 30u) << "one slice: no merge";
    // What the arenas keep: 0.65 (log2 runs - 2.5) of the merged array's storage (a power of two),
    // capped at 32 MiB of it; worked by hand.
    EXPECT_EQ(chunked_sort_retained_elements(2'000'000, 100'000), 2'483'560u) << "20 runs, 2^21 elements";
    EXPECT_EQ(chunked_sort_retained_elements(4'000'000, 100'000), 7'693'416u) << "40 runs, 16 MiB, within the threshold";
    EXPECT_EQ(chunked_sort_retained_elements(10'000'000, 100'000), 0u) << "64 MiB merge arrays are mapped, given back";
    EXPECT_EQ(chunked_sort_retained_elements(500'000, 100'000), 0u) << "5 runs: too few doublings";
    EXPECT_EQ(chunked_sort_retained_elements(50'000, 100'000), 0u) << "one run: no merge";
    run_settings huge;
    huge.sizes.array_size = 2'000'000'000;
    const memory_need need = predict_peak(huge, 2);
    EXPECT_GT(need.peak_bytes, 80ull << 30);
    const auto refusal = memory_refusal(need, {24ull << 30, std::nullopt});
    ASSERT_TRUE(refusal);
    // The pool's 10 queued arrays, the reused one and a copy per worker: 13 x 8 GB, 14 MiB and what
    // 16 arenas keep of three 400 kB slices each.
    EXPECT_NE(refusal->find("needs about 96.9 GiB"), std::string::npos) << *refusal;
    EXPECT_NE(refusal->find("24.0 GiB is available"), std::string::npos) << *refusal;
    EXPECT_FALSE(memory_refusal(predict_peak(run_settings{}, 2), {24ull << 30, std::nullopt}));

    const process_result r = run_process(bench_binary(), {"--size", "2000000000"});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_TRUE(r.out.empty()) << "refused before any work";
    EXPECT_HAS(r.err, "this run needs about") << r.err;
}

// The model refuses runs that would not fit, so it must never be below what a run really holds:
// for every kind of option set, the measured peak is at most the prediction.
TEST(MemoryModel, IsAnUpperBoundOfTheMeasuredPeakForEveryOptionSet) {
#ifndef QSB_SANITIZED
    const std::string size = "1000000";
#else
    const std::string size = "100000"; // sanitized sorts are many times slower, and peaks are not compared
#endif
    const std::vector<std::vector<std::string>> option_sets = {
        {"--size", "1000", "--runs", "1"},
        {"--size", "100000", "--runs", "3", "--reference"},
        {"--size", size, "--runs", "3"},
        {"--size", size, "--runs", "3", "--reference"},
        {"--size", size, "--runs", "10", "--chunk", "1000"},
        {"--size", size, "--runs", "3", "--chunk", "2000000"},
        {"--size", size, "--runs", "6", "--precision", "5", "--max-runs", "12"},
        {"--size", size, "--runs", "3", "--breakdown"},
        {"--size", size, "--runs", "10", "--values", "wide", "--resources"},
    };
    for (const auto& options : option_sets) {
#ifdef QSB_TSAN // ThreadSanitizer cannot follow the reference sorts on oneTBB (see tsan.supp)
        if (std::find(options.begin(), options.end(), "--reference") != options.end()) {
            continue;
        }
#endif
        const process_result r = run_process(bench_binary(), with(options, {"--export-json", "-"}));
        ASSERT_EQ(r.exit_code, 0) << r.err;
        const auto doc = nlohmann::json::parse(r.out);
        const double predicted = doc["memory"]["predicted_peak_bytes"].get<double>();
        const double measured = doc["memory"]["measured_peak_rss_bytes"].get<double>();
#ifndef QSB_SANITIZED // shadow memory and quarantine multiply a sanitized process's resident memory
        EXPECT_LE(measured, predicted) << ::testing::PrintToString(options);
#else
        EXPECT_GT(predicted * measured, 0);
#endif
    }
}

TEST(Resources, ARealRunReportsWhatEachPhaseUsed) {
    const process_result r = run_process(bench_binary(), {"--size", "200000", "--runs", "10", "--values", "wide",
                                                          "--resources", "--export-json", "-"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const auto doc = nlohmann::json::parse(r.out);
    ASSERT_EQ(doc["resources"].size(), 4u);
    EXPECT_EQ(doc["resources"][2]["phase"], "parallel sort");
    EXPECT_GT(doc["resources"][2]["parallelism"].get<double>(), 0);
    EXPECT_TRUE(doc["context"]["environment"]["after"].is_object());
    EXPECT_EQ(doc["strategies"][2]["cpu_ns"].size(), 10u) << "the chunked sort's CPU time per sort";
    EXPECT_HAS(r.err, "Resources:\n\nphase ") << r.err;
}

TEST(Check, VerdictsOnTheConsoleAndInJsonAgreeWithTheStatus) {
    const scratch_dir dir;
    const process_result r = run_process(bench_binary(), {"check", "--export-json", dir.file("check.json")});
    ASSERT_TRUE(r.exit_code == 0 || r.exit_code == 1) << r.err;
    const auto doc = nlohmann::json::parse(read_text(dir.file("check.json")));
    EXPECT_EQ(doc["verdict"], r.exit_code == 0 ? "ok" : "warn");
    EXPECT_EQ(doc["lines"].size(), 7u);
    const std::regex line("(ok    |warn  )[A-Z][a-zA-Z ]+ +[^\n]+\n");
    EXPECT_EQ(std::distance(std::sregex_iterator(r.out.begin(), r.out.end(), line), std::sregex_iterator()), 7) << r.out;
    EXPECT_EQ(r.out.find("warn") != std::string::npos, r.exit_code == 1);
}
