// libFuzzer target for the sorting routines: any input becomes an array, a range and a chunk
// size, and every routine must produce the sorted permutation of what it was given.
//
// Layout: byte 0 picks the chunk size, bytes 1-2 the range [low, high], the rest are values as
// little-endian 16-bit integers (sign-extended, so negatives and long runs of equal values occur).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "sorting/sorting.hpp"

namespace {

// Quadratic inputs (ordered runs, many equal values) stay fast, and the chunked sort starts at
// most max_tasks threads per input.
constexpr std::size_t max_values = 2048;
constexpr std::size_t max_tasks = 32;

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// `after` must equal `before` outside [low, high] and its sorted slice inside.
void require_sorted_range(const value_array& before, const value_array& after, std::int32_t low, std::int32_t high) {
    value_array expected = before;
    if (low < high) {
        std::sort(expected.begin() + low, expected.begin() + high + 1);
    }
    require(after == expected);
}

void check_partition(const value_array& input, std::int32_t low, std::int32_t high) {
    if (low >= high) {
        return;
    }
    value_array values = input;
    const std::int32_t pivot = values[low];
    const std::int32_t p = partition(values, low, high);
    require(low <= p && p <= high && values[p] == pivot);
    for (std::int32_t k = low; k < p; ++k) {
        require(values[k] <= pivot);
    }
    for (std::int32_t k = p + 1; k <= high; ++k) {
        require(values[k] > pivot);
    }
    // Only the range moved, and only by permutation.
    std::sort(values.begin() + low, values.begin() + high + 1);
    require_sorted_range(input, values, low, high);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) {
        return 0;
    }
    value_array input;
    for (std::size_t k = 3; k + 1 < size && input.size() < max_values; k += 2) {
        input.push_back(static_cast<std::int16_t>(data[k] | (data[k + 1] << 8)));
    }
    const auto n = static_cast<std::int32_t>(input.size());
    const std::int32_t low = n == 0 ? 0 : data[1] % n;
    const std::int32_t high = n == 0 ? -1 : low + data[2] % (n - low);
    const auto chunk = static_cast<std::int32_t>(
        std::max<std::size_t>(1 + data[0] % 16, (input.size() + max_tasks - 1) / max_tasks));

    check_partition(input, low, high);

    value_array sequential = input;
    quicksort(sequential, low, high);
    require_sorted_range(input, sequential, low, high);

    value_array threaded = input;
    thread_quicksort(threaded, low, high);
    require_sorted_range(input, threaded, low, high);

    value_array chunked = input;
    parallel_quicksort(chunked, 0, n - 1, chunk, n);
    require_sorted_range(input, chunked, 0, n - 1);
    return 0;
}
