// The HTML pages as a reader sees them: rendered by headless Chromium with the network off.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "process.hpp"
#include "report/exports.hpp"

namespace fs = std::filesystem;

namespace {

constexpr const char* chromium_path = "/usr/bin/chromium";

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Headless Chromium as root, with no name resolution at all, so nothing can leave the machine.
process_result chromium(const fs::path& profile, std::vector<std::string> args) {
    std::vector<std::string> all = {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                                    "--disable-background-networking", "--disable-component-update",
                                    "--disable-sync", "--hide-scrollbars", "--host-resolver-rules=MAP * ~NOTFOUND",
                                    "--user-data-dir=" + profile.string()};
    all.insert(all.end(), args.begin(), args.end());
    return run_process(chromium_path, all);
}

// URLs the page itself asked for: requests whose isolation key is the page's file:// origin
// (Chromium's own background requests carry none).
std::vector<std::string> page_requests(const fs::path& net_log) {
    const auto log = nlohmann::json::parse(slurp(net_log));
    const int start_job = log["constants"]["logEventTypes"]["URL_REQUEST_START_JOB"];
    std::vector<std::string> urls;
    for (const auto& event : log["events"]) {
        const auto& params = event.value("params", nlohmann::json::object());
        if (event["type"] == start_job && params.value("network_isolation_key", "").find("file://") != std::string::npos) {
            urls.push_back(params.value("url", ""));
        }
    }
    return urls;
}

benchmark_results hostile_results() {
    run_context c;
    c.host_name = "<script>alert('host')</script>";
    c.cpu_model = "CPU <8 cores> & \"more\"";
    c.compiler = "g++ & friends";
    c.array_size = 1000;
    c.chunk_size = 100;
    c.run_count = 3;
    return make_results(c, make_strategy("sequential sort", {400, 300, 350}), make_strategy("thread sort", {250, 240, 260}),
                        make_strategy("parallel sort", {100, 120, 110}),
                        make_strategy("parallel_for parallel sort", {90, 95, 300}), {});
}

} // namespace

TEST(HtmlPage, EscapesHostileTextAndFlagsNoisyStrategies) {
    std::ostringstream page;
    write_html(hostile_results(), page);
    const std::string html = page.str();
    EXPECT_EQ(html.find("<script"), std::string::npos);
    EXPECT_NE(html.find("&lt;script&gt;alert(&apos;host&apos;)"), std::string::npos);
    EXPECT_NE(html.find("CPU &lt;8 cores&gt; &amp; &quot;more&quot;"), std::string::npos);
    EXPECT_EQ(html.find("<8 cores>"), std::string::npos);
    // parallel_for: cv far above 5% and a slowest run over 1.5 times its median.
    EXPECT_NE(html.find("parallel_for parallel sort: noisy: its sort times vary by"), std::string::npos);
    EXPECT_NE(html.find("parallel_for parallel sort: noisy: its slowest sort took 3.16 times its median"),
              std::string::npos);
    EXPECT_EQ(html.find("thread sort: noisy"), std::string::npos) << "a 4% cv is not noisy";
    for (const std::string forbidden : {"<link", "<img", "src=", "@import", "url(", "http://www.w3.org/1999"}) {
        EXPECT_EQ(html.find(forbidden), std::string::npos) << forbidden;
    }
}

TEST(HtmlPage, ChromiumShowsEveryPartWithTheJsonsMediansAndFetchesNothing) {
    if (!fs::exists(chromium_path)) {
        GTEST_SKIP() << "chromium is not installed";
    }
    const fs::path dir = fs::temp_directory_path() / ("qsb-html-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const process_result run =
        run_process(bench_binary(), {"--size", "30000", "--runs", "5", "--chunk", "4000", "--reference",
                                     "--breakdown", "--export-html", (dir / "r.html").string(), "--export-json",
                                     (dir / "r.json").string()});
    ASSERT_EQ(run.exit_code, 0) << run.err;

    const std::string url = "file://" + (dir / "r.html").string();
    const process_result dom = chromium(dir / "profile", {"--log-net-log=" + (dir / "net.json").string(), "--dump-dom", url});
    ASSERT_EQ(dom.exit_code, 0) << dom.err;
    EXPECT_TRUE(page_requests(dir / "net.json").empty()) << ::testing::PrintToString(page_requests(dir / "net.json"));

    // Every strategy's median as the page shows it equals the JSON's.
    const auto doc = nlohmann::json::parse(slurp(dir / "r.json"));
    for (const auto& s : doc["strategies"]) {
        const std::string name = s["name"];
        const std::int64_t median = s["median_ns"];
        char ms[32];
        std::snprintf(ms, sizeof ms, "%.2f", static_cast<double>(median) / 1e6);
        const std::string cell = "data-strategy=\"" + name + "\" data-ns=\"" + std::to_string(median) + "\">" + ms + "<";
        EXPECT_NE(dom.out.find(cell), std::string::npos) << cell;
    }
    for (const std::string part : {"class=\"reading\"", "<h2>Context</h2>", "class=\"speedups\"",
                                   "class=\"run\"", "Where the time goes", "class=\"stage\"", "std::sort"}) {
        EXPECT_NE(dom.out.find(part), std::string::npos) << part;
    }

    // The screenshot is not blank: a page of text and charts compresses far worse than an empty one.
    const std::vector<std::string> size = {"--window-size=1000,2400"};
    ASSERT_EQ(chromium(dir / "profile", {size[0], "--screenshot=" + (dir / "page.png").string(), url}).exit_code, 0);
    ASSERT_EQ(chromium(dir / "profile", {size[0], "--screenshot=" + (dir / "blank.png").string(), "about:blank"}).exit_code,
              0);
    EXPECT_GT(fs::file_size(dir / "page.png"), 10 * fs::file_size(dir / "blank.png"));
    fs::remove_all(dir);
}
