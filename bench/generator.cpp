// The arrays a run sorts: the classic C runtime's rand() per thread, or wide values, each array numbered.
#include "bench/generator.hpp"

#include <random>

namespace {

thread_local std::uint32_t generator_state = 1;
thread_local std::mt19937 wide_generator{1};

inline std::int32_t next_draw(std::uint32_t& state) {
    state = state * 214013u + 2531011u;
    return static_cast<std::int32_t>((state >> 16) & 0x7FFFu);
}

} // namespace

void seed_generator(std::uint32_t seed) {
    generator_state = seed;
    wide_generator.seed(seed);
}

void generate_values(value_array& values, std::uint64_t array_size, value_kind kind) {
    const std::uint64_t modulus = 3 * array_size;
    values.reserve(values.size() + array_size);
    if (kind == value_kind::wide) {
        std::mt19937& generator = wide_generator;
        for (std::uint64_t k = 0; k < array_size; ++k) {
            values.push_back(static_cast<std::int32_t>(static_cast<std::uint64_t>(generator()) % modulus));
        }
        return;
    }
    // Work on a local copy of the thread's state: one thread-local access per array, not per value.
    std::uint32_t state = generator_state;
    for (std::uint64_t k = 0; k < array_size; ++k) {
        const auto draw = static_cast<std::uint64_t>(next_draw(state));
        // A 15-bit draw is below the modulus for every array of 10,923 values or more; skipping
        // the 64-bit division then keeps generation far cheaper than a sort, with the same values.
        values.push_back(static_cast<std::int32_t>(draw < modulus ? draw : draw % modulus));
    }
    generator_state = state;
}

std::string value_kind_name(value_kind kind) { return kind == value_kind::wide ? "wide" : "classic"; }

std::string describe_generator(value_kind kind) {
    if (kind == value_kind::wide) {
        return "std::mt19937 (32-bit Mersenne Twister), per-thread state seeded 1; value = draw % (3 * array_size)";
    }
    return "Microsoft C runtime rand(): per-thread state = state * 214013 + 2531011 (mod 2^32), seed 1, "
           "draw = (state >> 16) & 0x7FFF; value = draw % (3 * array_size)";
}
