// Where a user's history and the runs it could not take live, created private to the user.
#include "history/places.hpp"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "common/output_file.hpp"
#include "history/store.hpp"

namespace fs = std::filesystem;

namespace {

// $<variable> when it is an absolute path, else <home>/<fallback>.
fs::path xdg_folder(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    if (value != nullptr && fs::path(value).is_absolute()) {
        return value;
    }
    return home_folder() / fallback;
}

} // namespace

fs::path home_folder() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && fs::path(home).is_absolute()) {
        return home;
    }
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr && fs::path(found->pw_dir).is_absolute()) {
        return found->pw_dir;
    }
    throw history_error("cannot tell where the history goes: HOME is not set and this user has no home in the "
                        "password database (--history names a file)",
                        2);
}

fs::path default_history_path() {
    return xdg_folder("XDG_DATA_HOME", ".local/share") / "quicksort_bench" / "history.sqlite";
}

std::string history_location(const std::string& given) {
    if (!given.empty()) {
        return given;
    }
    // A runner of a team sets its history once; it never asks for --record by itself.
    const char* team = std::getenv("QUICKSORT_BENCH_HISTORY");
    return team != nullptr && *team != '\0' ? std::string(team) : default_history_path().string();
}

fs::path unrecorded_folder() { return xdg_folder("XDG_STATE_HOME", ".local/state") / "quicksort_bench" / "unrecorded"; }

void create_private_folders(const fs::path& folder) {
    if (folder.empty() || fs::exists(folder)) {
        return;
    }
    create_private_folders(folder.parent_path());
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        throw history_error("cannot create the folder " + folder.string() + ": " + std::strerror(errno), 1);
    }
}

fs::path keep_unrecorded(const std::string& document) {
    const fs::path folder = unrecorded_folder();
    create_private_folders(folder);
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
    for (int attempt = 0;; ++attempt) {
        const fs::path file = folder / (std::string("run-") + stamp + "-" + std::to_string(::getpid()) +
                                        (attempt > 0 ? "-" + std::to_string(attempt) : "") + ".json");
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno == EEXIST && attempt < 100) {
            continue;
        }
        if (fd < 0) {
            throw history_error("cannot keep the run in " + folder.string() + ": " + std::strerror(errno), 1);
        }
        try {
            write_to_descriptor(fd, document);
        } catch (const std::exception& e) {
            ::close(fd);
            throw history_error("cannot keep the run in " + file.string() + ": " + e.what(), 1);
        }
        if (::fsync(fd) != 0 || ::close(fd) != 0) {
            throw history_error("cannot keep the run in " + file.string() + ": " + std::strerror(errno), 1);
        }
        return file;
    }
}
