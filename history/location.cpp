// A history's location read apart: a URI or a key/value string is shown only from its parts, its
// password masked, and libpq is handed a form it reads the way the user meant.
#include "history/location.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>
#include <utility>

#include "history/store.hpp"

namespace {

constexpr std::array<std::string_view, 2> schemes = {"postgresql://", "postgres://"};

// libpq's connection keywords: a location that starts with one of them is a connection string.
constexpr std::array<std::string_view, 41> libpq_keywords = {
    "host", "hostaddr", "port", "dbname", "user", "password", "passfile", "channel_binding", "connect_timeout",
    "client_encoding", "options", "application_name", "fallback_application_name", "keepalives",
    "keepalives_idle", "keepalives_interval", "keepalives_count", "tcp_user_timeout", "replication",
    "gssencmode", "sslmode", "requiressl", "sslcompression", "sslcert", "sslkey", "sslpassword", "sslrootcert",
    "sslcrl", "sslcrldir", "sslsni", "requirepeer", "ssl_min_protocol_version", "ssl_max_protocol_version",
    "krbsrvname", "gsslib", "gssdelegation", "service", "target_session_attrs", "load_balance_hosts",
    "require_auth", "sslcertmode"};

int hex_value(char ch) {
    if (ch >= '0' && ch <= '9') {
        return ch - '0';
    }
    ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return ch >= 'a' && ch <= 'f' ? ch - 'a' + 10 : -1;
}

// %XX sequences decoded; a '%' that starts none is kept as it is.
std::string percent_decoded(const std::string& text) {
    std::string decoded;
    for (std::size_t k = 0; k < text.size(); ++k) {
        if (text[k] == '%' && k + 2 < text.size() && hex_value(text[k + 1]) >= 0 && hex_value(text[k + 2]) >= 0) {
            decoded += static_cast<char>(hex_value(text[k + 1]) * 16 + hex_value(text[k + 2]));
            k += 2;
        } else {
            decoded += text[k];
        }
    }
    return decoded;
}

// libpq ends a URI's user part at its first '@' or '/': those two are encoded so that a password
// holding them reaches the server whole.
std::string userinfo_encoded(const std::string& password) {
    std::string encoded;
    for (const char ch : password) {
        encoded += ch == '@' ? std::string("%40") : ch == '/' ? std::string("%2F") : std::string(1, ch);
    }
    return encoded;
}

// Whether `text` starts with one of libpq's keywords and '=': a URI's query, a key/value string.
bool starts_with_keyword(std::string_view text) {
    const std::size_t equals = text.find('=');
    return equals != std::string_view::npos &&
           std::find(libpq_keywords.begin(), libpq_keywords.end(), text.substr(0, equals)) != libpq_keywords.end();
}

void add_secret(postgres_location& l, const std::string& typed) {
    l.has_password = true;
    for (std::string secret : {typed, percent_decoded(typed), userinfo_encoded(typed)}) {
        if (!secret.empty() && std::find(l.secrets.begin(), l.secrets.end(), secret) == l.secrets.end()) {
            l.secrets.push_back(std::move(secret));
        }
    }
}

postgres_location read_uri(const std::string& location, std::string_view scheme) {
    postgres_location l;
    const std::string rest = location.substr(scheme.size());
    // A password may hold '@', '/', '?' or '#' unencoded: the query starts at the first '?' that a
    // libpq keyword and '=' follow, and the user part ends at the last '@' before it.
    std::size_t query_start = std::string::npos;
    for (std::size_t q = rest.find('?'); q != std::string::npos && query_start == std::string::npos;
         q = rest.find('?', q + 1)) {
        if (starts_with_keyword(std::string_view(rest).substr(q + 1))) {
            query_start = q;
        }
    }
    const std::size_t at = rest.rfind('@', query_start == std::string::npos ? std::string::npos : query_start);
    std::string user_part;
    std::string shown_user;
    std::string after = rest;
    if (at != std::string::npos) {
        const std::string userinfo = rest.substr(0, at);
        after = rest.substr(at + 1);
        const std::size_t colon = userinfo.find(':');
        const std::string user = userinfo.substr(0, colon);
        shown_user = user;
        user_part = user;
        if (colon != std::string::npos) {
            const std::string password = userinfo.substr(colon + 1);
            add_secret(l, password);
            shown_user += ":***";
            user_part += ":" + userinfo_encoded(password);
        }
        shown_user += "@";
        user_part += "@";
    }
    const std::size_t question =
        query_start == std::string::npos ? after.find('?') : query_start - (rest.size() - after.size());
    const std::string address = after.substr(0, question);
    bool has_timeout = false;
    std::string shown_query;
    std::string connect_query;
    if (question != std::string::npos) {
        const std::string query = after.substr(question + 1);
        std::size_t start = 0;
        while (start <= query.size()) {
            const std::size_t end = std::min(query.find('&', start), query.size());
            const std::string param = query.substr(start, end - start);
            start = end + 1;
            if (param.empty()) {
                continue; // "?" or "&" at the end, which libpq accepts
            }
            const std::size_t equals = param.find('=');
            const std::string key = param.substr(0, equals);
            has_timeout = has_timeout || key == "connect_timeout";
            const bool secret = key == "password" && equals != std::string::npos;
            if (secret) {
                add_secret(l, param.substr(equals + 1));
            }
            shown_query += (shown_query.empty() ? "?" : "&") + (secret ? key + "=***" : param);
            connect_query += (connect_query.empty() ? "?" : "&") + param;
        }
    }
    l.shown = std::string(scheme) + shown_user + address + shown_query;
    l.connect = std::string(scheme) + user_part + address + connect_query;
    if (!has_timeout) {
        l.connect += (connect_query.empty() ? "?" : "&") + std::string("connect_timeout=10");
    }
    return l;
}

bool is_space(char ch) { return std::isspace(static_cast<unsigned char>(ch)) != 0; }

// A key/value string as libpq reads it: `keyword = value`, a value in single quotes or up to the
// next blank, a backslash keeping the next character.
postgres_location read_keywords(const std::string& location) {
    const history_error malformed("the connection string given as the history is malformed (a keyword without "
                                  "'=', or a quote left open); it is not shown, as it may hold a password",
                                  2);
    postgres_location l;
    bool has_timeout = false;
    std::size_t k = 0;
    const std::size_t n = location.size();
    while (true) {
        while (k < n && is_space(location[k])) {
            ++k;
        }
        if (k == n) {
            break;
        }
        const std::size_t key_start = k;
        while (k < n && !is_space(location[k]) && location[k] != '=') {
            ++k;
        }
        const std::string key = location.substr(key_start, k - key_start);
        while (k < n && is_space(location[k])) {
            ++k;
        }
        if (k == n || location[k] != '=' || key.empty()) {
            throw malformed;
        }
        ++k;
        while (k < n && is_space(location[k])) {
            ++k;
        }
        const std::size_t value_start = k;
        std::string value;
        if (k < n && location[k] == '\'') {
            for (++k;; ++k) {
                if (k >= n) {
                    throw malformed;
                }
                if (location[k] == '\\' && k + 1 < n) {
                    value += location[++k];
                } else if (location[k] == '\'') {
                    ++k;
                    break;
                } else {
                    value += location[k];
                }
            }
        } else {
            for (; k < n && !is_space(location[k]); ++k) {
                value += location[k] == '\\' && k + 1 < n ? location[++k] : location[k];
            }
        }
        has_timeout = has_timeout || key == "connect_timeout";
        std::string shown_value = value;
        if (key == "password") {
            add_secret(l, location.substr(value_start, k - value_start));
            add_secret(l, value);
            shown_value = "***";
        } else if (shown_value.empty() || std::any_of(shown_value.begin(), shown_value.end(), [](char ch) {
                       return is_space(ch) || ch == '\'' || ch == '\\';
                   })) {
            std::string quoted = "'";
            for (const char ch : shown_value) {
                quoted += ch == '\'' || ch == '\\' ? std::string("\\") + ch : std::string(1, ch);
            }
            shown_value = quoted + "'";
        }
        l.shown += (l.shown.empty() ? "" : " ") + key + "=" + shown_value;
    }
    l.connect = location + (has_timeout ? "" : " connect_timeout=10");
    return l;
}

} // namespace

