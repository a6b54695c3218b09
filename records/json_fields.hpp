// Our JSON from one field list per record, for the writer and the reader alike, so the two cannot
// drift apart. A list names each member once with what a reader accepts of it (a range, a check,
// whether older files may lack it) and when a writer leaves it out; derived figures appear in the
// list where the writer puts them and the reader skips them, since it recomputes them.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "machine/records.hpp"
#include "records/json_values.hpp"

namespace json_fields {

using json = nlohmann::json;
using ordered = nlohmann::ordered_json;

// What a reader accepts of a field, and whether a writer writes it.
struct rule {
    std::int64_t min = std::numeric_limits<std::int64_t>::min(); // whole numbers, or each one in a list
    std::int64_t max = std::numeric_limits<std::int64_t>::max();
    bool optional = false;      // older files may lack it (or hold null): the member keeps its default
    bool omit = false;          // the writer leaves it out of this record
    bool empty_is_null = false; // text written as null while empty, and null read as empty
    const char* (*check)(const json&) = nullptr; // what is wrong with a value of the right type; null if nothing
};
constexpr rule whole(std::int64_t min, std::int64_t max) {
    rule r;
    r.min = min;
    r.max = max;
    return r;
}
constexpr rule optional_whole(std::int64_t min, std::int64_t max) {
    rule r = whole(min, max);
    r.optional = true;
    return r;
}

template <typename T>
struct is_optional : std::false_type {};
template <typename T>
struct is_optional<std::optional<T>> : std::true_type {};

class writer;
class reader;

} // namespace json_fields

template <typename Record>
concept has_fields = requires(Record& r, json_fields::reader& v) { each_field(r, v); };

namespace json_fields {

// JSON text of `value`: a byte that is not valid UTF-8 (in a host name read from a file, say) is
// written as U+FFFD instead of failing the whole file.
template <typename Json>
std::string json_text(const Json& value, int indent = -1) {
    return value.dump(indent, ' ', false, Json::error_handler_t::replace);
}

// ---- writing: absent values as null, records as objects, lists as arrays.

template <typename Value>
ordered to_json(const Value& value);
template <typename T>
ordered to_json(const std::optional<T>& value);
template <typename T>
ordered to_json(const std::vector<T>& list);
ordered to_json(const std::vector<std::pair<std::string, double>>& busiest);
ordered to_json(const std::vector<counter_value>& counters);
ordered to_json(const std::vector<duration_list>& processes);

class writer {
public:
    explicit writer(ordered& object) : object_(object) {}

    template <typename T>
    void operator()(const char* key, const T& value, rule r = {}) {
        if (r.omit) {
            return;
        }
        if constexpr (std::is_same_v<T, std::string>) {
            if (r.empty_is_null && value.empty()) {
                object_[key] = nullptr;
                return;
            }
        }
        object_[key] = to_json(value);
    }
    // A figure computed from the record: written where it stands, never read back.
    template <typename F>
    void derived(const char* key, F&& figure) {
        object_[key] = to_json(figure());
    }
    template <typename F>
    void derived_if(const char* key, bool shown, F&& figure) {
        if (shown) {
            derived(key, figure);
        }
    }
    // A nested object holding one member's own fields, `list(member, visitor)`; an absent one is left out.
    template <typename G, typename List>
    void group(const char* key, const G& member, List&& list) {
        if constexpr (is_optional<G>::value) {
            if (member) {
                group(key, *member, list);
            }
        } else {
            ordered nested = ordered::object();
            writer inner(nested);
            list(member, inner);
            object_[key] = std::move(nested);
        }
    }
    // A nested object of several members, `list(visitor)`, written when `shown`.
    template <typename List>
    void section(const char* key, bool shown, List&& list) {
        if (shown) {
            ordered nested = ordered::object();
            writer inner(nested);
            list(inner);
            object_[key] = std::move(nested);
        }
    }

private:
    ordered& object_;
};

template <typename Record>
    requires has_fields<const Record>
ordered record_json(const Record& record) {
    ordered object = ordered::object();
    writer w(object);
    each_field(record, w);
    return object;
}

template <typename Value>
ordered to_json(const Value& value) {
    if constexpr (has_fields<const Value>) {
        return record_json(value);
    } else {
        return ordered(value);
    }
}
template <typename T>
ordered to_json(const std::optional<T>& value) {
    return value ? to_json(*value) : ordered(nullptr);
}
template <typename T>
ordered to_json(const std::vector<T>& list) {
    auto array = ordered::array();
    for (const auto& item : list) {
        array.push_back(to_json(item));
    }
    return array;
}

// ---- reading: every refusal names the field and what is wrong with it.

template <typename T>
void read_value(const json& j, const std::string& where, T& value, const rule& r);

class reader {
public:
    reader(const json& object, std::string where) : object_(object), where_(std::move(where)) {}

