#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "report/exports.hpp"
#include "report/output_file.hpp"
#include "report/results.hpp"

namespace {

benchmark_results fixed_results(bool with_references) {
    run_context c;
    c.date_time = "2026-01-02T03:04:05+0000";
    c.host_name = "bench-host";
    c.cpu_model = "Test CPU <8 cores> & \"more\"";
    c.logical_cpus = 8;
    c.compiler = "g++ 12.2.0";
    c.build_type = "Release";
    c.tbb_version = "2021.8";
    c.array_size = 1000;
    c.chunk_size = 100;
    c.run_count = 3;
    c.generator = "lcg";
    std::vector<strategy_result> references;
    if (with_references) {
        references.push_back(make_strategy("std::sort", {50'000'000, 60'000'000, 55'000'000}));
        references.push_back(make_strategy("odd, \"quoted\"\nname", {0, 0, 0}));
    }
    return make_results(c, make_strategy("sequential sort", {400'000'000, 300'000'000, 350'000'000}),
                        make_strategy("thread sort", {250'000'000, 240'000'000, 260'000'000}),
                        make_strategy("parallel sort", {100'000'000, 120'000'000, 110'000'000}),
                        make_strategy("parallel_for parallel sort", {90'000'000, 95'000'000, 130'000'000}),
                        std::move(references));
}

template <typename Reporter>
std::string render(Reporter reporter, const benchmark_results& results) {
    std::ostringstream out;
    reporter(results, out);
    return out.str();
}

std::vector<std::string> split(const std::string& text, const std::string& separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + separator.size()) {
        parts.push_back(text.substr(start, at - start));
    }
    parts.push_back(text.substr(start));
    return parts;
}

// Checks that every element is closed in order; returns the element names seen, in order.
std::vector<std::string> xml_elements(const std::string& svg) {
    std::vector<std::string> open;
    std::vector<std::string> seen;
    const std::regex tag(R"(<(/?)([A-Za-z][\w:-]*)([^<>]*?)(/?)>)");
    std::string rest = svg.substr(svg.find("<svg"));
    for (std::sregex_iterator it(rest.begin(), rest.end(), tag), end; it != end; ++it) {
        const std::string name = (*it)[2];
        if ((*it)[1] == "/") {
            if (open.empty() || open.back() != name) {
                throw std::runtime_error("unbalanced </" + name + ">");
            }
            open.pop_back();
        } else {
            seen.push_back(name);
            if ((*it)[4] != "/") {
                open.push_back(name);
            }
        }
    }
    if (!open.empty()) {
        throw std::runtime_error("unclosed <" + open.back() + ">");
    }
    return seen;
}

} // namespace

TEST(Results, SpeedupsArePrintedAsTheConsoleDoesAndKeptExact) {
    const benchmark_results r = fixed_results(true);
    ASSERT_EQ(r.speedups.size(), 3u);
    EXPECT_EQ(r.speedups[0].name, "parallel to sequential");
    EXPECT_EQ(r.speedups[0].mean_printed, "3");     // 350 / 110 = 3.18
    EXPECT_DOUBLE_EQ(*r.speedups[0].mean_ratio, 350.0 / 110.0);
    EXPECT_EQ(r.speedups[2].median_printed, "0");   // 95 / 110
    EXPECT_NEAR(*r.speedups[2].median_ratio, 95.0 / 110.0, 1e-12);
    EXPECT_DOUBLE_EQ(*r.strategies[4].times_faster_than_parallel, 110.0 / 55.0);
    EXPECT_FALSE(r.strategies[5].times_faster_than_parallel) << "a zero median has no ratio";
}

TEST(Summary, MinMaxAndSampleDeviation) {
    const strategy_result s = make_strategy("x", {4, 2, 9, 5});
    EXPECT_EQ(s.durations, (duration_list{4, 2, 9, 5})) << "the record keeps the completion order";
    EXPECT_EQ(s.summary.min, 2);
    EXPECT_EQ(s.summary.max, 9);
    EXPECT_EQ(s.summary.mean, 5);
    EXPECT_EQ(s.summary.median, 4);
    EXPECT_NEAR(s.summary.stddev, 2.943920288775949, 1e-9); // sqrt(26 / 3)
    EXPECT_NEAR(s.summary.cv, 2.943920288775949 / 5, 1e-9);
    EXPECT_EQ(make_strategy("one", {7}).summary.stddev, 0.0);
}

TEST(JsonReport, ParsesBackWithEveryField) {
    const auto doc = nlohmann::json::parse(render(write_json, fixed_results(true)));
    EXPECT_EQ(doc["context"]["cpu_model"], "Test CPU <8 cores> & \"more\"");
    EXPECT_EQ(doc["context"].size(), 12u);
    ASSERT_EQ(doc["strategies"].size(), 6u);
    const auto& sequential = doc["strategies"][0];
    EXPECT_EQ(sequential["name"], "sequential sort");
    EXPECT_EQ(sequential["durations_ns"], nlohmann::json::array({400'000'000, 300'000'000, 350'000'000}));
    EXPECT_EQ(sequential["median_ns"], 350'000'000);
    EXPECT_EQ(sequential["min_ns"], 300'000'000);
    EXPECT_EQ(sequential["max_ns"], 400'000'000);
    EXPECT_NEAR(sequential["stddev_ns"].get<double>(), 50'000'000.0, 1e-3);
    EXPECT_FALSE(sequential.contains("times_faster_than_parallel_sort"));
    EXPECT_DOUBLE_EQ(doc["strategies"][4]["times_faster_than_parallel_sort"].get<double>(), 2.0);
    EXPECT_TRUE(doc["strategies"][5]["times_faster_than_parallel_sort"].is_null());
    EXPECT_EQ(doc["speedups"][1]["mean_printed"], "2");
    EXPECT_NEAR(doc["speedups"][1]["mean_ratio"].get<double>(), 250.0 / 110.0, 1e-12);
}

