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

struct trend_point {
    std::int64_t run_id = 0;
    std::string time;  // the run's date and time
    std::string label;
    std::int64_t median_ns = 0;
    std::optional<std::int64_t> low_ns; // the median's 95% interval, when it has one
    std::optional<std::int64_t> high_ns;
    std::uint64_t processes = 1; // the median is over this many processes' medians when it is more than one
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
