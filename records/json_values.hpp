// Checked access to the fields of a JSON export: every refusal names the field and says what is
// wrong with it. Private to the reader.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>

#include "records/json_reader.hpp"

namespace json_values {

using json = nlohmann::json;

// Longer than any sort this program could time (about eleven and a half days).
constexpr std::int64_t max_duration_ns = 1'000'000'000'000'000;

[[noreturn]] inline void fail(const std::string& where, const std::string& what) { throw export_error(where + ": " + what); }

inline const json& member(const json& object, const std::string& where, const char* key) {
    const auto it = object.find(key);
    if (it == object.end()) {
        fail(where + "." + key, "missing");
    }
    return *it;
}

inline const json& object_at(const json& object, const std::string& where, const char* key) {
    const json& value = member(object, where, key);
    if (!value.is_object()) {
        fail(where + "." + key, "not an object");
    }
    return value;
}

inline const json& array_at(const json& object, const std::string& where, const char* key) {
    const json& value = member(object, where, key);
    if (!value.is_array()) {
        fail(where + "." + key, "not an array");
    }
    return value;
}

// A whole number in [min, max]; JSON numbers written as 1.0 or 1e3 are refused like text.
inline std::int64_t whole(const json& value, const std::string& where, std::int64_t min, std::int64_t max) {
    if (!value.is_number_integer()) {
        fail(where, "not a whole number");
    }
    if (value.is_number_unsigned() && value.get<std::uint64_t>() > static_cast<std::uint64_t>(max)) {
        fail(where, "out of range (" + std::to_string(min) + " .. " + std::to_string(max) + ")");
    }
    const auto n = value.get<std::int64_t>();
    if (n < min || n > max) {
        fail(where, std::to_string(n) + " is out of range (" + std::to_string(min) + " .. " + std::to_string(max) + ")");
    }
    return n;
}

inline std::int64_t whole_at(const json& object, const std::string& where, const char* key, std::int64_t min,
                      std::int64_t max) {
    return whole(member(object, where, key), where + "." + key, min, max);
}

} // namespace json_values
