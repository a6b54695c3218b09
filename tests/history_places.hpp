// What the history's tests share: runs to store, and a history of a test's own on either backend.
#pragma once

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "history/store.hpp"
#include "process.hpp"

// The export of a run whose every strategy took `ms` milliseconds (six sorts, spread 1%), at a time
// `minute` minutes after a fixed start, on host `host`, built by `compiler` from `revision`.
std::string run_document(double ms, int minute, const std::string& host = "host-a",
                         const std::string& compiler = "g++ 12", const std::string& revision = "v1.0-1-gabc");

// Every machine's runs, narrowed by `narrow`.
run_filter every(const std::function<void(run_filter&)>& narrow = {});

// `quicksort_bench history ARGS...`.
process_result history(const std::vector<std::string>& args);

// The test server's connection URI for `database` as `user`; a test fails when ctest started no
// server (QSB_TEST_POSTGRES unset).
std::string postgres_uri(const std::string& database, const std::string& user = "postgres");

// SQL run on the test server's `database` as its superuser.
void postgres_exec(const std::string& database, const std::string& sql);

// A history of one test's own: an SQLite file in its scratch folder, or a database of its own on
// the test server, dropped with it.
class history_place {
public:
    history_place(const std::string& backend, const scratch_dir& dir);
    ~history_place();
    history_place(const history_place&) = delete;
    history_place& operator=(const history_place&) = delete;

    const std::string& location() const { return location_; }
    bool postgres() const { return !database_.empty(); }
    // Runs `sql` in the history, its tables named as `runs`, `machines` and `medians`.
    void exec(const std::string& sql) const;

private:
    std::string location_;
    std::string file_;
    std::string database_;
};

// Holds the history's write lock from another connection from the moment it returns, until
// `seconds` have passed or the file `release` exists: SQLite's by a transaction begun IMMEDIATE,
// PostgreSQL's by a SHARE lock on the runs, which lets a run be checked and measured but not stored.
std::thread hold_write_lock(const history_place& place, const scratch_dir& dir, double seconds,
                            const std::string& release = "");

// Both backends, for the suites that run on each.
inline const std::vector<std::string> backends = {"sqlite", "postgresql"};
