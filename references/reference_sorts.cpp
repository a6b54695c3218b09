// The reference sorts, each called exactly as its library documents for a vector of ints.
#include "references/reference_sorts.hpp"

#include <algorithm>
#include <execution>
#include <memory>
#include <stdexcept>

#include <boost/sort/block_indirect_sort/block_indirect_sort.hpp>
#include <boost/sort/pdqsort/pdqsort.hpp>
#include <boost/sort/sample_sort/sample_sort.hpp>
#include <boost/sort/spreadsort/spreadsort.hpp>
#include <ips4o.hpp>
#include <oneapi/tbb/parallel_sort.h>

whole_array_sort make_reference_sort(strategy id, unsigned threads) {
    threads = std::max(1u, threads);
    switch (id) {
    case strategy::std_sort:
        return [](value_array& v) { std::sort(v.begin(), v.end()); };
    case strategy::std_par_sort:
        return [](value_array& v) { std::sort(std::execution::par, v.begin(), v.end()); };
    case strategy::tbb_parallel_sort:
        return [](value_array& v) { tbb::parallel_sort(v.begin(), v.end()); };
    case strategy::pdqsort:
        return [](value_array& v) { boost::sort::pdqsort(v.begin(), v.end()); };
    case strategy::spreadsort:
        return [](value_array& v) { boost::sort::spreadsort::spreadsort(v.begin(), v.end()); };
    case strategy::block_indirect_sort:
        return [threads](value_array& v) { boost::sort::block_indirect_sort(v.begin(), v.end(), threads); };
    case strategy::sample_sort:
        return [threads](value_array& v) { boost::sort::sample_sort(v.begin(), v.end(), threads); };
    case strategy::ips4o: {
        // Its std::thread pool, never its OpenMP one, whose spinning workers would outlive the phase;
        // started now and joined when the function goes.
        auto pool = std::make_shared<ips4o::StdThreadPool>(static_cast<int>(threads));
        return [pool](value_array& v) { ips4o::parallel::sort(v.begin(), v.end(), std::less<>(), *pool); };
    }
    case strategy::sequential:
    case strategy::thread:
    case strategy::parallel:
    case strategy::parallel_for:
        break;
    }
    throw std::invalid_argument(std::string(name_of(id)) + " is not a reference sort");
}
