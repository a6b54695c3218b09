// The fields whose JSON shape is not their member's: the busiest processes, a phase's counters and
// a strategy's processes.
#include "records/json_fields.hpp"

namespace json_fields {

using namespace json_values;

// The busiest processes: a name and its share of one CPU.
ordered to_json(const std::vector<std::pair<std::string, double>>& busiest) {
    auto array = ordered::array();
    for (const auto& [name, percent] : busiest) {
        array.push_back({{"name", name}, {"cpu_percent", percent}});
    }
    return array;
}

// A phase's counters: each one's value, or the reason it is not available.
ordered to_json(const std::vector<counter_value>& counters) {
    auto object = ordered::object();
    for (const auto& c : counters) {
        object[c.name] = c.value ? ordered(*c.value) : ordered(c.reason);
    }
    return object;
}

// Each process's durations with its median.
ordered to_json(const std::vector<duration_list>& processes) {
    auto array = ordered::array();
    for (const auto& p : processes) {
        array.push_back({{"durations_ns", p}, {"median_ns", median_of(p)}});
    }
    return array;
}

void read_value(const json& j, const std::string& where, std::vector<std::pair<std::string, double>>& busiest,
                const rule&) {
    if (!j.is_array()) {
        fail(where, "not an array");
    }
    busiest.clear();
    for (std::size_t k = 0; k < j.size(); ++k) {
        const std::string at = where + "[" + std::to_string(k) + "]";
        if (!j[k].is_object()) {
            fail(at, "not an object");
        }
        auto& [name, percent] = busiest.emplace_back();
        read_value(member(j[k], at, "name"), at + ".name", name, {});
        read_value(member(j[k], at, "cpu_percent"), at + ".cpu_percent", percent, {});
    }
}

void read_value(const json& j, const std::string& where, std::vector<counter_value>& counters, const rule&) {
    if (!j.is_object()) {
        fail(where, "not an object");
    }
    counters.clear();
    for (const auto& [name, value] : j.items()) {
        if (value.is_number()) {
            counters.push_back({name, value.get<double>(), ""});
        } else if (value.is_string()) {
            counters.push_back({name, std::nullopt, value.get<std::string>()});
        } else {
            fail(where + "." + name, "neither a count nor the reason there is none");
        }
    }
}

void read_value(const json& j, const std::string& where, std::vector<duration_list>& processes, const rule& r) {
    if (!j.is_array()) {
        fail(where, "not an array");
    }
    processes.clear();
    for (std::size_t p = 0; p < j.size(); ++p) {
        const std::string at = where + "[" + std::to_string(p) + "]";
        if (!j[p].is_object()) {
            fail(at, "not an object");
        }
        read_value(member(j[p], at, "durations_ns"), at + ".durations_ns", processes.emplace_back(), r);
        if (processes.back().empty()) {
            fail(at + ".durations_ns", "empty");
        }
    }
}

} // namespace json_fields
