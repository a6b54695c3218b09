// Checks that a timed sort produced the right result, outside its timed interval: a benchmark must
// never report the time of a wrong answer.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "sorting/sorting.hpp"

// Order-independent summary of an array's values, taken before a sort and compared after it.
struct array_fingerprint {
    std::uint64_t count = 0;
    std::uint64_t sum = 0;
    std::uint64_t mix = 0; // sum of a hash of each value: catches changes that keep the plain sum
    friend bool operator==(const array_fingerprint&, const array_fingerprint&) = default;
    // One number that tells arrays apart: the same array in another process gets the same one. 53
    // bits, so that any reader of JSON holds it exactly.
    std::uint64_t identity() const {
        return (mix ^ (sum * 0x9e3779b97f4a7c15ull) ^ (count << 1)) & ((std::uint64_t{1} << 53) - 1);
    }
};

// Where a phase keeps which array each of its sorts sorted, beside its durations and in their order.
using array_ids = std::vector<std::uint64_t>;

// A timed sort whose result is not the ascending permutation of its input.
class sort_check_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

array_fingerprint fingerprint_of(const value_array& values);

// Null when `values` is ascending and holds the values that `before` describes; else what is wrong.
const char* sort_fault(const value_array& values, const array_fingerprint& before);

[[noreturn]] void throw_sort_fault(std::string_view strategy, std::uint64_t run, const char* fault);
