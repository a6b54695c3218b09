#include "bench/context.hpp"

#include "bench/generator.hpp"
#include "machine/facts.hpp"

#include <oneapi/tbb/version.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <thread>

#ifndef QSB_BUILD_TYPE
#define QSB_BUILD_TYPE "unknown"
#endif

namespace {

std::string local_time_iso8601() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[64];
    return std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local) > 0 ? text : "";
}

std::string host_name() {
    char name[256] = {};
    return ::gethostname(name, sizeof name - 1) == 0 ? name : "";
}

std::string cpu_model() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    for (std::string line; std::getline(cpuinfo, line);) {
        if (line.rfind("model name", 0) == 0) {
            const auto colon = line.find(':');
            if (colon != std::string::npos) {
                return line.substr(line.find_first_not_of(" \t", colon + 1));
            }
        }
    }
    return "unknown";
}

unsigned cpu_mhz() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    for (std::string line; std::getline(cpuinfo, line);) {
        if (line.rfind("cpu MHz", 0) == 0) {
            const auto colon = line.find(':');
            if (colon != std::string::npos) {
                return static_cast<unsigned>(std::strtod(line.c_str() + colon + 1, nullptr));
            }
        }
    }
    return 0;
}

std::string compiler() {
#if defined(__clang__)
    return std::string("clang ") + __clang_version__;
#elif defined(__GNUC__)
    return std::string("g++ ") + __VERSION__;
#else
    return "unknown";
#endif
}

} // namespace

run_context describe_run(const bench_config& sizes) {
    run_context c;
    c.date_time = local_time_iso8601();
    c.host_name = host_name();
    c.cpu_model = cpu_model();
    c.cpu_mhz = cpu_mhz();
    c.logical_cpus = std::thread::hardware_concurrency();
    c.compiler = compiler();
    c.build_type = QSB_BUILD_TYPE;
    c.tbb_version = TBB_runtime_version();
    c.array_size = sizes.array_size;
    c.chunk_size = sizes.chunk_size;
    c.run_count = sizes.run_count;
    c.values = value_kind_name(sizes.values);
    c.generator = describe_generator(sizes.values);
    c.cpu_scaling_enabled = cpu_scaling_enabled(c.logical_cpus);
    c.caches = cpu_caches();
    c.load_avg = load_average();
    return c;
}
