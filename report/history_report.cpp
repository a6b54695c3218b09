// A history's stored runs and machines as `history list` and `history machines` show them.
#include "report/history_report.hpp"

#include <iomanip>
#include <ostream>
#include <set>

#include "common/format.hpp"
#include "common/text.hpp"

void print_history_list(const std::vector<stored_run>& runs, const std::string& file, std::ostream& out) {
    out << "Runs in " << printable(file) << ":" << std::endl;
    // Columns sized to their content: a long host name or revision never runs into the next.
    constexpr std::size_t columns = 11;
    std::vector<std::vector<std::string>> cells(columns);
    const auto add = [&cells](const std::vector<std::string>& row) {
        for (std::size_t c = 0; c < columns; ++c) {
            cells[c].push_back(row[c]);
        }
    };
    add({"run", "date and time", "machine", "kind", "size", "sorts", "processes", "values", "CPUs", "revision",
         "label"});
    for (const auto& r : runs) {
        add({std::to_string(r.id), printable(r.run_time), printable(r.machine_name), r.kind,
             std::to_string(r.array_size), std::to_string(r.runs), std::to_string(r.processes), r.values,
             std::to_string(r.cpus), printable(r.source_revision), printable(r.label)});
    }
    const std::size_t least[columns] = {6, 26, 24, 10, 11, 8, 11, 9, 6, 22, 0};
    const bool left[columns] = {true, true, true, true, false, false, false, false, false, true, true};
    std::size_t widths[columns];
    for (std::size_t c = 0; c < columns; ++c) {
        widths[c] = column_width(least[c], cells[c]);
    }
    for (std::size_t row = 0; row < cells[0].size(); ++row) {
        for (std::size_t c = 0; c + 1 < columns; ++c) {
            out << (c == 9 ? "  " : "") << padded(cells[c][row], widths[c], left[c]);
        }
        out << cells[columns - 1][row] << std::endl;
    }
    std::set<std::string> machines;
    for (const auto& r : runs) {
        if (machines.insert(r.machine_name).second) {
            out << "machine " << printable(r.machine_name) << ": " << printable(r.cpu_model) << std::endl;
        }
    }
}

void print_machines(const std::vector<stored_machine>& machines, std::ostream& out) {
    for (const auto& m : machines) {
        out << printable(m.name) << ": host " << printable(m.host_name) << ", " << printable(m.cpu_model) << ", "
            << cpus_text(m.logical_cpus) << ", " << format_bytes(m.memory_bytes) << "; kernel "
            << printable(m.kernel.empty() ? "unknown" : m.kernel) << ", "
            << printable(m.compiler.empty() ? "unknown compiler" : m.compiler) << "; "
            << count_text(m.runs, "run", "runs") << ", from " << printable(m.first_run) << " to "
            << printable(m.last_run) << std::endl;
    }
}
