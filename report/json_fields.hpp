// The machine's records in our JSON, one field list each for the writer and the reader, so the
// two cannot drift apart. A list names each member once; the visitor decides what is done with it.
#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "machine/records.hpp"

template <typename Facts, typename Visit>
    requires std::is_same_v<std::remove_const_t<Facts>, environment_facts>
void each_field(Facts& f, Visit&& visit) {
    visit("governor", f.governor);
    visit("scaling_min_khz", f.scaling_min_khz);
    visit("scaling_max_khz", f.scaling_max_khz);
    visit("boost", f.boost);
    visit("packages", f.packages);
    visit("numa_nodes", f.numa_nodes);
    visit("cores", f.cores);
    visit("hardware_threads", f.hardware_threads);
    visit("load_avg", f.load_avg);
    visit("runnable", f.runnable);
    visit("busiest", f.busiest);
    visit("mem_available_bytes", f.mem_available_bytes);
    visit("swap_total_bytes", f.swap_total_bytes);
    visit("swap_free_bytes", f.swap_free_bytes);
    visit("transparent_hugepages", f.transparent_hugepages);
    visit("aslr", f.aslr);
    visit("perf_event_paranoid", f.perf_event_paranoid);
    visit("counters", f.counters);
    visit("throttle_count", f.throttle_count);
    visit("virtual_machine", f.virtual_machine);
}

template <typename Counter, typename Visit>
    requires std::is_same_v<std::remove_const_t<Counter>, counter_availability>
void each_field(Counter& c, Visit&& visit) {
    visit("name", c.name);
    visit("hardware", c.hardware);
    visit("available", c.available);
    visit("reason", c.reason);
}

template <typename Phase, typename Visit>
    requires std::is_same_v<std::remove_const_t<Phase>, phase_resources>
void each_field(Phase& p, Visit&& visit) {
    visit("phase", p.phase);
    visit("wall_ns", p.wall_ns);
    visit("user_ns", p.user_ns);
    visit("system_ns", p.system_ns);
    visit("parallelism", p.parallelism);
    visit("cpus", p.cpus);
    visit("voluntary_switches", p.voluntary_switches);
    visit("involuntary_switches", p.involuntary_switches);
    visit("minor_faults", p.minor_faults);
    visit("major_faults", p.major_faults);
    visit("counters", p.counters);
}

template <typename Record>
concept has_fields = requires(Record& r) { each_field(r, [](const char*, auto&) {}); };

// ---- writing: absent values as null, lists of records as arrays of objects.

template <typename Value>
nlohmann::ordered_json field_json(const Value& value);
template <typename T>
nlohmann::ordered_json field_json(const std::optional<T>& value);
template <typename T>
nlohmann::ordered_json field_json(const std::vector<T>& list);
nlohmann::ordered_json field_json(const std::vector<std::pair<std::string, double>>& busiest);
nlohmann::ordered_json field_json(const std::vector<counter_value>& counters);

template <typename Record>
    requires has_fields<const Record>
nlohmann::ordered_json record_json(const Record& record) {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    each_field(record, [&](const char* key, const auto& value) { object[key] = field_json(value); });
    return object;
}

template <typename Value>
nlohmann::ordered_json field_json(const Value& value) {
    using V = std::remove_cvref_t<Value>;
    if constexpr (has_fields<const V>) {
        return record_json(value);
    } else {
        return nlohmann::ordered_json(value);
    }
}
template <typename T>
nlohmann::ordered_json field_json(const std::optional<T>& value) {
    return value ? field_json(*value) : nlohmann::ordered_json(nullptr);
}
template <typename T>
nlohmann::ordered_json field_json(const std::vector<T>& list) {
    auto array = nlohmann::ordered_json::array();
    for (const auto& item : list) {
        array.push_back(field_json(item));
    }
    return array;
}
// The busiest processes: a name and its share of one CPU.
inline nlohmann::ordered_json field_json(const std::vector<std::pair<std::string, double>>& busiest) {
    auto array = nlohmann::ordered_json::array();
    for (const auto& [name, percent] : busiest) {
        array.push_back({{"name", name}, {"cpu_percent", percent}});
    }
    return array;
}
// A phase's counters: each one's value, or the reason it is not available.
inline nlohmann::ordered_json field_json(const std::vector<counter_value>& counters) {
    auto object = nlohmann::ordered_json::object();
    for (const auto& c : counters) {
        object[c.name] = c.value ? nlohmann::ordered_json(*c.value) : nlohmann::ordered_json(c.reason);
    }
    return object;
}

// ---- reading: a missing or null optional is absent; anything else missing or of another type
// throws nlohmann's exception, which the reader reports as a damaged field.

template <typename Value>
void read_field(const nlohmann::json& j, Value& value);
template <typename T>
void read_field(const nlohmann::json& j, std::vector<T>& list);
void read_field(const nlohmann::json& j, std::vector<std::pair<std::string, double>>& busiest);
void read_field(const nlohmann::json& j, std::vector<counter_value>& counters);

template <typename Record>
    requires has_fields<Record>
void read_record(const nlohmann::json& object, Record& record) {
    each_field(record, [&](const char* key, auto& value) {
        using V = std::remove_cvref_t<decltype(value)>;
        if constexpr (requires { typename V::value_type; value.has_value(); }) {
            const auto it = object.find(key);
            value = it == object.end() || it->is_null() ? V{} : V{it->template get<typename V::value_type>()};
        } else {
            read_field(object.at(key), value);
        }
    });
}

template <typename Value>
void read_field(const nlohmann::json& j, Value& value) {
    if constexpr (has_fields<Value>) {
        read_record(j, value);
    } else {
        value = j.get<Value>();
    }
}
template <typename T>
void read_field(const nlohmann::json& j, std::vector<T>& list) {
    list.clear();
    for (const auto& item : j) {
        list.emplace_back();
        read_field(item, list.back());
    }
}
inline void read_field(const nlohmann::json& j, std::vector<std::pair<std::string, double>>& busiest) {
    busiest.clear();
    for (const auto& b : j) {
        busiest.emplace_back(b.at("name").get<std::string>(), b.at("cpu_percent").get<double>());
    }
}
inline void read_field(const nlohmann::json& j, std::vector<counter_value>& counters) {
    counters.clear();
    for (const auto& [name, value] : j.items()) {
        counters.push_back(value.is_number() ? counter_value{name, value.get<double>(), ""}
                                             : counter_value{name, std::nullopt, value.get<std::string>()});
    }
}

// The caches in Google Benchmark's terms, for our context and its files alike.
inline nlohmann::ordered_json caches_json(const std::vector<cache_level>& caches) {
    auto list = nlohmann::ordered_json::array();
    for (const auto& cache : caches) {
        list.push_back({{"type", cache.type},
                        {"level", cache.level},
                        {"size", cache.size},
                        {"num_sharing", cache.num_sharing}});
    }
    return list;
}
