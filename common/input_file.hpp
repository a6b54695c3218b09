// Input files read whole and safely: a folder, an endless stream or a file far larger than any
// input of this program is refused with a reason instead of being read.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

// Why a file could not be read; `too_large` when it is over the limit the reader set.
class input_error : public std::runtime_error {
public:
    input_error(const std::string& what, bool too_large) : std::runtime_error(what), too_large_(too_large) {}
    bool too_large() const { return too_large_; }

private:
    bool too_large_;
};

// The whole of `path`, at most `max_bytes` of it. With `opening`, a stream whose first character
// other than blanks is something else stops there (a device of zeros is not read to the limit).
// Throws input_error.
std::string read_input_file(const std::string& path, std::size_t max_bytes, char opening = '\0');
