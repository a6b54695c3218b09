// The readiness check as the console shows it.
#pragma once

#include <iosfwd>
#include <vector>

#include "machine/records.hpp"

// The verdict lines, "ok  " or "warn", the topic, what was found and, for a warn, what to do.
void print_check(const std::vector<check_line>& lines, std::ostream& out);
