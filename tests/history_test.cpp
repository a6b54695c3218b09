// The history: real SQLite files in a scratch folder, the binary for what users type.
#include <gtest/gtest.h>

#include <SQLiteCpp/SQLiteCpp.h>
#include <nlohmann/json.hpp>
#include <unistd.h>

#include <functional>
#include <sstream>

#include "history/store.hpp"
#include "process.hpp"
#include "records/pooling.hpp"
#include "report/exports.hpp"
#include "records/json_reader.hpp"
#include "report/trend_report.hpp"

namespace {

// The export of a run whose every strategy took `ms` milliseconds (six sorts, spread 1%), at a time
// `minute` minutes after a fixed start.
std::string run_document(double ms, int minute, const std::string& host = "host-a") {
    run_context context;
    context.host_name = host;
    context.cpu_model = "model";
    context.logical_cpus = 2;
    context.kernel = "6.1.0";
    context.compiler = "g++ 12";
    context.tbb_version = "2021.8";
    context.memory_bytes = 1 << 30;
    char time[32];
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

// Every machine's runs, narrowed by `narrow`.
run_filter every(const std::function<void(run_filter&)>& narrow = {}) {
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

} // namespace

TEST(History, RoundTripDuplicatesAndFilters) {
    const scratch_dir dir;
    const std::string file = dir.file("h.sqlite");
    {
        history_store store(file, history_mode::write);
        const std::string a = run_document(100, 0);
        const auto first = store.record(parse_export(a).sweep, nlohmann::json::parse(a), "before");
        ASSERT_TRUE(first);
        // The same document, however indented, is stored once.
        EXPECT_FALSE(store.record(parse_export(a).sweep, nlohmann::json::parse(nlohmann::json::parse(a).dump(4)), "again"));
        const std::string b = run_document(120, 5);
        ASSERT_TRUE(store.record(parse_export(b).sweep, nlohmann::json::parse(b), "after"));
        const std::string other = run_document(50, 10, "host-b");
        ASSERT_TRUE(store.record(parse_export(other).sweep, nlohmann::json::parse(other), "elsewhere"));

        run_filter machine_a;
        machine_a.machine = identify_machine(parse_export(a).sweep.steps[0].results.context).name;
        const std::vector<stored_run> mine = store.list(machine_a);
        ASSERT_EQ(mine.size(), 2u) << "series never mix machines";
        EXPECT_EQ(mine[0].label, "before");
        EXPECT_EQ(mine[1].label, "after");
        EXPECT_EQ(mine[0].run_time, "2026-12-07T10:00:00+0000");
        EXPECT_EQ(mine[0].run_epoch, 1796637600);
        EXPECT_EQ(mine[0].array_size, 1000u);
        EXPECT_EQ(store.list({}).size(), 1u) << "by default the newest run's machine";
        EXPECT_EQ(store.list(every()).size(), 3u);
        EXPECT_EQ(store.list(every([](run_filter& f) { f.label = "after"; })).at(0).id, mine[1].id);
        EXPECT_EQ(store.list(every([](run_filter& f) { f.since_epoch = 1796637600 + 60; })).size(), 2u);
        EXPECT_EQ(store.list(every([](run_filter& f) { f.last = 1; })).at(0).label, "elsewhere");

        const auto medians = store.medians({mine[1].id});
        ASSERT_EQ(medians.size(), 4u);
        EXPECT_EQ(medians[0].median_ns, 120'000'000);
        EXPECT_EQ(medians[0].count, 6u);
        ASSERT_TRUE(medians[0].low_ns);
        EXPECT_EQ(*medians[0].low_ns, 118'800'000);
        EXPECT_EQ(nlohmann::json::parse(store.document(mine[0].id)), nlohmann::json::parse(a));
        EXPECT_EQ(store.resolve("latest"), store.list(every()).back().id);
        EXPECT_EQ(store.resolve("before"), mine[0].id);
        EXPECT_EQ(store.resolve(std::to_string(mine[1].id)), mine[1].id);
        try {
            store.resolve("nobody");
            ADD_FAILURE() << "an unknown label";
        } catch (const history_error& e) {
            EXPECT_EQ(e.status(), 2);
        }
    }
    {
        // A run of processes is stored with its median over the processes' medians.
        std::vector<benchmark_results> processes;
        for (const double ms : {100.0, 130.0, 90.0, 95.0, 140.0, 85.0}) {
            processes.push_back(parse_result_record(run_document(ms, 20)));
        }
        const benchmark_results pooled = pool_rounds(processes);
        std::ostringstream doc;
        write_json(pooled, doc);
        history_store store(file, history_mode::write);
        const auto id = store.record(parse_export(doc.str()).sweep, nlohmann::json::parse(doc.str()), "processes");
        ASSERT_TRUE(id);
        run_filter newest;
        newest.last = 1;
        EXPECT_EQ(store.list(newest).at(0).kind, "processes") << "in the series of plain runs, said what it is";
        const auto medians = store.medians({*id});
        EXPECT_EQ(medians.at(0).cpus, 0u);
        EXPECT_EQ(medians.at(0).median_ns, 97'500'000) << "of 85 90 95 100 130 140";
        EXPECT_EQ(medians.at(0).count, 6u) << "processes";
        EXPECT_EQ(*medians.at(0).low_ns, 85'000'000);
    }
    EXPECT_EQ(epoch_of("2026-12-07T11:00:00+01:00"), epoch_of("2026-12-07T10:00:00Z"));
    EXPECT_FALSE(epoch_of("2026-02-30T10:00:00Z")) << "no such day";
    EXPECT_FALSE(parse_filter_date("yesterday"));
    EXPECT_EQ(parse_filter_date("2026-12-07"), epoch_of("2026-12-07T00:00:00Z"));
}

TEST(History, RefusesWhatIsNotItsOwnAndNeverTouchesIt) {
    const scratch_dir dir;
    const auto refused = [](const std::string& file) {
        try {
            history_store store(file, history_mode::write);
        } catch (const history_error& e) {
            return e.status();
        }
        return 0;
    };
    write_text(dir.file("text.sqlite"), "these are not the pages of a database, but they are somebody's\n");
    EXPECT_EQ(refused(dir.file("text.sqlite")), 2);
    EXPECT_EQ(read_text(dir.file("text.sqlite")), "these are not the pages of a database, but they are somebody's\n");
    {
        SQLite::Database other(dir.file("other.sqlite"), SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE);
        other.exec("CREATE TABLE notes (text TEXT)");
    }
    const std::string before = read_text(dir.file("other.sqlite"));
    EXPECT_EQ(refused(dir.file("other.sqlite")), 2);
    EXPECT_EQ(read_text(dir.file("other.sqlite")), before) << "another program's database is not modified";
    {
        history_store ours(dir.file("newer.sqlite"), history_mode::write);
    }
    {
        SQLite::Database newer(dir.file("newer.sqlite"), SQLite::OPEN_READWRITE);
        newer.exec("PRAGMA user_version=99");
    }
    const std::string newer_bytes = read_text(dir.file("newer.sqlite"));
    const process_result r = history({"list", "--history", dir.file("newer.sqlite")});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_NE(r.err.find("written by a newer quicksort_bench (schema 99"), std::string::npos) << r.err;
    EXPECT_EQ(read_text(dir.file("newer.sqlite")), newer_bytes);
    // A damaged file: a valid header over pages that are garbage.
    {
        history_store ours(dir.file("damaged.sqlite"), history_mode::write);
        const std::string doc = run_document(100, 0);
        ours.record(parse_export(doc).sweep, doc, "");
    }
    std::string damaged = read_text(dir.file("damaged.sqlite"));
    for (std::size_t k = 4096; k < damaged.size(); ++k) {
        damaged[k] = static_cast<char>(k * 7);
    }
    write_text(dir.file("damaged.sqlite"), damaged);
    const process_result d = history({"list", "--history", dir.file("damaged.sqlite")});
    EXPECT_EQ(d.exit_code, 2) << d.err;
    EXPECT_EQ(std::count(d.err.begin(), d.err.end(), '\n'), 1) << d.err;
}

TEST(History, TwoWritersAtOnceBothLand) {
    const scratch_dir dir;
    const std::string file = dir.file("h.sqlite");
    std::vector<std::string> inputs;
    for (int k = 0; k < 8; ++k) {
        inputs.push_back(dir.file("run" + std::to_string(k) + ".json"));
        write_text(inputs.back(), run_document(100 + k, k));
    }
    // Two processes, each importing four runs one transaction at a time, into a file neither
    // created; started by a shell, so that this test itself runs no threads.
    const auto import = [&](std::size_t first) {
        std::string command = "'" + bench_binary() + "' history import --history '" + file + "'";
        for (std::size_t k = first; k < inputs.size(); k += 2) {
            command += " '" + inputs[k] + "'";
        }
        return command + " >/dev/null";
    };
    const process_result both = run_process(
        "/bin/bash", {"-c", import(0) + " & first=$!; " + import(1) + " & second=$!; "
                            "wait $first; a=$?; wait $second; b=$?; echo \"$a $b\""});
    EXPECT_EQ(both.out, "0 0\n") << both.err;
    history_store store(file, history_mode::read);
    EXPECT_EQ(store.count(), 8u);

    // A writer that holds the history makes the next one wait, and say so.
    const process_result waited = run_process(
        "/bin/bash", {"-c", "/usr/bin/python3 -c \"import sqlite3, time, sys; c = sqlite3.connect(sys.argv[1]); "
                            "c.execute('BEGIN IMMEDIATE'); print('held', flush=True); time.sleep(1.5)\" '" + file +
                            "' & sleep 0.5; " + import(1).substr(0, import(1).size() - 11) + " '" + inputs[1] +
                            "' 2>&1 >/dev/null; wait"});
    EXPECT_NE(waited.out.find("quicksort_bench: waiting for the history " + file + ", which another process is writing"),
              std::string::npos) << waited.out << waited.err;
}

TEST(History, CommandsImportEveryVersionTrendAndRefuseBadInput) {
    const scratch_dir dir;
    const std::string file = dir.file("h.sqlite");
    const process_result empty = history({"list", "--history", file});
    EXPECT_EQ(empty.exit_code, 0);
    EXPECT_NE(empty.out.find("holds no runs yet"), std::string::npos) << empty.out;
    EXPECT_FALSE(std::filesystem::exists(file)) << "listing creates nothing";

    // Thirty runs, the middle ten twice as slow; and the same document in format versions 1 and 2.
    std::vector<std::string> args = {"import", "--history", file, "--label", "seeded"};
    for (int k = 0; k < 30; ++k) {
        const double ms = (k >= 10 && k < 20 ? 200 : 100) * (1 + 0.01 * ((k * 7) % 5 - 2));
        args.push_back(dir.file("run" + std::to_string(k) + ".json"));
        write_text(args.back(), run_document(ms, k));
    }
    nlohmann::json old = nlohmann::json::parse(run_document(100, 40));
    old["format_version"] = 2;
    old["context"].erase("processes");
    write_text(dir.file("v2.json"), old.dump());
    old.erase("format_version");
    old["context"]["date_time"] = "2026-12-07T10:41:00+0000";
    write_text(dir.file("v1.json"), old.dump());
    args.insert(args.end(), {dir.file("v2.json"), dir.file("v1.json"), dir.file("run3.json")});
    const process_result imported = history(args);
    EXPECT_EQ(imported.exit_code, 0) << imported.err;
    EXPECT_NE(imported.out.find("v1.json as run 32"), std::string::npos) << imported.out;
    EXPECT_NE(imported.out.find("skipped " + dir.file("run3.json") + ": already stored"), std::string::npos);

    const process_result trend =
        history({"trend", "--history", file, "--strategy", "parallel sort", "--export-json", dir.file("t.json"),
                 "--export-html", dir.file("t.html"), "--chart", dir.file("t.svg"), "--export-markdown", dir.file("t.md")});
    EXPECT_EQ(trend.exit_code, 0) << trend.err;
    const nlohmann::json t = nlohmann::json::parse(read_text(dir.file("t.json")));
    ASSERT_EQ(t["series"].size(), 1u);
    EXPECT_EQ(t["series"][0]["points"].size(), 32u);
    const auto& changes = t["series"][0]["change_points"];
    ASSERT_EQ(changes.size(), 2u) << trend.out;
    EXPECT_EQ(changes[0]["index"], 10);
    EXPECT_NEAR(changes[0]["change"].get<double>(), 1.0, 0.05);
    EXPECT_EQ(changes[1]["index"], 20);
    EXPECT_NE(trend.out.find("change at run 11"), std::string::npos) << trend.out;
    EXPECT_NE(read_text(dir.file("t.html")).find("class=\"change\""), std::string::npos);
    EXPECT_NE(read_text(dir.file("t.svg")).find("class=\"band\""), std::string::npos);

    const process_result day = history({"list", "--history", file, "--until", "2026-12-07"});
    // The file, a heading, the runs, their one machine.
    EXPECT_EQ(std::count(day.out.begin(), day.out.end(), '\n'), 2 + 32 + 1) << "the whole day: " << day.err;
    const process_result listed = history({"list", "--history", file, "--last", "2"});
    EXPECT_EQ(std::count(listed.out.begin(), listed.out.end(), '\n'), 2 + 2 + 1) << listed.out;
    const process_result compared = history({"compare", "--history", file, "1", "latest"});
    EXPECT_EQ(compared.exit_code, 0) << compared.err;
    EXPECT_EQ(history({"compare", "--history", file, "latest", "1"}).out.rfind("Comparing run 32 (base) with run 1", 0),
              0u) << "the base as given, though it is the newer run";
    EXPECT_NE(history({"list", "--help"}).out.find("\nUsage: quicksort_bench history list [OPTIONS]\n"), std::string::npos);
    EXPECT_NE(compared.out.find("too few processes to decide"), std::string::npos) << compared.out;
    const process_result exported = history({"export", "--history", file, "--since", "2026-12-07T10:35:00"});
    EXPECT_EQ(std::count(exported.out.begin(), exported.out.end(), '\n'), 2) << "runs 40 and 41 minutes in";
    EXPECT_EQ(nlohmann::json::parse(exported.out.substr(0, exported.out.find('\n')))["document"]["context"]["array_size"],
              1000);

    // The JSON Lines of `history export` import back with their labels; a stored run that cannot be
    // read is named and skipped.
    const process_result all_lines = history({"export", "--history", file});
    write_text(dir.file("all.jsonl"), all_lines.out);
    const process_result again = history({"import", "--history", dir.file("copy.sqlite"), dir.file("all.jsonl")});
    EXPECT_EQ(again.exit_code, 0) << again.err;
    EXPECT_EQ(history({"export", "--history", dir.file("copy.sqlite")}).out, all_lines.out);
    {
        SQLite::Database db(dir.file("copy.sqlite"), SQLite::OPEN_READWRITE);
        db.exec("UPDATE runs SET document = '{\"cut' WHERE id = 2");
    }
    const process_result damaged = history({"export", "--history", dir.file("copy.sqlite")});
    EXPECT_EQ(damaged.exit_code, 1);
    EXPECT_NE(damaged.err.find("run 2: its stored document is damaged"), std::string::npos) << damaged.err;
    EXPECT_EQ(std::count(damaged.out.begin(), damaged.out.end(), '\n'), 31) << "every other run";

    // Another machine's run: left out, and said so; named by its host name alone, no wildcards.
    write_text(dir.file("other.json"), run_document(100, 50, "host%b"));
    EXPECT_EQ(history({"import", "--history", file, dir.file("other.json")}).exit_code, 0);
    const process_result mine = history({"list", "--history", file, "--machine", "host-a"});
    EXPECT_NE(mine.err.find("1 run of 1 other machine not shown"), std::string::npos) << mine.err;
    EXPECT_EQ(history({"list", "--history", file, "--machine", "host%b"}).exit_code, 0);
    nlohmann::json yesterday = nlohmann::json::parse(run_document(100, 51));
    yesterday["context"]["date_time"] = "yesterday";
    write_text(dir.file("yesterday.json"), yesterday.dump());

    const struct {
        std::vector<std::string> args;
        const char* says;
    } refusals[] = {
        {{"list", "--history", file, "--machine", "host%"}, "no stored machine is called 'host%'"},
        {{"list", "--history", file, "--machine", ""}, "--machine: names no machine"},
        {{"list", "--history", file, "--machine", "host-a", "--all-machines"}, "give one of them"},
        {{"compare", "--history", file, "33", "latest"}, "are both run 33"},
        {{"import", "--history", file, dir.file("yesterday.json")},
         "context.date_time: 'yesterday' is not a date and time"},
        {{"import", "--history", file, "--label", "latest", dir.file("other.json")}, "already names a run"},
        {{"import", "--history", file, "--label", "a\x1b[2Jb", dir.file("other.json")}, "control characters"},
        {{"compare", "--history", file, "1", "99"}, "no stored run is '99'"},
        {{"list", "--history", file, "--label", "nobody"}, "no stored run matches the filters given"},
        {{"list", "--history", file, "--since", "2026-13-01"}, "--since: '2026-13-01' is not a date"},
        {{"list", "--history", file, "--last", "0"}, "--last: must be between 1 and"},
        {{"trend", "--history", file, "--strategy", "bogo sort"}, "no selected run measured 'bogo sort'"},
        {{"trend", "--history", dir.file("none.sqlite")}, "there is no history at"},
        {{"import", "--history", file, dir.file("missing.json")}, "missing.json"},
    };
    for (const auto& r : refusals) {
        const process_result p = history(r.args);
        EXPECT_EQ(p.exit_code, 2) << r.says << ": " << p.err;
        EXPECT_NE(p.err.find(r.says), std::string::npos) << p.err;
        EXPECT_EQ(std::count(p.err.begin(), p.err.end(), '\n'), 1) << p.err;
    }
}

// A history that cannot take the run is refused before any sort; one that fails only once the run
// is done keeps the report, the exports and the record itself.
TEST(History, ARunIsRecordedOrRefusedBeforeItsSortsAndNeverLost) {
    const scratch_dir dir;
    std::filesystem::create_directory(dir.file("folder.sqlite"));
    write_text(dir.file("text.sqlite"), "just some text, not a database\n");
    write_text(dir.file("truncated.sqlite"), std::string("SQLite format 3\0", 16) + std::string(100, '\x7f'));
    {
        SQLite::Database other(dir.file("other.sqlite"), SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE);
        other.exec("CREATE TABLE runs (x)");
    }
    const struct {
        std::string history;
        std::string says;
    } refused[] = {
        {dir.file("folder.sqlite"), "not a quicksort_bench history (not a regular file)"},
        {dir.file("text.sqlite"), "not a quicksort_bench history"},
        {dir.file("truncated.sqlite"), "not a quicksort_bench history"},
        {dir.file("other.sqlite"), "an SQLite database of another program"},
        {dir.file("typo/dir/h.sqlite"), "the folder " + dir.file("typo/dir") + " of the history"},
        {"postgresql://user@host:5433/db", "PostgreSQL"},
    };
    for (const auto& c : refused) {
        const process_result r = run_process(bench_binary(), {"--size", "2000", "--runs", "2", "--record", "--history",
                                                              c.history, "--export-json", dir.file("r.json")});
        EXPECT_EQ(r.exit_code, 2) << c.history << ": " << r.err;
        EXPECT_EQ(r.out.find("Results:"), std::string::npos) << c.history << ": nothing is measured";
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.history << ": " << r.err;
        EXPECT_FALSE(std::filesystem::exists(dir.file("r.json"))) << c.history;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("typo"))) << "a missing folder is not created";

    // The history turns into something else while the run measures: the run is kept for later.
    ::setenv("XDG_STATE_HOME", dir.file("state").c_str(), 1);
    run_options corrupt;
    corrupt.marker = "Quicksort just creating threads: Complete";
    corrupt.at_marker = [&] { write_text(dir.file("h.sqlite"), "overwritten meanwhile\n"); };
    const process_result r = run_process(bench_binary(), {"--size", "2000000", "--runs", "3", "--record", "--history",
                                                          dir.file("h.sqlite"), "--label", "it's mine",
                                                          "--export-json", dir.file("r.json")},
                                         corrupt);
    ::unsetenv("XDG_STATE_HOME");
    EXPECT_EQ(r.exit_code, 1) << r.err;
    EXPECT_NE(r.out.find("Results:"), std::string::npos);
    EXPECT_NO_THROW(read_export_file(dir.file("r.json")));
    EXPECT_NE(r.err.find("quicksort_bench: error: the run was not recorded"), std::string::npos) << r.err;
    const std::filesystem::path kept_in = dir.file("state/quicksort_bench/unrecorded");
    ASSERT_TRUE(std::filesystem::is_directory(kept_in)) << r.err;
    const auto kept = std::filesystem::directory_iterator(kept_in)->path();
    EXPECT_EQ(std::filesystem::status(kept).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_NE(r.err.find("history import --history " + dir.file("h.sqlite") + " --label 'it'\\''s mine' " +
                         kept.string()), std::string::npos) << r.err;
    std::filesystem::remove(dir.file("h.sqlite"));
    const process_result later = history({"import", "--history", dir.file("h.sqlite"), "--label", "it's mine",
                                          kept.string()});
    EXPECT_EQ(later.exit_code, 0) << later.err;

    const process_result label_alone = run_process(bench_binary(), {"--label", "x"});
    EXPECT_EQ(label_alone.exit_code, 2);
    EXPECT_NE(label_alone.err.find("--label belongs to --record"), std::string::npos) << label_alone.err;
}

TEST(History, AChangeIsWeakWhenTheIntervalsEitherSideOverlap) {
    std::vector<trend_point> points;
    for (int k = 0; k < 20; ++k) {
        const std::int64_t median = k < 10 ? 100 : 120;
        // Wide intervals: every one reaches over the step.
        points.push_back({k + 1, "", "", median + k % 2, median - 30, median + 30});
    }
    const auto wide = changes_of(points, change_point_settings{});
    ASSERT_EQ(wide.size(), 1u);
    EXPECT_EQ(wide[0].found.index, 10u);
    EXPECT_EQ(wide[0].run_id, 11);
    EXPECT_TRUE(wide[0].weak);
    for (auto& p : points) {
        p.low_ns = p.median_ns - 2;
        p.high_ns = p.median_ns + 2;
    }
    const auto narrow = changes_of(points, change_point_settings{});
    ASSERT_EQ(narrow.size(), 1u);
    EXPECT_FALSE(narrow[0].weak);
}

// A history written by the first schema: read as it is, upgraded on its first write, its runs of
// processes then in the series of plain runs.
TEST(History, TheFirstSchemaIsReadAsItIsAndUpgradedWhenWritten) {
    const scratch_dir dir;
    const std::string file = dir.file("v1.sqlite");
    std::filesystem::copy_file(std::string(QSB_TEST_DATA) + "/history-v1.sqlite", file);
    const auto kinds = [&] {
        history_store store(file, history_mode::read);
        std::vector<std::string> found;
        for (const auto& r : store.list(every())) {
            found.push_back(r.kind + "/" + std::to_string(r.cpus));
        }
        return found;
    };
    EXPECT_EQ(kinds(), (std::vector<std::string>{"run/2", "sweep/2", "sweep/2"})) << "as the first schema stored them";
    { const history_store upgraded(file, history_mode::write); }
    EXPECT_EQ(kinds(), (std::vector<std::string>{"run/2", "processes/2", "sweep/2"}));
    SQLite::Database db(file);
    EXPECT_EQ(db.execAndGet("PRAGMA user_version").getInt(), 2);
    EXPECT_EQ(db.execAndGet("SELECT count(*) FROM medians WHERE run_id = 2 AND cpus = 0").getInt(), 4);
    EXPECT_EQ(db.execAndGet("SELECT count(*) FROM medians WHERE run_id = 3 AND cpus > 0").getInt(), 8);
    const process_result trend = history({"trend", "--history", file, "--strategy", "parallel sort"});
    EXPECT_EQ(trend.exit_code, 0) << trend.err;
    EXPECT_NE(trend.out.find("  run 1 "), std::string::npos) << trend.out;
    EXPECT_NE(trend.out.find("  run 2 "), std::string::npos) << trend.out;
    EXPECT_NE(trend.out.find("  too few runs to look for change points (2; at least 10, 5 a side)"), std::string::npos)
        << trend.out;
    std::size_t series = 0;
    for (std::size_t at = trend.out.find("\nparallel sort: "); at != std::string::npos;
         at = trend.out.find("\nparallel sort: ", at + 1)) {
        ++series;
    }
    EXPECT_EQ(series, 3u) << "one series of runs 1 and 2, and one per step of the sweep:\n" << trend.out;
}

// A history in a folder the reader cannot write: read as it stands, or refused in one line with
// the remedy while its writer has not finished; never "attempt to write".
TEST(History, AHistoryTheUserCanOnlyReadIsRead) {
    const scratch_dir dir;
    std::filesystem::create_directory(dir.file("shared"));
    const std::string file = dir.file("shared/h.sqlite");
    std::filesystem::copy_file(std::string(QSB_TEST_DATA) + "/history-v1.sqlite", file);
    { const history_store upgraded(file, history_mode::write); }
    using std::filesystem::perms;
    std::filesystem::permissions(dir.path, perms::owner_all | perms::group_exec | perms::others_exec);
    std::filesystem::permissions(dir.file("shared"), perms::owner_read | perms::owner_exec | perms::group_read |
                                                         perms::group_exec | perms::others_read | perms::others_exec);
    std::filesystem::permissions(file, perms::owner_read | perms::group_read | perms::others_read);
    // Root may write anywhere: another user reads it then.
    const auto list = [&] {
        const std::vector<std::string> args = {"history", "list", "--history", file};
        return ::geteuid() == 0 ? run_process("/usr/sbin/runuser", with({"-u", "nobody", "--", bench_binary()}, args))
                                : run_process(bench_binary(), args);
    };
    const process_result read = list();
    EXPECT_EQ(read.exit_code, 0) << read.err;
    EXPECT_NE(read.out.find("processes"), std::string::npos) << read.out;
    const process_result denied = run_process(bench_binary(), {"--size", "2000", "--runs", "2", "--record", "--history", file});
    if (::geteuid() != 0) {
        EXPECT_EQ(denied.exit_code, 2) << denied.err;
        EXPECT_NE(denied.err.find("read-only"), std::string::npos) << denied.err;
    }
    std::filesystem::permissions(dir.file("shared"), perms::owner_all);
    write_text(file + "-wal", "");
    std::filesystem::permissions(dir.file("shared"), perms::owner_read | perms::owner_exec | perms::others_read |
                                                         perms::others_exec);
    const process_result busy = list();
    EXPECT_EQ(busy.exit_code, 2);
    EXPECT_NE(busy.err.find("while it is being written"), std::string::npos) << busy.err;
    EXPECT_EQ(busy.err.find("attempt to write"), std::string::npos) << busy.err;
    std::filesystem::permissions(dir.file("shared"), perms::owner_all);
}

// A history names the user's machines, CPUs and labels: its default folders are made 0700 and its
// files 0600, whatever the umask; without HOME the password database's home stands in.
TEST(History, DefaultPlacesArePrivateToTheUser) {
    const scratch_dir dir;
    ::setenv("XDG_DATA_HOME", dir.file("data").c_str(), 1);
    const process_result r =
        run_process(bench_binary(), {"--size", "2000", "--runs", "2", "--record", "--label", "private"});
    const std::filesystem::path file = default_history_path();
    ::unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(file, dir.path / "data/quicksort_bench/history.sqlite");
    using std::filesystem::perms;
    for (const auto& folder : {dir.path / "data", dir.path / "data/quicksort_bench"}) {
        EXPECT_EQ(std::filesystem::status(folder).permissions(), perms::owner_all) << folder;
    }
    EXPECT_EQ(std::filesystem::status(file).permissions(), perms::owner_read | perms::owner_write);

    const std::string home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
    ::unsetenv("HOME");
    const std::filesystem::path fallback = home_folder();
    if (!home.empty()) {
        ::setenv("HOME", home.c_str(), 1);
    }
    EXPECT_TRUE(fallback.is_absolute()) << "the password database's home, never the working folder";
}
