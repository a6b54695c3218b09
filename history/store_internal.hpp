// What the history's files share inside: the database behind a store and what an SQLite failure
// means for the user. Private to history/.
#pragma once

#include <SQLiteCpp/SQLiteCpp.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>

#include "history/store.hpp"

namespace history_internal {

namespace fs = std::filesystem;

// FNV-1a as 16 hex digits: stable across builds and machines, which std::hash is not.
std::string stable_hash(const std::string& text);

// Now, in UTC: "2026-12-07T13:09:50Z".
std::string utc_now();

// The file refused (status 2) or the write failed (status 1).
[[noreturn]] void fail(const fs::path& file, const SQLite::Exception& e);

// How long a writer waits for another process's transaction, saying so once.
struct busy_wait {
    std::string file;
    std::chrono::steady_clock::time_point since;
    bool said = false;
};

} // namespace history_internal

struct history_store::impl {
    std::filesystem::path file;
    SQLite::Database db;
    history_internal::busy_wait busy;
    // `name` is what SQLite opens when it is not the file itself (a URI of it).
    impl(const std::filesystem::path& path, int flags, const std::string& name = "")
        : file(path), db(name.empty() ? path.string() : name, flags), busy{path.string(), {}, false} {}
};
