// libFuzzer target for the reader of --export-json files: any bytes must either parse into a
// record whose figures hold together or be refused with export_error, never crash or hang.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "records/json_reader.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        const export_document doc = parse_export(text);
        for (const auto& step : doc.sweep.steps) {
            // With a precision goal run_count is each strategy's minimum and max_runs its most.
            const run_context& c = step.results.context;
            const std::uint64_t most = c.precision ? c.precision->max_runs : c.run_count;
            for (const auto& s : step.results.strategies) {
                const auto& interval = s.summary.interval;
                if (s.durations.size() < c.run_count || s.durations.size() > most ||
                    s.summary.min > s.summary.median || s.summary.median > s.summary.max ||
                    (interval && (interval->low > s.summary.median || interval->high < s.summary.median))) {
                    std::abort();
                }
            }
        }
    } catch (const export_error&) {
    }
    return 0;
}
