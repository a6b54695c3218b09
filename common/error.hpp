// The one shape of every error this program reports: a line on stderr behind its name.
#pragma once

#include <iosfwd>
#include <string>

inline constexpr char error_prefix[] = "quicksort_bench: error: ";

// The status a run ends with when signal `sig` ends it, as a shell reports a process killed by it.
constexpr int status_after_signal(int sig) { return 128 + sig; }

// Writes "quicksort_bench: error: <message>" and a newline to `err`, and flushes it.
void print_error(std::ostream& err, const std::string& message);
