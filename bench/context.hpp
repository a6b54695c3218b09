// What a result was measured on, for the exports.
#pragma once

#include "bench/config.hpp"
#include "records/results.hpp"

run_context describe_run(const bench_config& sizes);
