#include "cli/run_settings_table.hpp"

#include <CLI/CLI.hpp>

#include "bench/generator.hpp"
#include "cli/option_rules.hpp"

namespace {

std::vector<std::string> valued(setting s, const std::string& value) { return {option_name(s), value}; }

} // namespace

const std::array<setting_option, 5> setting_options = {{
    {"--size", "N", "Elements in every sorted array (default 10000000)", "Both sides: elements in every sorted array",
     [](const std::string& text, run_settings& r) {
         r.sizes.array_size = parse_count<std::uint64_t>(option_name(setting::size), text, 1, max_array_size);
     },
     [](const run_settings& r) { return valued(setting::size, std::to_string(r.sizes.array_size)); }},
    {"--runs", "N", "Timed sorts per strategy (default 10)", "Both sides: timed sorts per strategy in each run",
     [](const std::string& text, run_settings& r) {
         r.sizes.run_count = parse_count<std::uint64_t>(option_name(setting::runs), text, 1, max_run_count);
     },
     [](const run_settings& r) { return valued(setting::runs, std::to_string(r.sizes.run_count)); }},
    {"--chunk", "N",
     "Slice length of the chunked parallel sort (default 100000); small slices make its sequential merge slow",
     "Both sides: slice length of the chunked parallel sort",
     [](const std::string& text, run_settings& r) {
         r.sizes.chunk_size = parse_count<std::int64_t>(option_name(setting::chunk), text, 1, max_chunk_size);
     },
     [](const run_settings& r) { return valued(setting::chunk, std::to_string(r.sizes.chunk_size)); }},
    {"--values", "classic|wide",
     "Input values: classic (15-bit rand(), many repeats; the default) or wide (32-bit generator, values spread "
     "over 0 .. 3 x size - 1)",
     "Both sides: classic or wide input values",
     [](const std::string& text, run_settings& r) {
         if (text != "classic" && text != "wide") {
             throw CLI::ValidationError(option_name(setting::values), "must be classic or wide, got '" + text + "'");
         }
         r.sizes.values = text == "wide" ? value_kind::wide : value_kind::classic;
     },
     [](const run_settings& r) { return valued(setting::values, value_kind_name(r.sizes.values)); }},
    {"--reference", "",
     "Also time the field's best sorts for comparison (std::sort and its parallel form, oneTBB's parallel_sort, "
     "Boost.Sort's pdqsort, spreadsort, block_indirect_sort and sample_sort, IPS4o) and the memory floor, one "
     "streaming pass over the array",
     "Both sides: also time the reference sorts and the memory floor (see the run option)",
     [](const std::string&, run_settings& r) { r.reference = true; },
     [](const run_settings& r) {
         return r.reference ? std::vector<std::string>{option_name(setting::reference)} : std::vector<std::string>{};
     }},
}};

void add_setting(CLI::App& command, setting s, setting_text& given, bool ab) {
    const setting_option& o = setting_of(s);
    const char* help = ab ? o.ab_help : o.help;
    if (o.is_flag()) {
        command.add_flag(o.name, given.on, help);
    } else {
        command.add_option(o.name, given.text, help)->type_name(o.type_name);
    }
}

void read_setting(const CLI::App& command, setting s, const setting_text& given, run_settings& settings) {
    const setting_option& o = setting_of(s);
    if (command.count(o.name) > 0 && (!o.is_flag() || given.on)) {
        o.read(given.text, settings);
    }
}
