// The one place that times a sort: only the sort lies between the two readings of the clock; the
// fingerprint before it and the check after it stay outside.
#pragma once

#include <cstdint>
#include <string_view>

#include "bench/verify.hpp"
#include "common/clock.hpp"
#include "machine/counters.hpp"
#include "sorting/sorting.hpp"

// Sorts `values` with `sort`, returns how long the sort took, and throws sort_check_error naming
// `strategy` and the run that `run_number()` gives when the result is not the ascending
// permutation of the input. With `cpu_ns`, also the process's CPU time around the sort, read
// outside the timed pair; with `array_id`, which array it sorted.
template <typename Sort, typename RunNumber>
duration_ns time_checked_sort(value_array& values, Sort&& sort, std::string_view strategy, RunNumber run_number,
                              duration_ns* cpu_ns = nullptr, std::uint64_t* array_id = nullptr) {
    const array_fingerprint before = fingerprint_of(values);
    if (array_id != nullptr) {
        *array_id = before.identity();
    }
    const duration_ns c0 = cpu_ns != nullptr ? process_cpu_ns() : 0;
    const duration_ns t0 = now_ns();
    sort(values);
    const duration_ns t1 = now_ns();
    if (cpu_ns != nullptr) {
        *cpu_ns = process_cpu_ns() - c0;
    }
    if (const char* fault = sort_fault(values, before)) {
        throw_sort_fault(strategy, run_number(), fault);
    }
    return t1 - t0;
}
