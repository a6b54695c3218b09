// The readiness check as the console shows it.
#include "report/check_report.hpp"

#include <iomanip>
#include <ostream>

void print_check(const std::vector<check_line>& lines, std::ostream& out) {
    out << "Can this machine give trustworthy numbers now?" << std::endl;
    for (const auto& line : lines) {
        out << (line.ok ? "ok    " : "warn  ") << std::left << std::setw(15) << line.topic << line.text;
        if (!line.ok && !line.advice.empty()) {
            out << "; to fix: " << line.advice;
        }
        out << std::endl;
    }
}
