// --export-gbench must read like Google Benchmark's own JSON to the tools that consume it: every
// key ours writes exists in the real thing with the same JSON type.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "process.hpp"

namespace fs = std::filesystem;

namespace {

nlohmann::json load(const fs::path& path) {
    std::ifstream in(path);
    return nlohmann::json::parse(in);
}

// Google Benchmark writes whole numbers for some fields that are doubles in general; both are numbers.
std::string type_of(const nlohmann::json& value) {
    return value.is_number() ? "number" : value.type_name();
}

void expect_same_keys_and_types(const nlohmann::json& ours, const nlohmann::json& theirs, const std::string& where) {
    for (const auto& [key, value] : ours.items()) {
        ASSERT_TRUE(theirs.contains(key)) << where << "." << key << " is not in Google Benchmark's output";
        EXPECT_EQ(type_of(value), type_of(theirs[key])) << where << "." << key;
    }
}

} // namespace

TEST(GbenchFormat, EveryKeyAndTypeMatchesGoogleBenchmarksOwnOutput) {
    const fs::path dir = fs::temp_directory_path() / ("qsb-gbench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const process_result peer =
        run_process(QSB_GBENCH_PEER, {"--benchmark_repetitions=3", "--benchmark_min_time=0.001",
                                      "--benchmark_out_format=json", "--benchmark_out=" + (dir / "theirs.json").string()});
    ASSERT_EQ(peer.exit_code, 0) << peer.err;
    const process_result bench = run_process(
        bench_binary(), {"--size", "20000", "--runs", "3", "--chunk", "3000", "--export-gbench", (dir / "ours.json").string()});
    ASSERT_EQ(bench.exit_code, 0) << bench.err;
    const nlohmann::json theirs = load(dir / "theirs.json");
    const nlohmann::json ours = load(dir / "ours.json");
    fs::remove_all(dir);

    expect_same_keys_and_types(ours["context"], theirs["context"], "context");
    // Their entries by kind: the iteration runs and each aggregate.
    std::map<std::string, nlohmann::json> reference;
    for (const auto& entry : theirs["benchmarks"]) {
        reference[entry["run_type"].get<std::string>() + entry.value("aggregate_name", "")] = entry;
    }
    std::map<std::string, int> seen;
    for (const auto& entry : ours["benchmarks"]) {
        const std::string kind = entry["run_type"].get<std::string>() + entry.value("aggregate_name", "");
        ASSERT_TRUE(reference.count(kind)) << kind;
        expect_same_keys_and_types(entry, reference[kind], entry["name"].get<std::string>());
        ++seen[kind];
    }
    EXPECT_EQ(seen["iteration"], 4 * 3) << "one entry per measured sort";
    for (const char* aggregate : {"aggregatemean", "aggregatemedian", "aggregatestddev", "aggregatecv"}) {
        EXPECT_EQ(seen[aggregate], 4) << aggregate;
    }
}
