// The "Breakdown:" block that follows the report when --breakdown is given.
#pragma once

#include <iosfwd>

#include "records/breakdown.hpp"

void print_breakdown(const breakdown_results& breakdown, std::ostream& out);
