// Export files are written whole or not at all, and a path that cannot be written is found
// before any sort starts rather than after minutes of work. Only regular files are replaced: a
// link is followed and kept, a FIFO or a device is written into, "-" is standard output.
#pragma once

#include <sstream>
#include <string>

// Throws std::runtime_error saying why when `path` cannot be written: an empty path, a folder, a
// missing folder, no permission, a socket, a link loop. Leaves nothing behind.
void check_writable(const std::string& path);

// Writes `content` to `path`. A regular file (or a new one) is written to a temporary file in its
// folder, flushed to the disk and renamed over it (keeping the old file's permission bits), so
// readers never see a half-written file and a power loss never leaves an empty one; through a
// symbolic link that happens beside the link's final target and the link stays. A FIFO, a device or any other
// file that is not regular is opened and written directly. "-" writes to standard output. Throws
// std::runtime_error, removing any temporary file, on failure.
void write_output_file(const std::string& path, const std::string& content);

// Writes all of `content` to the open descriptor `fd`. Throws std::runtime_error on failure.
void write_to_descriptor(int fd, const std::string& content);

// Whether `a` and `b` name the same existing file, through links too.
bool same_file(const std::string& a, const std::string& b);

// Whether writing `a` and `b` would write one file: the same name through relative paths, "..",
// symbolic links (also to a file not there yet) or hard links.
bool same_destination(const std::string& a, const std::string& b);

// Renders `records` with `reporter` and writes the text to `path`; an empty path means the export
// was not asked for.
template <typename Records, typename Reporter>
void write_export(const std::string& path, const Records& records, Reporter reporter) {
    if (path.empty()) {
        return;
    }
    std::ostringstream text;
    reporter(records, text);
    write_output_file(path, text.str());
}
