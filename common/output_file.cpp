// Export files written whole or not at all, checked before any sort.
#include "common/output_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iostream>
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
int open_temporary(const std::string& path, const std::string& shown, std::string& temporary) {
    temporary = temporary_beside(path);
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        throw failure(shown, errno);
    }
    return fd;
}

// Follows symbolic links to the file they finally name, which need not exist yet.
std::string final_target(const std::string& path) {
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            return current;
        }
        char target[PATH_MAX];
        const ssize_t length = ::readlink(current.c_str(), target, sizeof target - 1);
        if (length < 0) {
            throw failure(path, errno);
        }
        const std::string next(target, static_cast<std::size_t>(length));
        const auto slash = current.rfind('/');
        current = next.front() == '/' || slash == std::string::npos ? next : current.substr(0, slash + 1) + next;
    }
    throw failure(path, ELOOP);
}

enum class target_kind { missing, regular, other };

target_kind kind_of(const std::string& target, const std::string& shown) {
    struct stat info {};
    if (::stat(target.c_str(), &info) != 0) {
        return target_kind::missing;
    }
    if (S_ISDIR(info.st_mode)) {
        throw failure(shown, EISDIR);
    }
    if (S_ISSOCK(info.st_mode)) {
        throw std::runtime_error("cannot write '" + shown + "': it is a socket, not a file, FIFO or device");
    }
    return S_ISREG(info.st_mode) ? target_kind::regular : target_kind::other;
}

// The rename itself is durable only once the folder that holds the name is on the disk.
void sync_folder_of(const std::string& file) {
    const auto slash = file.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : file.substr(0, slash);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Where a path that need not exist yet would be: its folder with every link and ".." resolved.
std::string resolved(const std::string& path) {
    const auto slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    char real[PATH_MAX];
    if (::realpath(folder.c_str(), real) == nullptr) {
        return path;
    }
    return std::string(real) + "/" + name;
}

int write_all(int fd, const std::string& content) {
    const char* data = content.data();
    std::size_t left = content.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    return 0;
}

} // namespace

void check_writable(const std::string& path) {
    if (path.empty()) {
        throw std::runtime_error("an export needs a file name");
    }
    if (path == "-") {
        return;
    }
    const std::string target = final_target(path);
    if (kind_of(target, path) == target_kind::other) {
        // Opening a FIFO would wait for its reader, so only the permission is checked now.
        if (::access(target.c_str(), W_OK) != 0) {
            throw failure(path, errno);
        }
        return;
    }
    std::string temporary;
    ::close(open_temporary(target, path, temporary));
    ::unlink(temporary.c_str());
}

void write_output_file(const std::string& path, const std::string& content) {
    if (path == "-") {
        std::cout << content << std::flush;
        return;
    }
    const std::string target = final_target(path);
    if (kind_of(target, path) == target_kind::other) {
        const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0) {
            throw failure(path, errno);
        }
        int error = write_all(fd, content);
        if (::close(fd) != 0 && error == 0) {
            error = errno;
        }
        if (error != 0) {
            throw failure(path, error);
        }
        return;
    }
    std::string temporary;
    const int fd = open_temporary(target, path, temporary);
    int error = write_all(fd, content);
    // The replaced file keeps its permission bits; the data is on the disk before the rename, so
    // that a power loss leaves the old file or the new one, never an empty one.
    struct stat old {};
    if (error == 0 && ::stat(target.c_str(), &old) == 0 && ::fchmod(fd, old.st_mode & 07777) != 0) {
        error = errno;
    }
    if (error == 0 && ::fsync(fd) != 0) {
        error = errno;
    }
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error == 0 && ::rename(temporary.c_str(), target.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(temporary.c_str());
        throw failure(path, error);
    }
    sync_folder_of(target);
}

void write_to_descriptor(int fd, const std::string& content) {
    if (const int error = write_all(fd, content); error != 0) {
        throw std::runtime_error(std::string("cannot write the result: ") + std::strerror(error));
    }
}

bool same_destination(const std::string& a, const std::string& b) {
    if (a == "-" || b == "-") {
        return a == b;
    }
    const std::string first = final_target(a);
    const std::string second = final_target(b);
    return same_file(first, second) || resolved(first) == resolved(second);
}

bool same_file(const std::string& a, const std::string& b) {
    struct stat first {};
    struct stat second {};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}
