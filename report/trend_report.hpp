// A history's trends: per strategy (and machine, size, chunk, value kind and CPU count, which a
// series never mixes) the medians of the stored runs in time order with their intervals, and the
// change points found in them. Every reporter is fed the same records.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "analysis/change_points.hpp"
#include "report/charts.hpp"

// What a run was built and run with: an upgrade between two runs of a series is a cause beside a change.
struct run_facts {
    std::string compiler;
    std::string kernel;
    std::string tbb_version;
    std::string revision; // the source revision
    friend bool operator==(const run_facts&, const run_facts&) = default;
};

// "compiler g++ 12 -> g++ 13; revision v1 -> v2": what differs from `before` to `after`; empty when nothing does.
std::string facts_change(const run_facts& before, const run_facts& after);

struct trend_point {
    std::int64_t run_id = 0;
    std::string time;  // the run's date and time
    std::string label;
    std::int64_t median_ns = 0;
    std::optional<std::int64_t> low_ns; // the median's 95% interval, when it has one
    std::optional<std::int64_t> high_ns;
    std::uint64_t processes = 1; // the median is over this many processes' medians when it is more than one
    run_facts facts;
};

struct trend_change {
    change_point found;      // index: the first point after the change
    bool weak = false;       // the intervals of the points either side overlap
    std::int64_t run_id = 0; // the first run after the change
};

struct trend_series {
    std::string strategy;
    std::string machine; // its short name, or "all machines"
    std::uint64_t array_size = 0;
    std::int64_t chunk_size = 0;
    std::string values;
    unsigned cpus = 0; // a sweep step's CPUs; 0 for runs that are not sweeps
    std::vector<trend_point> points;
    std::vector<trend_change> changes;
};

// The change points of a series' medians, each marked weak when the intervals of the runs just
// before and just after it overlap.
std::vector<trend_change> changes_of(const std::vector<trend_point>& points, const change_point_settings& settings);

struct trend_report {
    std::string history; // the database's file
    change_point_settings settings;
    std::vector<trend_series> series;
};

// "change at run 11 (2026-12-07T10:10:00+0000): 100.00 ms -> 200.00 ms, +100.0%, p = 3e-05, between
// revisions v1 and v2; compiler g++ 12 -> g++ 13": a change point as every reporter says it.
std::string change_text(const trend_series& s, const trend_change& c);

// A p-value in two significant digits: "0.001", "3e-05".
std::string p_text(double p);

// "sequential sort: machine-1a2b3c, 1000000 classic values, chunks of 100000" (and "on 4 CPUs").
std::string series_title(const trend_series& s);

void print_trend(const trend_report& trend, std::ostream& out);
void write_trend_json(const trend_report& trend, std::ostream& out);
void write_trend_markdown(const trend_report& trend, std::ostream& out);
// A chart per series: the medians joined, the intervals as a band, the change points marked with
// their change, the runs' labels (or dates) on the time axis.
svg_figure trend_chart(const trend_series& series);
void write_trend_svg(const trend_report& trend, std::ostream& out);
void write_trend_html(const trend_report& trend, std::ostream& out);
