// The smallest real Google Benchmark program: its own JSON is the reference for --export-gbench.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

static void sort_a_little(benchmark::State& state) {
    std::vector<int> values(256);
    for (auto _ : state) {
        std::generate(values.begin(), values.end(), [n = 0]() mutable { return (n++ * 7919) % 256; });
        std::sort(values.begin(), values.end());
        benchmark::DoNotOptimize(values.data());
    }
}
BENCHMARK(sort_a_little);

BENCHMARK_MAIN();
