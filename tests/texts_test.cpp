// What the text says agrees with what the program does: the documentation against the options and the
// format, tables whose columns never run into each other, and failures that name their cause.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "process.hpp"
#include "records/record_fields.hpp"
#include "records/stored.hpp"
#include "report/history_report.hpp"

namespace {

// A page of the user's documentation: README.md, or a page under docs/.
std::string page(const std::string& name) { return read_text(std::string(QSB_TEST_DATA) + "/../../" + name); }

// The long options a --help text lists.
std::vector<std::string> options_in_help(const std::vector<std::string>& args) {
    const process_result help = run_process(bench_binary(), args);
    std::vector<std::string> found;
    const std::regex option(R"(^\s+(--[a-z][a-z-]+))");
    std::istringstream lines(help.out);
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (std::regex_search(line, m, option) && m[1] != "--help" && m[1] != "--version") {
            found.push_back(m[1]);
        }
    }
    return found;
}

} // namespace

TEST(Texts, TheDocumentationNamesEveryOptionAndTheFormatAsTheProgramHasThem) {
    const std::string reference = page("docs/options.md");
    const auto run_options = options_in_help({"--help"});
    ASSERT_GT(run_options.size(), 20u);
    for (const auto& option : run_options) {
        EXPECT_HAS(reference, "`" + option) << option << " is missing from the option table";
    }
    // And the table lists no option the program does not have.
    std::istringstream rows(reference);
    const std::regex named("`(--[a-z][a-z-]+)");
    for (std::string row; std::getline(rows, row);) {
        if (row.rfind("| `--", 0) != 0) {
            continue;
        }
        for (auto m = std::sregex_iterator(row.begin(), row.end(), named); m != std::sregex_iterator(); ++m) {
            const std::string option = (*m)[1];
            EXPECT_TRUE(std::find(run_options.begin(), run_options.end(), option) != run_options.end() ||
                        option == "--help" || option == "--version")
                << option << " is in the option table but not in --help";
        }
    }
    const std::string ab_section = page("docs/comparing.md");
    for (const auto& option : options_in_help({"ab", "--help"})) {
        EXPECT_HAS(ab_section, option) << "ab " << option << " is not described";
    }
    EXPECT_HAS(page("docs/formats.md"), "| `format_version` | `" + std::to_string(export_format_version) + "`");
    // A blank line ends a Markdown table: a table split by one renders as two. A newcomer reads the
    // README to its end: the reference lives in docs/.
    for (const char* name : {"README.md", "docs/options.md", "docs/formats.md", "docs/comparing.md",
                             "docs/measuring.md", "docs/history.md", "docs/building.md"}) {
        std::istringstream lines(page(name));
        std::vector<std::string> all;
        for (std::string line; std::getline(lines, line);) {
            all.push_back(line);
        }
        for (std::size_t k = 1; k + 1 < all.size(); ++k) {
            EXPECT_FALSE(all[k].empty() && all[k - 1].rfind("| ", 0) == 0 && all[k + 1].rfind("| ", 0) == 0)
                << name << ": a table is split at line " << k + 1;
        }
        if (std::string(name) == "README.md") {
            EXPECT_LE(std::count_if(all.begin(), all.end(), [](const std::string& l) { return !l.empty(); }), 300);
        }
    }
    const process_result help = run_process(bench_binary(), {"--help"});
    EXPECT_HAS(help.out, "IPS4o") << "--reference names the field's sorts";
    EXPECT_HAS(help.out, "QUICKSORT_BENCH_HISTORY");
}

// However long a machine's name, the history's list keeps a blank between it and the next column.
TEST(Texts, AHistoryListKeepsItsColumnsApart) {
    stored_run run;
    run.id = 7;
    run.run_time = "2026-12-07T13:09:50+0100";
    run.machine_name = "build-runner-04.ci.example.org-a1b2c3";
    run.kind = "processes";
    run.values = "classic";
    std::ostringstream list;
    print_history_list({run}, "h.sqlite", list);
    EXPECT_HAS(list.str(), "build-runner-04.ci.example.org-a1b2c3 processes") << list.str();
}

TEST(Texts, AFolderForTemporaryFilesThatCannotBeUsedIsNamed) {
    for (const char* command : {"--processes 2 --size 1000 --runs 1 --no-pause", "ab --rounds 8 --size 1000 --runs 1",
                                "--cpus 1 --size 1000 --runs 1 --no-pause"}) {
        const process_result r = run_process(
            "/bin/bash", {"-c", std::string("TMPDIR=/nonexistent '") + bench_binary() + "' " + command +
                                    " 2>&1 >/dev/null"});
        EXPECT_NE(r.exit_code, 0) << command;
        EXPECT_HAS(r.out, "TMPDIR=/nonexistent") << command << ": " << r.out;
        EXPECT_LACKS(r.out, "cannot start a thread") << r.out;
    }
}
