#include <cstdlib>
#include <exception>
#include <iostream>
#include <new>
#include <system_error>

#include "bench/clock.hpp"
#include "bench/generator.hpp"
#include "bench/options.hpp"
#include "bench/phases.hpp"

namespace {

// One list per strategy, alive for the whole process.
duration_list parallel_times;

int run_benchmark(const options& opts) {
    const bench_config& sizes = opts.sizes;
    seed_generator(1);

    value_array data;

    run_parallel_sorts(data, parallel_times, sizes);
    std::cout << "Parallel Quicksort: Complete" << std::endl;

    return EXIT_SUCCESS;
}

} // namespace

int main(int argc, char** argv) {
    const parse_outcome parsed = parse_options(argc, argv, std::cout, std::cerr);
    if (parsed.exit_code) {
        return *parsed.exit_code;
    }
    try {
        return run_benchmark(parsed.opts);
    } catch (const std::bad_alloc&) {
        std::cerr << "quicksort_bench: error: out of memory" << std::endl;
    } catch (const std::system_error& e) {
        std::cerr << "quicksort_bench: error: cannot start a thread or task: " << e.what() << std::endl;
    } catch (const std::exception& e) {
        std::cerr << "quicksort_bench: error: " << e.what() << std::endl;
    } catch (...) {
        std::cerr << "quicksort_bench: error: unexpected failure" << std::endl;
    }
    return EXIT_FAILURE;
}
