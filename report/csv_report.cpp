#include <ostream>

#include "report/exports.hpp"

std::string csv_field(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (const char ch : text) {
        quoted += ch;
        if (ch == '"') {
            quoted += '"';
        }
    }
    return quoted + "\"";
}

void write_csv(const benchmark_results& results, std::ostream& out) {
    // RFC 4180 ends every record with CRLF.
    out << "strategy,run,nanoseconds\r\n";
    for (const auto& s : results.strategies) {
        for (std::size_t k = 0; k < s.durations.size(); ++k) {
            out << csv_field(s.name) << ',' << k + 1 << ',' << s.durations[k] << "\r\n";
        }
    }
}
