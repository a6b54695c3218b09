// What each phase used of the machine, as a table: for the console (--resources), the Markdown
// and the page alike, from the same cells.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "records/results.hpp"

// The table's header and one row of cells per phase: wall, user and system time, parallelism
// against the CPUs, context switches, page faults, migrations and the hardware counters, with
// "n/a" for what is not available.
std::vector<std::string> resource_headers();
std::vector<std::vector<std::string>> resource_rows(const std::vector<phase_resources>& resources);

// Why the counters shown as "n/a" are not available, one sentence per distinct reason.
std::vector<std::string> unavailable_counters(const std::vector<phase_resources>& resources);

// What the counters cover, as every table says under itself.
inline constexpr const char* counters_scope =
    "Migrations and the hardware counters follow the threads that live through a phase (the calling thread, the "
    "pool's workers, oneTBB's workers); the threads a sort starts itself are in the time, switch and fault columns "
    "only, as counting them would slow their start inside the timed interval.";

// "Resources:", an aligned table, then the reasons.
void print_resources(const std::vector<phase_resources>& resources, std::ostream& out);
