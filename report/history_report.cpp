// A history's stored runs and machines as `history list` and `history machines` show them.
#include "report/history_report.hpp"

#include <iomanip>
#include <ostream>
#include <set>

#include "common/format.hpp"
#include "common/text.hpp"

void print_history_list(const std::vector<stored_run>& runs, const std::string& file, std::ostream& out) {
    out << "Runs in " << printable(file) << ":" << std::endl;
    out << std::left << std::setw(6) << "run" << std::setw(26) << "date and time" << std::setw(24) << "machine"
        << std::setw(10) << "kind" << std::right << std::setw(11) << "size" << std::setw(8) << "sorts" << std::setw(11)
        << "processes" << std::setw(9) << "values" << std::setw(6) << "CPUs" << "  " << std::left << std::setw(22)
        << "revision" << "label" << std::endl;
    for (const auto& r : runs) {
        out << std::left << std::setw(6) << r.id << std::setw(26) << printable(r.run_time) << std::setw(24)
            << printable(r.machine_name) << std::setw(10) << r.kind << std::right << std::setw(11) << r.array_size
            << std::setw(8) << r.runs << std::setw(11) << r.processes << std::setw(9) << r.values << std::setw(6)
            << r.cpus << "  " << std::left << std::setw(22) << printable(r.source_revision) << printable(r.label)
            << std::endl;
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
