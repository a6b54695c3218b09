// Text made safe to show on a terminal, a page or a chart.
#include "common/text.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace {

// The length of the UTF-8 sequence at `at`, and its code point; 0 when it is not a valid one.
std::size_t sequence(std::string_view text, std::size_t at, std::uint32_t& code) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    std::uint32_t least = 0;
    if (lead < 0x80) {
        code = lead;
        return 1;
    }
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2, code = lead & 0x1fu, least = 0x80;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3, code = lead & 0x0fu, least = 0x800;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4, code = lead & 0x07u, least = 0x10000;
    } else {
        return 0;
    }
    if (at + length > text.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(at + k) & 0xc0u) != 0x80) {
            return 0;
        }
        code = (code << 6) | (byte(at + k) & 0x3fu);
    }
    const bool surrogate = code >= 0xd800 && code <= 0xdfff;
    return code < least || code > 0x10ffff || surrogate ? 0 : length;
}

bool is_control(std::uint32_t code) { return code < 0x20 || code == 0x7f || (code >= 0x80 && code <= 0x9f); }

} // namespace

bool valid_utf8(std::string_view text) {
    std::uint32_t code = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = sequence(text, at, code);
        if (length == 0) {
            return false;
        }
        at += length;
    }
    return true;
}

bool has_control(std::string_view text) {
    std::uint32_t code = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = sequence(text, at, code);
        if (length > 0 && is_control(code)) {
            return true;
        }
        at += length > 0 ? length : 1;
    }
    return false;
}

std::string printable(std::string_view text) {
    std::string shown;
    shown.reserve(text.size());
    std::uint32_t code = 0;
    char escape[8];
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = sequence(text, at, code);
        if (length == 0 || (length == 1 && is_control(code))) {
            std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned char>(text[at]));
            shown += escape;
            ++at;
            continue;
        }
        if (is_control(code)) {
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(code));
            shown += escape;
        } else {
            shown.append(text.substr(at, length));
        }
        at += length;
    }
    return shown;
}

std::string shortened(const std::string& text, std::size_t characters) {
    std::size_t at = 0;
    std::uint32_t code = 0;
    for (std::size_t n = 0; at < text.size(); ++n) {
        if (n == characters) {
            // One place for the ellipsis.
            std::size_t keep = 0;
            for (std::size_t k = 0, back = 0; k + 1 < characters; ++k) {
                back = sequence(text, keep, code);
                keep += back > 0 ? back : 1;
            }
            return text.substr(0, keep) + "\u2026";
        }
        const std::size_t length = sequence(text, at, code);
        at += length > 0 ? length : 1;
    }
    return text;
}

std::size_t display_width(std::string_view text) {
    std::size_t width = 0;
    for (const char ch : text) {
        width += (static_cast<unsigned char>(ch) & 0xC0) != 0x80 ? 1 : 0;
    }
    return width;
}

std::string padded(const std::string& text, std::size_t width, bool left) {
    const std::size_t used = display_width(text);
    const std::string blanks(used < width ? width - used : 0, ' ');
    return left ? text + blanks : blanks + text;
}

std::size_t column_width(std::size_t least, const std::vector<std::string>& cells) {
    std::size_t width = least;
    for (const auto& cell : cells) {
        width = std::max(width, display_width(cell) + 1);
    }
    return width;
}
