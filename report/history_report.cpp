// A history's stored runs as `history list` shows them.
#include "common/text.hpp"
#include "report/history_report.hpp"

#include <iomanip>
#include <ostream>
#include <set>

void print_history_list(const std::vector<stored_run>& runs, const std::string& file, std::ostream& out) {
    out << "Runs in " << printable(file) << ":" << std::endl;
    out << std::left << std::setw(6) << "run" << std::setw(26) << "date and time" << std::setw(24) << "machine"
        << std::setw(10) << "kind" << std::right << std::setw(11) << "size" << std::setw(8) << "sorts" << std::setw(11)
        << "processes" << std::setw(9) << "values" << std::setw(6) << "CPUs" << "  label" << std::endl;
    for (const auto& r : runs) {
        out << std::left << std::setw(6) << r.id << std::setw(26) << printable(r.run_time) << std::setw(24)
            << printable(r.machine_name)
            << std::setw(10) << r.kind << std::right << std::setw(11) << r.array_size << std::setw(8) << r.runs
            << std::setw(11) << r.processes << std::setw(9) << r.values << std::setw(6) << r.cpus << "  " << printable(r.label)
            << std::endl;
    }
    std::set<std::string> machines;
    for (const auto& r : runs) {
        if (machines.insert(r.machine_name).second) {
            out << "machine " << printable(r.machine_name) << ": " << printable(r.cpu_model) << std::endl;
        }
    }
}
