// What each phase used of the machine, as one table for every format.
#include "report/resources_report.hpp"

#include <algorithm>
#include <cstdio>
#include <iomanip>
#include <map>
#include <ostream>

#include "common/format.hpp"

namespace {

std::string seconds(duration_ns ns) { return fixed_or_na(static_cast<double>(ns) / 1e9, 2); }

const counter_value* find(const phase_resources& p, const std::string& name) {
    const auto it = std::find_if(p.counters.begin(), p.counters.end(), [&](const counter_value& c) { return c.name == name; });
    return it == p.counters.end() ? nullptr : &*it;
}

std::string count(const phase_resources& p, const std::string& name) {
    const counter_value* c = find(p, name);
    return c != nullptr && c->value ? fixed_or_na(*c->value, 0) : "n/a";
}

} // namespace

std::vector<std::string> resource_headers() {
    return {"phase",        "wall (s)",     "user (s)",   "sys (s)", "parallelism", "vol. switches", "invol. switches",
            "minor faults", "major faults", "migrations", "cycles",  "instructions", "IPC",          "cache misses",
            "branch misses"};
}

std::vector<std::vector<std::string>> resource_rows(const std::vector<phase_resources>& resources) {
    std::vector<std::vector<std::string>> rows;
    for (const auto& p : resources) {
        const counter_value* cycles = find(p, "cycles");
        const counter_value* instructions = find(p, "instructions");
        std::optional<double> ipc;
        if (cycles != nullptr && instructions != nullptr && cycles->value && instructions->value && *cycles->value > 0) {
            ipc = *instructions->value / *cycles->value;
        }
        rows.push_back({p.phase, seconds(p.wall_ns), seconds(p.user_ns), seconds(p.system_ns),
                        fixed_or_na(p.parallelism, 2) + " of " + std::to_string(p.cpus),
                        std::to_string(p.voluntary_switches), std::to_string(p.involuntary_switches),
                        std::to_string(p.minor_faults), std::to_string(p.major_faults), count(p, "cpu-migrations"),
                        count(p, "cycles"), count(p, "instructions"), fixed_or_na(ipc, 2), count(p, "cache-misses"),
                        count(p, "branch-misses")});
    }
    return rows;
}

std::vector<std::string> unavailable_counters(const std::vector<phase_resources>& resources) {
    std::map<std::string, std::string> by_reason; // reason -> counters
    std::vector<std::string> order;
    for (const auto& p : resources) {
        for (const auto& c : p.counters) {
            if (c.value || c.reason.empty()) {
                continue;
            }
            std::string& names = by_reason[c.reason];
            if (names.empty()) {
                order.push_back(c.reason);
            }
            if (names.find(c.name) == std::string::npos) {
                names += (names.empty() ? "" : ", ") + c.name;
            }
        }
    }
    std::vector<std::string> sentences;
    for (const auto& reason : order) {
        sentences.push_back(by_reason[reason] + ": " + reason);
    }
    return sentences;
}

void print_resources(const std::vector<phase_resources>& resources, std::ostream& out) {
    out << "Resources:" << std::endl;
    out << std::endl;
    const std::vector<std::string> headers = resource_headers();
    const auto rows = resource_rows(resources);
    std::vector<std::size_t> widths;
    for (const auto& h : headers) {
        widths.push_back(h.size());
    }
    for (const auto& row : rows) {
        for (std::size_t k = 0; k < row.size(); ++k) {
            widths[k] = std::max(widths[k], row[k].size());
        }
    }
    const auto line = [&](const std::vector<std::string>& cells) {
        for (std::size_t k = 0; k < cells.size(); ++k) {
            out << (k == 0 ? std::left : std::right) << std::setw(static_cast<int>(widths[k])) << cells[k]
                << (k + 1 < cells.size() ? "  " : "");
        }
        out << std::right << std::endl;
    };
    line(headers);
    for (const auto& row : rows) {
        line(row);
    }
    out << counters_scope << std::endl;
    for (const auto& sentence : unavailable_counters(resources)) {
        out << sentence << std::endl;
    }
    out << std::endl;
}
