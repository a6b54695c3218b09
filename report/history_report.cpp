// A history's stored runs as `history list` shows them.
#include "common/text.hpp"
#include "report/history_report.hpp"

#include <iomanip>
#include <ostream>

void print_history_list(const std::vector<stored_run>& runs, std::ostream& out) {
    out << std::left << std::setw(6) << "run" << std::setw(26) << "date and time" << std::setw(24) << "machine"
        << std::setw(7) << "kind" << std::right << std::setw(11) << "size" << std::setw(8) << "sorts" << std::setw(11)
        << "processes" << std::setw(9) << "values" << std::setw(6) << "CPUs" << "  label" << std::endl;
    for (const auto& r : runs) {
        out << std::left << std::setw(6) << r.id << std::setw(26) << printable(r.run_time) << std::setw(24)
            << printable(r.machine_name)
            << std::setw(7) << r.kind << std::right << std::setw(11) << r.array_size << std::setw(8) << r.runs
            << std::setw(11) << r.processes << std::setw(9) << r.values << std::setw(6) << r.cpus << "  " << printable(r.label)
            << std::endl;
    }
}

