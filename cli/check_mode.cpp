// `quicksort_bench check`: the machine read, judged, printed and exported.
#include "cli/check_mode.hpp"

#include <iostream>
#include <sstream>

#include "machine/cpus.hpp"
#include "machine/facts.hpp"
#include "machine/readiness.hpp"
#include "bench/memory_model.hpp"
#include "report/check_report.hpp"
#include "report/exports.hpp"
#include "common/output_file.hpp"

int run_check(const std::string& json_path) {
    const environment_facts facts = read_environment_now(true);
    const run_settings classic;
    const std::vector<check_line> lines = judge_environment(facts, predict_peak(classic, usable_cpu_count()).peak_bytes);
    std::ostream& out = json_path == "-" ? std::cerr : std::cout;
    print_check(lines, out);
    if (!json_path.empty()) {
        std::ostringstream text;
        write_check_json(lines, facts, text);
        write_output_file(json_path, text.str());
    }
    for (const auto& line : lines) {
        if (!line.ok) {
            return 1;
        }
    }
    return 0;
}
