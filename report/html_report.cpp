// The HTML page of a run and the parts every page shares: one file, its charts inline, nothing fetched.
#include <algorithm>
#include <cstdio>
#include <map>
#include <tuple>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "report/console_report.hpp"
#include "report/html_parts.hpp"

#include "common/format.hpp"
#include "report/breakdown_report.hpp"
#include "report/charts.hpp"
#include "report/advice_report.hpp"
#include "report/exports.hpp"
#include "report/resources_report.hpp"
#include "records/strategy.hpp"
#include "report/sweep_report.hpp"

namespace html {

// Everything the page needs is in it: system fonts, no script, no link, no image file.
constexpr const char* style = R"css(
body{font-family:system-ui,-apple-system,"Segoe UI",Roboto,sans-serif;max-width:1000px;margin:0 auto;padding:1rem;color:#222;line-height:1.45}
h1{font-size:1.6rem;margin:.5rem 0}h2{font-size:1.25rem;margin-top:2rem;border-bottom:2px solid #4a7fb5}
.wrap{overflow-x:auto}table{border-collapse:collapse;width:100%;margin:.5rem 0 1.25rem;font-size:.92rem}
th,td{padding:.3rem .5rem;border-bottom:1px solid #ddd;text-align:right;vertical-align:top}
th:first-child,td:first-child{text-align:left}th{background:#f5f5f5}
td.text{text-align:left}tr.differs td{background:#fff8e1}
th.text{text-align:left}
svg{max-width:100%;height:auto;display:block}figure{margin:1rem 0}figcaption{color:#555;font-size:.9rem}
.chart{overflow-x:auto}.chart svg{min-width:880px}.chart.fit svg{min-width:0;width:100%}
.path{overflow-wrap:anywhere}table.series td{white-space:normal}
.reading{background:#f3f7fb;border-left:4px solid #4a7fb5;padding:.5rem 1rem}
.warnings{background:#fff4e5;border-left:4px solid #e07b39;padding:.5rem 1rem}
.faster{color:#2e7d32;font-weight:bold}.slower{color:#c62828;font-weight:bold}
.equivalent{color:#1565c0}.inconclusive{color:#8d6e00}.too-few{color:#757575}
footer{color:#777;font-size:.8rem;margin-top:2rem}
@media (max-width:600px){body{padding:.5rem}table{font-size:.8rem}th,td{padding:.2rem .3rem}}
@media print{body{max-width:none;padding:0}h2{break-after:avoid}figure,table,.reading,.warnings{break-inside:avoid}}
)css";

// 0.05 and 2 rather than 0.050 and 2.0.
std::string general(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

void page_open(std::ostream& out, const std::string& title) {
    out << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        << "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
        << "<title>" << esc(title) << "</title>\n<style>" << style << "</style>\n</head>\n<body>\n"
        << "<h1>" << esc(title) << "</h1>\n";
}

void page_close(std::ostream& out) {
    out << "<footer>Written by quicksort_bench. Times are wall-clock, steady clock, one sort per interval; "
        << "ms = milliseconds.</footer>\n</body>\n</html>\n";
}

void reading(std::ostream& out, const std::vector<std::string>& sentences) {
    out << "<section class=\"reading\">\n";
    for (const auto& sentence : sentences) {
        out << "<p>" << esc(sentence) << "</p>\n";
    }
    out << "</section>\n";
}

void figure(std::ostream& out, const svg_figure& fig, const std::string& caption, bool fit) {
    // Charts keep a width at which their smallest text stays readable, and scroll on a phone; a
    // chart whose values a table beside it gives is scaled to the width instead.
    out << "<figure>\n<div class=\"chart" << (fit ? " fit" : "") << "\">" << fig.svg << "</div><figcaption>"
        << esc(caption) << "</figcaption>\n</figure>\n";
}

// "1.73× faster than", or "2.10× slower than" when the ratio is below 1.
std::string relation(double ratio) {
    return ratio >= 1 ? fixed(ratio, 2) + "\u00d7 faster than" : fixed(1 / ratio, 2) + "\u00d7 slower than";
}

void context_table(std::ostream& out, const run_context& c) {
    const std::pair<const char*, std::string> rows[] = {
        {"machine", c.host_name + " (" + c.cpu_model + ")"},
        {"logical CPUs", std::to_string(c.logical_cpus) +
                             (c.cpus.empty() ? "" : "; the first step ran on CPUs " + format_cpu_list(c.cpus))},
        {"compiler", c.compiler},
        {"build", c.build_type},
        {"oneTBB", c.tbb_version},
        {"sizes", std::to_string(c.array_size) + " values per array, chunks of " + std::to_string(c.chunk_size) +
                      ", " + std::to_string(c.run_count) + " runs per strategy"},
        {"values", c.values + ": " + c.generator},
        {"date", c.date_time},
    };
    out << "<div class=\"wrap\"><table class=\"context\">\n";
    for (const auto& [name, value] : rows) {
        out << "<tr><th>" << name << "</th><td class=\"text\">" << esc(value) << "</td></tr>\n";
    }
    out << "</table></div>\n";
}

std::string interval_cell(const duration_summary& d) {
    if (!d.interval) {
        return "too few runs for an interval";
    }
    return format_ms(d.interval->low) + " \u2013 " + format_ms(d.interval->high) + " (" + precision_text(d) + ", " +
           fixed(100 * d.interval->coverage, 1) + "%)";
}

void results_table(std::ostream& out, const benchmark_results& results) {
    out << "<div class=\"wrap\"><table class=\"strategies\">\n<tr><th>strategy</th><th>runs</th><th>mean (ms)</th>"
        << "<th>median (ms)</th><th>interval of the median (ms)</th><th>min (ms)</th><th>max (ms)</th>"
        << "<th>stddev (ms)</th><th>cv</th></tr>\n";
    for (const auto& s : results.strategies) {
        const duration_summary d = headline(s);
        out << "<tr><td>" << esc(s.name) << (s.reference ? " (reference)" : "") << "</td><td>" << esc(sorts_text(s))
            << "</td><td>" << format_ms(d.mean) << "</td><td class=\"median\" data-strategy=\"" << esc(s.name)
            << "\" data-ns=\"" << d.median << "\">" << format_ms(d.median) << "</td><td class=\"interval\">"
            << esc(interval_cell(d)) << "</td><td>" << format_ms(d.min) << "</td><td>" << format_ms(d.max) << "</td><td>"
            << (d.stddev ? fixed(*d.stddev / 1e6, 2) : "n/a") << "</td><td>"
            << (d.cv ? fixed(100 * *d.cv, 1) + "%" : "n/a") << "</td></tr>\n";
    }
    out << "</table></div>\n";
    if (results.context.precision) {
        out << "<p>Measured until each median was known to \u00b1"
            << fixed(100 * results.context.precision->target, 1) << "%: ";
        const char* separator = "";
        for (const auto& s : results.strategies) {
            out << separator << esc(s.name) << " " << (s.target_reached.value_or(false) ? "reached it" : "did not")
                << " in " << s.durations.size() << " sorts";
            separator = "; ";
        }
        out << ".</p>\n";
    }
}

void speedups_section(std::ostream& out, const benchmark_results& results) {
    out << "<div class=\"wrap\"><table class=\"speedups\">\n<tr><th>speedup of the parallel sort</th>"
        << "<th>mean (console)</th><th>mean (exact)</th><th>median (console)</th><th>median (exact)</th></tr>\n";
    for (const auto& s : results.speedups) {
        out << "<tr><td>" << esc(s.name) << "</td><td>" << esc(s.mean_printed) << "</td><td>"
            << format_ratio(s.mean_ratio) << "</td><td>" << esc(s.median_printed) << "</td><td>"
            << format_ratio(s.median_ratio) << "</td></tr>\n";
    }
    out << "</table></div>\n";
}

void warnings(std::ostream& out, const std::vector<std::pair<std::string, std::string>>& found) {
    if (found.empty()) {
        return;
    }
    out << "<section class=\"warnings\">\n<p><strong>Warnings</strong></p>\n<ul>\n";
    for (const auto& [where, warning] : found) {
        out << "<li>" << esc(where) << ": " << esc(warning) << "</li>\n";
    }
    out << "</ul>\n</section>\n";
}

std::vector<std::pair<std::string, std::string>> warnings_of(const benchmark_results& results,
                                                             const std::string& prefix) {
    std::vector<std::pair<std::string, std::string>> found;
    for (const auto& w : results.environment_warnings) {
        found.emplace_back(prefix + "the machine", w);
    }
    for (const auto& s : results.strategies) {
        for (const auto& w : s.warnings) {
            found.emplace_back(prefix + s.name, w);
        }
    }
    return found;
}

std::vector<std::string> reading_of(const benchmark_results& results) {
    std::vector<std::string> sentences;
    const auto& sp = results.speedups;
    if (sp.size() == 3 && sp[0].median_ratio && sp[1].median_ratio && *sp[0].median_ratio > 0 &&
        *sp[1].median_ratio > 0) {
        sentences.push_back("By median, the chunked parallel sort is " + relation(*sp[0].median_ratio) +
                            " the sequential sort and " + relation(*sp[1].median_ratio) + " the thread sort.");
    }
    if (sp.size() == 3 && sp[2].median_ratio) {
        // A parallel loop runs at most one sort per CPU at a time, however many sorts it has.
        unsigned cpus = results.context.cpus.empty() ? results.context.logical_cpus
                                                     : static_cast<unsigned>(results.context.cpus.size());
        for (const auto& phase : results.resources) {
            if (phase.phase == name_of(strategy::parallel_for) && phase.cpus > 0) {
                cpus = phase.cpus;
            }
        }
        const std::uint64_t at_once = std::min<std::uint64_t>(results.context.run_count, std::max(1u, cpus));
        sentences.push_back("Run " + std::to_string(at_once) + " at a time in a parallel loop (at most one per CPU), " +
                            "a chunked sort takes " + fixed(*sp[2].median_ratio, 2) + "\u00d7 as long as on its own.");
    }
    if (results.breakdown) {
        const chunked_figures& p = results.breakdown->parallel;
        sentences.push_back(share_text(static_cast<double>(p.merge_ns), static_cast<double>(p.sort_ns)) +
                            " of the chunked sort's time is the one-thread merge, " +
                            share_text(static_cast<double>(p.wait_ns), static_cast<double>(p.sort_ns)) +
                            " waiting for the chunk sorts.");
    }
    for (const auto& s : results.strategies) {
        if (s.reference && s.times_faster_than_parallel && *s.times_faster_than_parallel > 0) {
            sentences.push_back(s.name + " is " + relation(*s.times_faster_than_parallel) + " the parallel sort.");
        }
    }
    if (results.floor.measured()) {
        const memory_floor& f = results.floor;
        const auto rate = f.bytes_per_second();
        sentences.push_back("One pass that reads and writes the array takes " + fixed(f.ns() / 1e6, 3) +
                            " ms on every CPU" + (rate ? " (" + fixed(*rate / 1e9, 1) + " GB/s)" : "") + " and " +
                            fixed(f.one_cpu_ns() / 1e6, 3) + " ms on one: no sort can be faster (the dashed line).");
        if (const strategy_result* fastest = fastest_sort(results)) {
            const auto ratio = exact_ratio(strategy_of(results, strategy::parallel).summary.median,
                                           fastest->summary.median);
            sentences.push_back("The fastest sort on this machine is " + fastest->name +
                                (ratio && *ratio > 0 ? ", " + relation(*ratio) + " the chunked parallel sort" : "") +
                                "; it is " + fixed(static_cast<double>(fastest->summary.median) /
                                                       static_cast<double>(uses_every_cpu(fastest->name)
                                                                               ? f.ns() : f.one_cpu_ns()), 1) +
                                " times its memory floor.");
        }
    }
    const std::size_t noisy = warnings_of(results).size();
    if (noisy > 0) {
        sentences.push_back(std::to_string(noisy) + (noisy == 1 ? " warning" : " warnings") +
                            " below: some figures are noisy.");
    }
    return sentences;
}

void breakdown_section(std::ostream& out, const breakdown_results& b) {
    out << "<h2>Where the time goes</h2>\n<ul>\n";
    for (const auto& sentence : breakdown_sentences(b)) {
        out << "<li>" << esc(sentence) << "</li>\n";
    }
    out << "</ul>\n";
    figure(out, stage_chart(b), "Each strategy's instrumented sort, cut into its stages.");
    out << "<div class=\"wrap\"><table class=\"stages\">\n<tr><th>strategy</th><th class=\"text\">stage</th><th>ms</th>"
        << "<th>share</th></tr>\n";
    for (const auto& strategy : stages_of(b)) {
        duration_ns whole = 0;
        for (const auto& stage : strategy.stages) {
            whole += stage.ns;
        }
        for (const auto& stage : strategy.stages) {
            out << "<tr><td>" << esc(strategy.name) << "</td><td class=\"text\">" << esc(stage.stage) << "</td><td>"
                << format_ms(stage.ns) << "</td><td>"
                << share_text(static_cast<double>(stage.ns), static_cast<double>(whole)) << "</td></tr>\n";
        }
    }
    out << "</table></div>\n";
    const quicksort_figures& q = b.sequential;
    out << "<p>The sequential sort made " << q.partitions << " partitions and counted " << q.counted
        << " elements (" << fixed(q.counted_per_element, 2) << " per element), swapped " << q.swaps
        << " times and recursed " << q.deepest << " levels deep.</p>\n";
}

std::string load_text(const environment_facts& f) {
    return f.load_avg.size() == 3 ? fixed(f.load_avg[0], 2) + ", " + fixed(f.load_avg[1], 2) + ", " + fixed(f.load_avg[2], 2)
                                  : "not exposed";
}

// The machine as the run found it and left it.
void environment_table(std::ostream& out, const benchmark_results& results) {
    if (!results.environment_before) {
        return;
    }
    const environment_facts& b = *results.environment_before;
    const environment_facts a = results.environment_after.value_or(b);
    const auto mib = [](const std::optional<std::uint64_t>& bytes) {
        return bytes ? fixed(static_cast<double>(*bytes) / 1048576.0, 0) + " MiB" : std::string("not exposed");
    };
    std::string counters;
    for (const auto& c : b.counters) {
        if (c.available) {
            counters += (counters.empty() ? "" : ", ") + c.name;
        }
    }
    const std::tuple<const char*, std::string, std::string> rows[] = {
        {"cpufreq governor", b.governor.value_or("not exposed"), a.governor.value_or("not exposed")},
        {"load average", load_text(b), load_text(a)},
        {"available memory", mib(b.mem_available_bytes), mib(a.mem_available_bytes)},
        {"thermal throttle events", b.throttle_count ? std::to_string(*b.throttle_count) : "not exposed",
         a.throttle_count ? std::to_string(*a.throttle_count) : "not exposed"},
        {"transparent huge pages", b.transparent_hugepages.value_or("not exposed"),
         a.transparent_hugepages.value_or("not exposed")},
        {"counters that open", counters.empty() ? "none" : counters, ""},
        {"virtual machine", b.virtual_machine ? "yes" : "no", ""},
    };
    out << "<div class=\"wrap\"><table class=\"environment\">\n<tr><th>machine</th><th class=\"text\">before the "
        << "first phase</th><th class=\"text\">after the last</th></tr>\n";
    for (const auto& [name, before, after] : rows) {
        out << "<tr" << (!after.empty() && before != after ? " class=\"differs\"" : "") << "><th>" << name
            << "</th><td class=\"text\">" << esc(before) << "</td><td class=\"text\">" << esc(after) << "</td></tr>\n";
    }
    out << "</table></div>\n";
}

void resources_section(std::ostream& out, const benchmark_results& results) {
    if (results.resources.empty()) {
        return;
    }
    out << "<h2>What each phase used of the machine</h2>\n";
    figure(out, parallelism_chart(results.resources),
           "How many CPUs each phase kept busy on average, against the CPUs it had.");
    out << "<div class=\"wrap\"><table class=\"resources\">\n<tr>";
    for (const auto& h : resource_headers()) {
        out << "<th>" << esc(h) << "</th>";
    }
    out << "</tr>\n";
    for (const auto& row : resource_rows(results.resources)) {
        out << "<tr>";
        for (const auto& c : row) {
            out << "<td>" << esc(c) << "</td>";
        }
        out << "</tr>\n";
    }
    out << "</table></div>\n";
    out << "<p>" << esc(counters_scope) << "</p>\n";
    for (const auto& sentence : unavailable_counters(results.resources)) {
        out << "<p>" << esc(sentence) << "</p>\n";
    }
    if (results.predicted_peak_bytes > 0) {
        out << "<p>Peak memory: " << fixed(static_cast<double>(results.peak_rss_bytes) / 1048576.0, 1)
            << " MiB resident, " << fixed(static_cast<double>(results.predicted_peak_bytes) / 1048576.0, 1)
            << " MiB predicted before the run.</p>\n";
    }
}

} // namespace html

using namespace html;

void write_html(const benchmark_results& results, std::ostream& out) {
    page_open(out, "quicksort_bench results");
    reading(out, reading_of(results));
    warnings(out, warnings_of(results));
    out << "<h2>Context</h2>\n";
    context_table(out, results.context);
    environment_table(out, results);
    out << "<h2>Strategies</h2>\n";
    results_table(out, results);
    speedups_section(out, results);
    figure(out, median_chart(results),
           results.context.processes > 1
               ? "Bars: the median of each strategy's process medians; black bracket: its 95% interval over the "
                 "processes; large dark dots: each process's median; small dots: every measured sort; whiskers: "
                 "fastest to slowest."
               : "Bars: the median of each strategy; black bracket: its 95% interval; dots: every measured sort; "
                 "whiskers: fastest to slowest.");
    if (const auto advice = design_advice(results); !advice.empty()) {
        out << "<h2>Within and between processes</h2>\n<ul class=\"design\">\n";
        for (const auto& line : advice) {
            out << "<li>" << esc(line) << "</li>\n";
        }
        out << "</ul>\n";
    }
    if (results.breakdown) {
        breakdown_section(out, *results.breakdown);
    }
    resources_section(out, results);
    page_close(out);
}
