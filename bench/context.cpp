// What a run ran on and with: the machine, the build and the run's own settings.
#include "bench/context.hpp"

#include "bench/generator.hpp"
#include "machine/facts.hpp"
#include "machine/topology.hpp"

#include <oneapi/tbb/version.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <thread>

#include "source_revision.hpp"

#ifndef QSB_BUILD_TYPE
#define QSB_BUILD_TYPE "unknown"
#endif
#ifndef QSB_VERSION
#define QSB_VERSION "unknown"
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
    const cpuinfo cpu = read_cpuinfo();
    c.cpu_model = cpu.model;
    c.cpu_mhz = cpu.mhz;
    c.logical_cpus = std::thread::hardware_concurrency();
    c.compiler = compiler();
    c.build_type = QSB_BUILD_TYPE;
    c.program_version = QSB_VERSION;
    c.source_revision = QSB_SOURCE_REVISION;
    c.tbb_version = TBB_runtime_version();
    c.kernel = read_first_line("/proc/sys/kernel/osrelease").value_or("");
    if (const auto memory = read_meminfo()) {
        c.memory_bytes = memory->total;
    }
    c.array_size = sizes.array_size;
    c.chunk_size = sizes.chunk_size;
    c.run_count = sizes.run_count;
    c.values = value_kind_name(sizes.values);
    c.generator = describe_generator(sizes.values);
    c.cpu_scaling_enabled = cpu_scaling_enabled(c.logical_cpus);
    c.caches = read_topology().caches;
    c.load_avg = load_average();
    return c;
}
