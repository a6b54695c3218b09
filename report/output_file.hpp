// Export files are written whole or not at all, and a path that cannot be written is found
// before any sort starts rather than after minutes of work.
#pragma once

#include <sstream>
#include <string>

// Throws std::runtime_error saying why when `path` cannot be created or replaced: an empty path, a
// folder, a missing folder, no permission. Leaves nothing behind.
void check_writable(const std::string& path);

// Writes `content` to a temporary file in the same folder, then renames it over `path`, so readers
// never see a half-written file. Throws std::runtime_error, removing the temporary file, on failure.
void write_file_atomically(const std::string& path, const std::string& content);

// Renders `records` with `reporter` and writes the text to `path` atomically; an empty path means
// the export was not asked for.
template <typename Records, typename Reporter>
void write_export(const std::string& path, const Records& records, Reporter reporter) {
    if (path.empty()) {
        return;
    }
    std::ostringstream text;
    reporter(records, text);
    write_file_atomically(path, text.str());
}
