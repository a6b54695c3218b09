#include "bench/context.hpp"

#include <oneapi/tbb/version.h>
#include <unistd.h>

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
    c.logical_cpus = std::thread::hardware_concurrency();
    c.compiler = compiler();
    c.build_type = QSB_BUILD_TYPE;
    c.tbb_version = TBB_runtime_version();
    c.array_size = sizes.array_size;
    c.chunk_size = sizes.chunk_size;
    c.run_count = sizes.run_count;
    c.generator = "Microsoft C runtime rand(): per-thread state = state * 214013 + 2531011 (mod 2^32), seed 1, "
                  "draw = (state >> 16) & 0x7FFF; value = draw % (3 * array_size)";
    return c;
}
