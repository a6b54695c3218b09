// What the history's tests share: runs to store, and a history of a test's own on either backend.
#include "history_places.hpp"

#include <gtest/gtest.h>

#include <SQLiteCpp/SQLiteCpp.h>
#include <pqxx/pqxx>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <regex>
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
