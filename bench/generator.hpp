// Input generation. The classic kind reproduces the Microsoft C runtime rand() exactly, so the
// arrays match the original platform's value for value: a per-thread linear congruential state
// that starts at 1 on every thread that has not seeded it, and 15-bit draws (0 .. 32767), so an
// array of ten million holds each value about 305 times. The wide kind draws from a 32-bit
// generator (std::mt19937, also per thread and seeded 1), so values spread over the whole range
// 0 .. 3 * array_size - 1 with few duplicates.
#pragma once

#include <cstdint>
#include <string>

#include "sorting/sorting.hpp"

enum class value_kind { classic, wide };

inline constexpr std::int32_t generator_max = 0x7FFF;

// Sets the calling thread's state of both kinds, as srand() does; other threads keep their own.
void seed_generator(std::uint32_t seed);

// Appends array_size draws of the given kind, each reduced modulo 3 * array_size, to `values`.
// Holds no lock: every thread draws from its own state. Requires array_size > 0.
void generate_values(value_array& values, std::uint64_t array_size, value_kind kind = value_kind::classic);

// "classic" or "wide", and how the kind draws its values, for the context of every export.
std::string value_kind_name(value_kind kind);
std::string describe_generator(value_kind kind);
