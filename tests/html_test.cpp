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
#include "report/trend_report.hpp"

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
    EXPECT_LACKS(read_text(dir / "net.json"), "\"network_isolation_key\":\"file://");

    // Every strategy's median as the page shows it equals the JSON's.
    const auto doc = nlohmann::json::parse(read_text(dir / "r.json"));
    EXPECT_EQ(doc["strategies"].size(), tsan ? measured_strategy_count : strategy_table.size());
    for (const auto& s : doc["strategies"]) {
        char cell[256];
        std::snprintf(cell, sizeof cell, "data-strategy=\"%s\" data-ns=\"%ld\">%.2f<", s["name"].get<std::string>().c_str(),
                      s["median_ns"].get<long>(), s["median_ns"].get<double>() / 1e6);
        EXPECT_HAS(dom.out, cell) << cell;
    }
    for (const std::string part : {"class=\"reading\"", "<h2>Context</h2>", "class=\"speedups\"", "class=\"run\"",
                                   "Where the time goes", "class=\"stage\""}) {
        EXPECT_HAS(dom.out, part) << part;
    }
    if (!tsan) {
        EXPECT_HAS(dom.out, "class=\"memory-floor\"") << "the floor is drawn on the medians";
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

// The trend page at a phone's 390 px and a desktop's 1280 px: no wider than the screen, its charts
// scaled to the width rather than scrolled, no text of a chart cut off at its edge, a table per
// series, and a long path wrapped.
TEST(HtmlPage, TheTrendPageFitsAPhoneAndADesktopWithATablePerSeries) {
    if (!fs::exists(chromium_path)) {
        GTEST_SKIP() << "chromium is not installed";
    }
    const scratch_dir scratch;
    trend_report trend;
    trend.history = "/home/someone/a/rather/deeply/nested/folder/of/histories/kept/for/the/whole/team/history.sqlite";
    for (const char* strategy : {"parallel sort", "thread sort"}) {
        trend_series s{strategy, "host-with-a-long-name-abcdef", 1000000, 100000, "classic", 0, {}, {}};
        for (int k = 0; k < 12; ++k) {
            const std::int64_t median = (k < 6 ? 100 : 140) * 1'000'000 + k * 100'000;
            s.points.push_back({k + 1, "2026-12-07T10:" + std::to_string(10 + k) + ":00+0000",
                                k % 3 == 0 ? std::string(200, 'x') : "v" + std::to_string(k), median,
                                median - 2'000'000, median + 2'000'000, k % 2 == 0 ? 6u : 1u, {}});
        }
        s.changes = changes_of(s.points, trend.settings);
        trend.series.push_back(std::move(s));
    }
    std::ostringstream page;
    write_trend_html(trend, page);
    write_text(scratch.path / "t.html", page.str());
    write_text(scratch.path / "measure.html",
               "<html><body><iframe id=\"p\" src=\"t.html\" style=\"width:390px;height:3000px;border:0\"></iframe>"
               "<iframe id=\"d\" src=\"t.html\" style=\"width:1280px;height:3000px;border:0\"></iframe><script>"
               "function measure(f){var d=f.contentDocument,e=d.documentElement,scroll=0,clipped=0;"
               "d.querySelectorAll('.chart').forEach(function(b){if(b.scrollWidth>b.clientWidth+1)scroll++;});"
               "d.querySelectorAll('.chart svg').forEach(function(s){var o=s.getBoundingClientRect();"
               "s.querySelectorAll('text').forEach(function(t){var b=t.getBoundingClientRect();"
               "if(b.left<o.left-1||b.right>o.right+1||b.top<o.top-1||b.bottom>o.bottom+1)clipped++;});});"
               "return [e.scrollWidth,e.clientWidth,scroll,clipped,d.querySelectorAll('table.series').length,"
               "d.querySelectorAll('table.series tr').length].join('/');}"
               "window.onload=function(){['p','d'].forEach(function(id){document.body.setAttribute('data-'+id,"
               "measure(document.getElementById(id)));});};</script></body></html>");
    const process_result r = chromium(scratch.path / "profile", {"--allow-file-access-from-files",
                                                                 "--virtual-time-budget=5000", "--dump-dom",
                                                                 "file://" + (scratch.path / "measure.html").string()});
    for (const char* width : {"p", "d"}) {
        std::smatch m;
        ASSERT_TRUE(std::regex_search(r.out, m, std::regex(std::string("data-") + width +
                                                           "=\"(\\d+)/(\\d+)/(\\d+)/(\\d+)/(\\d+)/(\\d+)\"")))
            << r.out;
        EXPECT_EQ(m[1], m[2]) << width << ": the page is wider than the screen";
        EXPECT_EQ(m[3], "0") << width << ": a chart scrolls sideways";
        EXPECT_EQ(m[4], "0") << width << ": text cut off at a chart's edge";
        EXPECT_EQ(m[5], "2") << width << ": a table per series";
        EXPECT_EQ(m[6], "26") << width << ": a heading and a row per run";
    }
}
