// Whether this machine can give trustworthy numbers now: each fact judged ok or warn, a warn
// naming what to do (the program never changes the system itself); and what changed during a run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "machine/records.hpp"

// `peak_bytes` is what a default run needs at its peak, set against the memory available.
std::vector<check_line> judge_environment(const environment_facts& facts, std::uint64_t peak_bytes);

// Warnings for what changed between two readings that bears on the timings: other programs (or
// the hypervisor) keeping the CPUs busy beside this one, a throttle counter that grew, another
// governor, another boost setting. `ticks_per_second` is the kernel's clock tick.
double default_ticks_per_second();
std::vector<std::string> environment_changes(const environment_facts& before, const environment_facts& after,
                                             double ticks_per_second = default_ticks_per_second());
