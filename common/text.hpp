// Text from files and the command line, made safe to show: a terminal must never take a record's
// host name or label for a command, nor a page or an SVG for markup.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Whether `text` is well-formed UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF).
bool valid_utf8(std::string_view text);

// Whether `text` holds a control character: C0 (tab and line breaks included), DEL or C1.
bool has_control(std::string_view text);

// `text` cut to at most `characters` UTF-8 characters, the cut marked with an ellipsis.
std::string shortened(const std::string& text, std::size_t characters);

// `text` with every control character and every byte that is not part of valid UTF-8 written out
// as \xNN (C1 characters as \u0080 .. \u009f); any other text is unchanged.
std::string printable(std::string_view text);

// The columns `text` takes on a terminal: its UTF-8 characters ("±" is one).
std::size_t display_width(std::string_view text);

// `text` padded with blanks to `width` columns, on the right (`left` aligned) or on the left.
std::string padded(const std::string& text, std::size_t width, bool left);

// The width of a table's column: `least`, or wider when a cell needs it, so that every cell keeps
// a blank between it and its neighbour.
std::size_t column_width(std::size_t least, const std::vector<std::string>& cells);
