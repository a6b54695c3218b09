// libFuzzer target for the reader of --export-json files: any bytes must either parse into a
// record whose figures hold together or be refused with export_error, never crash or hang.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "report/json_reader.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        const export_document doc = parse_export(text);
        for (const auto& step : doc.sweep.steps) {
            for (const auto& s : step.results.strategies) {
                if (s.durations.size() != step.results.context.run_count || s.summary.min > s.summary.median ||
                    s.summary.median > s.summary.max) {
                    std::abort();
                }
            }
        }
    } catch (const export_error&) {
    }
    return 0;
}
