// Input generation. Reproduces the classic Microsoft C runtime rand() exactly, so the arrays match
// the original platform's value for value: a per-thread linear congruential state that starts at 1
// on every thread that has not seeded it, and 15-bit draws (0 .. 32767).
#pragma once

#include <cstdint>

#include "sorting/sorting.hpp"

inline constexpr std::int32_t generator_max = 0x7FFF;

// Sets the calling thread's state, as srand() does; other threads keep their own.
void seed_generator(std::uint32_t seed);

// The next draw from the calling thread's state, as rand() does.
std::int32_t draw_random();

// Appends array_size draws, each reduced modulo 3 * array_size, to `values`. Holds no lock: every
// thread draws from its own state. Requires array_size > 0.
void generate_values(value_array& values, std::uint64_t array_size);
