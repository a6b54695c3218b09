// Reads an input file whole, refusing folders, endless streams and files past a limit.
#include "common/input_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

std::string read_input_file(const std::string& path, std::size_t max_bytes, char opening) {
    const auto unreadable = [](const char* why) { return input_error(std::string("cannot be read (") + why + ")", false); };
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        throw unreadable(std::strerror(errno));
    }
    const struct closer {
        int fd;
        ~closer() { ::close(fd); }
    } close_on_exit{fd};
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        throw unreadable(std::strerror(errno));
    }
    if (S_ISDIR(info.st_mode)) {
        throw unreadable("it is a folder, not a file");
    }
    const input_error too_large("larger than " + std::to_string(max_bytes >> 20) + " MiB", true);
    if (S_ISREG(info.st_mode) && static_cast<std::uint64_t>(info.st_size) > max_bytes) {
        throw too_large;
    }
    std::string text;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            throw unreadable(std::strerror(errno));
        }
        if (got == 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(got));
        const auto first = text.find_first_not_of(" \t\r\n");
        if (opening != '\0' && first != std::string::npos && text[first] != opening) {
            break;
        }
        if (text.size() > max_bytes) {
            throw too_large;
        }
    }
    return text;
}
