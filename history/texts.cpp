// What the history accepts and stores as text: dates, labels, and the hash that names documents
// and machines.
#include <cstdio>
#include <ctime>
#include <regex>

#include "common/text.hpp"
#include "history/backend.hpp"

namespace history_internal {

std::string stable_hash(const std::string& text) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (const unsigned char ch : text) {
        hash = (hash ^ ch) * 0x100000001b3ull;
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return hex;
}

std::string utc_now() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    return std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc) > 0 ? text : "";
}

} // namespace history_internal

std::optional<std::int64_t> epoch_of(const std::string& date_time) {
    static const std::regex form(R"((\d{4})-(\d{2})-(\d{2})T(\d{2}):(\d{2}):(\d{2})(Z|([+-])(\d{2}):?(\d{2}))?)");
    std::smatch m;
    if (!std::regex_match(date_time, m, form)) {
        return std::nullopt;
    }
    std::tm t{};
    t.tm_year = std::stoi(m[1]) - 1900;
    t.tm_mon = std::stoi(m[2]) - 1;
    t.tm_mday = std::stoi(m[3]);
    t.tm_hour = std::stoi(m[4]);
    t.tm_min = std::stoi(m[5]);
    t.tm_sec = std::stoi(m[6]);
    if (t.tm_mon > 11 || t.tm_mday < 1 || t.tm_mday > 31 || t.tm_hour > 23 || t.tm_min > 59 || t.tm_sec > 60) {
        return std::nullopt;
    }
    const std::tm asked = t;
    std::int64_t epoch = timegm(&t);
    if (t.tm_mday != asked.tm_mday) { // 2026-02-30 rolled over into March
        return std::nullopt;
    }
    if (m[8].matched) {
        const std::int64_t offset = 3600 * std::stoi(m[9]) + 60 * std::stoi(m[10]);
        epoch -= m[8] == "+" ? offset : -offset;
    }
    return epoch;
}

std::optional<std::int64_t> parse_filter_date(const std::string& text) {
    static const std::regex day(R"(\d{4}-\d{2}-\d{2})");
    return epoch_of(std::regex_match(text, day) ? text + "T00:00:00Z" : text);
}


std::optional<std::string> label_refusal(const std::string& label) {
    if (!valid_utf8(label)) {
        return "a label must be UTF-8 text";
    }
    if (has_control(label)) {
        return "a label cannot hold control characters (a line break, a tab, an escape)";
    }
    if (label.size() > max_label_length) {
        return "a label is at most " + std::to_string(max_label_length) + " bytes long, not " +
               std::to_string(label.size());
    }
    const bool digits = !label.empty() && label.find_first_not_of("0123456789") == std::string::npos;
    if (label == "latest" || digits) {
        return "'" + label + "' already names a run (" + (digits ? "a run id" : "the newest run") +
               "), so it cannot be a label";
    }
    return std::nullopt;
}