std::optional<postgres_location> read_postgres_location(const std::string& location) {
    for (const std::string_view scheme : schemes) {
        if (location.rfind(scheme, 0) == 0) {
            return read_uri(location, scheme);
        }
    }
    std::size_t k = 0;
    while (k < location.size() && is_space(location[k])) {
        ++k;
    }
    std::size_t end = k;
    while (end < location.size() && (std::isalnum(static_cast<unsigned char>(location[end])) != 0 || location[end] == '_')) {
        ++end;
    }
    std::size_t equals = end;
    while (equals < location.size() && is_space(location[equals])) {
        ++equals;
    }
    if (end == k || equals >= location.size() || location[equals] != '=') {
        return std::nullopt; // a file
    }
    const std::string keyword = location.substr(k, end - k);
    if (std::find(libpq_keywords.begin(), libpq_keywords.end(), keyword) != libpq_keywords.end()) {
        return read_keywords(location);
    }
    if (location.find('/') != std::string::npos) {
        return std::nullopt; // a path such as results=old/history.sqlite
    }
    throw history_error("the history given starts like a connection string, but '" + keyword +
                            "' is not one of libpq's keywords (host, dbname, user, service, ...); to name a file "
                            "of that name, start it with ./",
                        2);
}

std::string without_secrets(std::string message, const std::vector<std::string>& secrets) {
    std::vector<std::string> longest_first = secrets;
    std::sort(longest_first.begin(), longest_first.end(),
              [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    for (const std::string& secret : longest_first) {
        if (secret.empty()) {
            continue;
        }
        for (std::size_t at = message.find(secret); at != std::string::npos; at = message.find(secret, at + 3)) {
            message.replace(at, secret.size(), "***");
        }
    }
    return message;
}
