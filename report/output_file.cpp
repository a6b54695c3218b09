#include "report/output_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace {

std::runtime_error failure(const std::string& path, int error) {
    return std::runtime_error("cannot write '" + path + "': " + std::strerror(error));
}

// A name beside `path` that no other writer in this process or another one will pick.
std::string temporary_beside(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    return path + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(counter++);
}

// Opens a fresh temporary file beside `path`; the mode honours the umask like any new file.
int open_temporary(const std::string& path, std::string& temporary) {
    temporary = temporary_beside(path);
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        throw failure(path, errno);
    }
    return fd;
}

} // namespace

void check_writable(const std::string& path) {
    if (path.empty()) {
        throw std::runtime_error("an export needs a file name");
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        throw failure(path, EISDIR);
    }
    std::string temporary;
    ::close(open_temporary(path, temporary));
    ::unlink(temporary.c_str());
}

void write_file_atomically(const std::string& path, const std::string& content) {
    std::string temporary;
    const int fd = open_temporary(path, temporary);
    const char* data = content.data();
    std::size_t left = content.size();
    int error = 0;
    while (left > 0 && error == 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0) {
            error = errno == EINTR ? 0 : errno;
            continue;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(temporary.c_str());
        throw failure(path, error);
    }
}
