// A sorted result checked against its input, outside the timed interval.
#include "bench/verify.hpp"

#include <algorithm>

namespace {

// splitmix64's finaliser: spreads every bit of the value over the whole word.
std::uint64_t mix_value(std::int32_t value) {
    auto z = static_cast<std::uint64_t>(static_cast<std::uint32_t>(value)) + 0x9E3779B97F4A7C15ULL;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

} // namespace

array_fingerprint fingerprint_of(const value_array& values) {
    array_fingerprint fp;
    fp.count = values.size();
    for (const std::int32_t v : values) {
        fp.sum += static_cast<std::uint64_t>(static_cast<std::int64_t>(v));
        fp.mix += mix_value(v);
    }
    return fp;
}

const char* sort_fault(const value_array& values, const array_fingerprint& before) {
    if (!std::is_sorted(values.begin(), values.end())) {
        return "the result is not in ascending order";
    }
    if (fingerprint_of(values) != before) {
        return "the result does not hold the values of its input";
    }
    return nullptr;
}

void throw_sort_fault(std::string_view strategy, std::uint64_t run, const char* fault) {
    throw sort_check_error(std::string(strategy) + ", run " + std::to_string(run) + ": " + fault);
}
