// What the history's tests share: runs to store, a history of a test's own on either backend, and
// another writer holding it.
#include "history_places.hpp"

#include <gtest/gtest.h>

#include <SQLiteCpp/SQLiteCpp.h>
#include <pqxx/pqxx>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <regex>
#include <thread>
#include <sstream>

#include "records/record_json.hpp"

std::string run_document(double ms, int minute, const std::string& host, const std::string& compiler,
                         const std::string& revision) {
    run_context context;
    context.host_name = host;
    context.cpu_model = "model";
    context.logical_cpus = 2;
    context.kernel = "6.1.0";
    context.compiler = compiler;
    context.tbb_version = "2021.8";
    context.source_revision = revision;
    context.program_version = "1.0.0";
    context.memory_bytes = 1 << 30;
    char time[64];
    std::snprintf(time, sizeof time, "2026-12-07T%02d:%02d:00+0000", 10 + minute / 60, minute % 60);
    context.date_time = time;
    context.array_size = 1000;
    context.chunk_size = 100;
    context.run_count = 6;
    const auto sorts = [&] {
        duration_list d;
        for (const double f : {0.99, 1.0, 1.01, 0.995, 1.005, 1.0}) {
            d.push_back(static_cast<std::int64_t>(ms * 1e6 * f));
        }
        return d;
    };
    const benchmark_results r =
        make_results(context, {make_strategy("sequential sort", sorts()), make_strategy("thread sort", sorts()),
                               make_strategy("parallel sort", sorts()),
                               make_strategy("parallel_for parallel sort", sorts())});
    std::ostringstream out;
    write_json(r, out);
    return out.str();
}

run_filter every(const std::function<void(run_filter&)>& narrow) {
    run_filter f;
    f.all_machines = true;
    if (narrow) {
        narrow(f);
    }
    return f;
}

process_result history(const std::vector<std::string>& args) {
    return run_process(bench_binary(), with({"history"}, args));
}

std::string postgres_uri(const std::string& database, const std::string& user) {
    const char* server = std::getenv("QSB_TEST_POSTGRES");
    if (server == nullptr) {
        ADD_FAILURE() << "QSB_TEST_POSTGRES is not set: run the tests through ctest, which starts a throwaway "
                         "PostgreSQL server (tests/postgres.sh)";
        return "postgresql://nowhere/none";
    }
    // QSB_TEST_POSTGRES is "<socket folder>:<port>".
    const std::string text = server;
    const auto colon = text.rfind(':');
    return "postgresql://" + user + "@/" + database + "?host=" + text.substr(0, colon) + "&port=" + text.substr(colon + 1);
}

void postgres_exec(const std::string& database, const std::string& sql) {
    pqxx::connection c(postgres_uri(database));
    pqxx::nontransaction work(c);
    work.exec(sql);
}

history_place::history_place(const std::string& backend, const scratch_dir& dir) {
    if (backend == "sqlite") {
        file_ = dir.file("h.sqlite");
        location_ = file_;
        return;
    }
    static std::atomic<int> made{0};
    database_ = "qsb_" + std::to_string(::getpid()) + "_" + std::to_string(made++);
    postgres_exec("postgres", "CREATE DATABASE " + database_);
    location_ = postgres_uri(database_);
}

history_place::~history_place() {
    if (!database_.empty()) {
        try {
            postgres_exec("postgres", "DROP DATABASE IF EXISTS " + database_ + " WITH (FORCE)");
        } catch (const std::exception&) {
        }
    }
}

void history_place::exec(const std::string& sql) const {
    if (database_.empty()) {
        SQLite::Database db(file_, SQLite::OPEN_READWRITE);
        db.exec(sql);
        return;
    }
    postgres_exec(database_, std::regex_replace(sql, std::regex("\\b(runs|machines|medians)\\b"), "quicksort_bench.$1"));
}

// Holds the history's write lock from another connection from the moment it returns, until
// `seconds` have passed or the file `release` exists: SQLite's by a transaction begun IMMEDIATE,
// PostgreSQL's by a SHARE lock on the runs, which lets a run be checked and measured but not stored.
std::thread hold_write_lock(const history_place& place, const scratch_dir& dir, double seconds,
                            const std::string& release) {
    std::promise<void> held;
    std::future<void> taken = held.get_future();
    std::thread holder([&place, &dir, seconds, release, held = std::move(held)]() mutable {
        if (place.postgres()) {
            pqxx::connection c(place.location());
            pqxx::work w(c);
            w.exec("LOCK TABLE quicksort_bench.runs IN SHARE MODE");
            held.set_value();
            const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
            while (std::chrono::steady_clock::now() < until && (release.empty() || !std::filesystem::exists(release))) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            w.commit();
            return;
        }
        const std::string flag = dir.file("held");
        std::thread tell([&held, flag] {
            while (!std::filesystem::exists(flag)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            held.set_value();
        });
        run_process("/usr/bin/python3",
                    {"-c", "import os, sqlite3, time, sys; c = sqlite3.connect(sys.argv[1], isolation_level=None); "
                           "c.execute('BEGIN IMMEDIATE'); open(sys.argv[2], 'w').close(); "
                           "until = time.time() + float(sys.argv[3])\n"
                           "while time.time() < until and not (sys.argv[4] and os.path.exists(sys.argv[4])): "
                           "time.sleep(0.02)",
                     place.location(), flag, std::to_string(seconds), release});
        tell.join();
    });
    taken.wait();
    return holder;
}

