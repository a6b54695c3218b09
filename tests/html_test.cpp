// The HTML pages as a reader sees them: rendered by headless Chromium with the network off.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <sstream>

#include "process.hpp"
#include "bench/tsan_annotations.hpp"
#include "report/exports.hpp"

namespace fs = std::filesystem;

namespace {

constexpr const char* chromium_path = "/usr/bin/chromium";
#ifdef QSB_TSAN
constexpr bool tsan = true;
#else
constexpr bool tsan = false;
#endif

// Headless Chromium as root, with no name resolution at all, so nothing can leave the machine.
process_result chromium(const fs::path& profile, std::vector<std::string> args) {
    std::vector<std::string> all = {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                                    "--disable-background-networking", "--disable-component-update",
                                    "--disable-sync", "--hide-scrollbars", "--host-resolver-rules=MAP * ~NOTFOUND",
                                    "--user-data-dir=" + profile.string()};
    all.insert(all.end(), args.begin(), args.end());
    return run_process(chromium_path, all);
}

} // namespace

TEST(HtmlPage, EscapesHostileTextAndFlagsNoisyStrategies) {
    std::ostringstream page;
    write_html(sample_results(), page);
    const std::string html = page.str();
    EXPECT_EQ(html.find("<script"), std::string::npos);
    EXPECT_NE(html.find("&lt;script&gt;alert(&apos;host&apos;)"), std::string::npos);
    EXPECT_NE(html.find("Test CPU &lt;8 cores&gt; &amp; &quot;more&quot;"), std::string::npos);
    EXPECT_EQ(html.find("<8 cores>"), std::string::npos);
    // parallel_for: three runs give no interval, and the slowest is over 1.5 times its median.
    EXPECT_NE(html.find("parallel_for parallel sort: too few runs (3) for an interval of its median"),
              std::string::npos);
    EXPECT_NE(html.find("parallel_for parallel sort: noisy: its slowest sort took 1.58 times"), std::string::npos);
    EXPECT_EQ(html.find("thread sort: noisy"), std::string::npos) << "a 4% cv is not noisy";

    // A parallel loop runs at most one sort per CPU at a time, whatever --runs is.
    for (const auto& [cpus, at_once] : {std::pair{2u, "Run 2 at a time"}, std::pair{16u, "Run 3 at a time"}}) {
        benchmark_results r = sample_results();
        r.context.logical_cpus = cpus;
        std::ostringstream reading;
        write_html(r, reading);
        EXPECT_NE(reading.str().find(at_once), std::string::npos) << cpus << " CPUs, 3 runs";
    }
}

TEST(HtmlPage, ChromiumShowsEveryPartWithTheJsonsMediansAndFetchesNothing) {
    if (!fs::exists(chromium_path)) {
        GTEST_SKIP() << "chromium is not installed";
    }
    const scratch_dir scratch;
    const fs::path& dir = scratch.path;
    // ThreadSanitizer cannot follow parallel std::sort on oneTBB (see tsan.supp): no reference sorts there.
    const process_result run = run_process(
        bench_binary(), {"--size", "30000", "--runs", "5", "--chunk", "4000", tsan ? "--no-pause" : "--reference",
                         "--breakdown", "--export-html", scratch.file("r.html"), "--export-json", scratch.file("r.json")});
    ASSERT_EQ(run.exit_code, 0) << run.err;

    const std::string url = "file://" + (dir / "r.html").string();
    const process_result dom = chromium(dir / "profile", {"--log-net-log=" + (dir / "net.json").string(), "--dump-dom", url});
    ASSERT_EQ(dom.exit_code, 0) << dom.err;
    // Requests the page itself made carry its file:// origin as their isolation key; Chromium's own
    // background requests carry none.
    EXPECT_EQ(read_text(dir / "net.json").find("\"network_isolation_key\":\"file://"), std::string::npos);

    // Every strategy's median as the page shows it equals the JSON's.
    const auto doc = nlohmann::json::parse(read_text(dir / "r.json"));
    EXPECT_EQ(doc["strategies"].size(), tsan ? 4u : 6u);
    for (const auto& s : doc["strategies"]) {
        char cell[256];
        std::snprintf(cell, sizeof cell, "data-strategy=\"%s\" data-ns=\"%ld\">%.2f<", s["name"].get<std::string>().c_str(),
                      s["median_ns"].get<long>(), s["median_ns"].get<double>() / 1e6);
        EXPECT_NE(dom.out.find(cell), std::string::npos) << cell;
    }
    for (const std::string part : {"class=\"reading\"", "<h2>Context</h2>", "class=\"speedups\"", "class=\"run\"",
                                   "Where the time goes", "class=\"stage\""}) {
        EXPECT_NE(dom.out.find(part), std::string::npos) << part;
    }

    // The screenshot is not blank: a page of text and charts compresses far worse than an empty one.
    for (const auto& [png, page] : {std::pair{"page.png", url}, std::pair{"blank.png", std::string("about:blank")}}) {
        ASSERT_EQ(chromium(dir / "profile", {"--window-size=1000,2400", "--screenshot=" + scratch.file(png), page}).exit_code,
                  0);
    }
    EXPECT_GT(fs::file_size(dir / "page.png"), 10 * fs::file_size(dir / "blank.png"));

    // On a phone's 390 px the page is no wider than the screen: wide tables and charts scroll
    // inside their own boxes. A frame of that width measures it.
    write_text(dir / "phone.html",
               "<html><body><iframe id=\"f\" src=\"r.html\" style=\"width:390px;height:2000px;border:0\"></iframe>"
               "<script>document.getElementById('f').onload=function(){var d=this.contentDocument.documentElement;"
               "document.body.setAttribute('data-width',d.scrollWidth+'/'+d.clientWidth);};</script></body></html>");
    const process_result phone = chromium(dir / "profile", {"--allow-file-access-from-files", "--virtual-time-budget=5000",
                                                            "--dump-dom", "file://" + (dir / "phone.html").string()});
    std::smatch width;
    ASSERT_TRUE(std::regex_search(phone.out, width, std::regex("data-width=\"(\\d+)/(\\d+)\""))) << phone.out;
    EXPECT_EQ(width[1], width[2]) << "the page is wider than a 390 px screen";
}