TEST(CsvReport, OneRowPerSortWithRfc4180Quoting) {
    const std::string csv = render(write_csv, fixed_results(true));
    std::vector<std::string> rows = split(csv, "\r\n");
    ASSERT_EQ(rows.back(), "") << "every record ends with CRLF";
    rows.pop_back();
    ASSERT_EQ(rows.size(), 1u + 6 * 3);
    EXPECT_EQ(rows[0], "strategy,run,nanoseconds,values");
    EXPECT_EQ(rows[1], "sequential sort,1,400000000,classic");
    EXPECT_EQ(rows[15], "std::sort,3,55000000,classic");
    EXPECT_EQ(rows[16], "\"odd, \"\"quoted\"\"\nname\",1,0,classic");

    EXPECT_EQ(csv_field("plain"), "plain");
    EXPECT_EQ(csv_field("a,b"), "\"a,b\"");
    EXPECT_EQ(csv_field("say \"hi\""), "\"say \"\"hi\"\"\"");
}

TEST(MarkdownReport, TablesHaveOneRowPerStrategyAndSpeedup) {
    const std::string md = render(write_markdown, fixed_results(true));
    // Tables are separated by empty lines; the first block is the sentence on the context.
    const std::vector<std::string> blocks = split(md, "\n\n");
    ASSERT_EQ(blocks.size(), 4u) << md;
    const std::size_t columns[] = {5, 3, 2};
    const std::size_t rows[] = {6, 3, 2};
    for (std::size_t t = 0; t < 3; ++t) {
        std::vector<std::string> lines = split(blocks[t + 1], "\n");
        if (lines.back().empty()) {
            lines.pop_back();
        }
        ASSERT_EQ(lines.size(), 2 + rows[t]) << blocks[t + 1];
        for (const auto& line : lines) {
            EXPECT_EQ(std::count(line.begin(), line.end(), '|'), static_cast<std::ptrdiff_t>(columns[t] + 1)) << line;
        }
    }
    EXPECT_NE(md.find("| parallel sort | 110.00 | 110.00 | 100.00 | 120.00 |"), std::string::npos) << md;
    EXPECT_NE(md.find("| parallel to sequential | 3.18 | 3.18 |"), std::string::npos) << md;
    EXPECT_NE(md.find("| std::sort | 2.00 |"), std::string::npos) << md;
}

TEST(SvgChart, WellFormedWithOneBarPerStrategy) {
    const std::string svg = render(write_svg_chart, fixed_results(true));
    std::vector<std::string> elements;
    ASSERT_NO_THROW(elements = xml_elements(svg));
    EXPECT_EQ(elements.front(), "svg");
    std::size_t bars = 0;
    for (std::size_t at = 0; (at = svg.find("class=\"bar\"", at)) != std::string::npos; ++at) {
        ++bars;
    }
    EXPECT_EQ(bars, 6u);
    EXPECT_EQ(svg.find("<script"), std::string::npos);
    EXPECT_EQ(svg.find("href"), std::string::npos) << "nothing outside the file";
    EXPECT_NE(svg.find("odd, &quot;quoted&quot;"), std::string::npos) << "names are escaped";
    EXPECT_NE(svg.find(">110.0 ms<"), std::string::npos) << "the median is written at its bar";
}

class OutputFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() /
              ("qsb-out-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::filesystem::path dir;
};

TEST_F(OutputFile, UnwritablePathsAreRefusedAndLeaveNothing) {
    EXPECT_THROW(check_writable((dir / "missing" / "r.json").string()), std::runtime_error);
    EXPECT_THROW(check_writable(dir.string()), std::runtime_error);
    EXPECT_THROW(check_writable(""), std::runtime_error);
    std::ofstream(dir / "plain-file") << "x";
    EXPECT_THROW(check_writable((dir / "plain-file" / "r.json").string()), std::runtime_error);
    EXPECT_NO_THROW(check_writable((dir / "r.json").string()));
    EXPECT_FALSE(std::filesystem::exists(dir / "r.json"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1) << "only plain-file remains";
}

TEST_F(OutputFile, ReplacesWholeFileWithoutLeftovers) {
    const auto path = (dir / "r.csv").string();
    std::ofstream(path) << "old contents that are longer than the new ones";
    write_file_atomically(path, "new\n");
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "new\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);
    EXPECT_THROW(write_file_atomically((dir / "nope" / "r.csv").string(), "x"), std::runtime_error);
}