    template <typename T>
    void operator()(const char* key, T& value, rule r = {}) {
        const auto it = object_.find(key);
        const bool absent = it == object_.end() || (it->is_null() && !r.empty_is_null);
        if (absent && (r.optional || is_optional<T>::value)) {
            if constexpr (is_optional<T>::value) {
                value.reset();
            }
            return;
        }
        if (it == object_.end()) {
            json_values::fail(at(key), "missing");
        }
        if constexpr (std::is_same_v<T, std::string>) {
            if (r.empty_is_null && it->is_null()) {
                value.clear();
                return;
            }
        }
        read_value(*it, at(key), value, r);
    }
    template <typename F>
    void derived(const char*, F&&) {}
    template <typename F>
    void derived_if(const char*, bool, F&&) {}
    template <typename G, typename List>
    void group(const char* key, G& member, List&& list) {
        const auto it = object_.find(key);
        if constexpr (is_optional<G>::value) {
            if (it == object_.end() || it->is_null()) {
                member.reset();
                return;
            }
            reader nested = inner(*it, key);
            list(member.emplace(), nested);
        } else {
            if (it == object_.end()) {
                json_values::fail(at(key), "missing");
            }
            reader nested = inner(*it, key);
            list(member, nested);
        }
    }
    template <typename List>
    void section(const char* key, bool, List&& list) {
        const auto it = object_.find(key);
        if (it != object_.end()) {
            reader nested = inner(*it, key);
            list(nested);
        }
    }

private:
    std::string at(const char* key) const { return where_ + "." + key; }
    reader inner(const json& value, const char* key) const {
        if (!value.is_object()) {
            json_values::fail(at(key), "not an object");
        }
        return reader(value, at(key));
    }

    const json& object_;
    std::string where_;
};

template <typename Record>
    requires has_fields<Record>
void read_record(const json& object, const std::string& where, Record& record) {
    if (!object.is_object()) {
        json_values::fail(where, "not an object");
    }
    reader r(object, where);
    each_field(record, r);
}

void read_value(const json& j, const std::string& where, std::vector<std::pair<std::string, double>>& busiest,
                const rule& r);
void read_value(const json& j, const std::string& where, std::vector<counter_value>& counters, const rule& r);
void read_value(const json& j, const std::string& where, std::vector<duration_list>& processes, const rule& r);

template <typename T>
void read_value(const json& j, const std::string& where, T& value, const rule& r) {
    using namespace json_values;
    if constexpr (is_optional<T>::value) {
        if (j.is_null()) {
            value.reset();
        } else {
            read_value(j, where, value.emplace(), r);
        }
        return;
    } else if constexpr (has_fields<T>) {
        read_record(j, where, value);
        return;
    } else if constexpr (std::is_same_v<T, std::string>) {
        if (!j.is_string()) {
            fail(where, "not a string");
        }
        value = j.get<std::string>();
    } else if constexpr (std::is_same_v<T, bool>) {
        if (!j.is_boolean()) {
            fail(where, "not true or false");
        }
        value = j.get<bool>();
    } else if constexpr (std::is_integral_v<T>) {
        const std::int64_t lowest = std::max<std::int64_t>(r.min, std::numeric_limits<T>::min());
        const std::int64_t highest = static_cast<std::int64_t>(
            std::min<std::uint64_t>(static_cast<std::uint64_t>(r.max), std::numeric_limits<T>::max()));
        value = static_cast<T>(json_values::whole(j, where, lowest, highest));
    } else if constexpr (std::is_floating_point_v<T>) {
        if (!j.is_number()) {
            fail(where, "not a number");
        }
        value = j.get<T>();
    } else {
        if (!j.is_array()) {
            fail(where, "not an array");
        }
        value.clear();
        for (std::size_t k = 0; k < j.size(); ++k) {
            read_value(j[k], where + "[" + std::to_string(k) + "]", value.emplace_back(), r);
        }
        return;
    }
    if (r.check != nullptr) {
        if (const char* wrong = r.check(j)) {
            fail(where, wrong);
        }
    }
}

} // namespace json_fields

// ---- the machine's records

template <typename Facts, typename Visit>
    requires std::is_same_v<std::remove_const_t<Facts>, environment_facts>
void each_field(Facts& f, Visit& visit) {
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
void each_field(Counter& c, Visit& visit) {
    visit("name", c.name);
    visit("hardware", c.hardware);
    visit("available", c.available);
    visit("reason", c.reason);
}

template <typename Phase, typename Visit>
    requires std::is_same_v<std::remove_const_t<Phase>, phase_resources>
void each_field(Phase& p, Visit& visit) {
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

// A cache in Google Benchmark's terms, for our context and its files alike.
template <typename Cache, typename Visit>
    requires std::is_same_v<std::remove_const_t<Cache>, cache_level>
void each_field(Cache& c, Visit& visit) {
    visit("type", c.type);
    visit("level", c.level, json_fields::whole(0, 16));
    visit("size", c.size, json_fields::whole(0, 1LL << 50));
    visit("num_sharing", c.num_sharing, json_fields::whole(0, 1 << 20));
}
