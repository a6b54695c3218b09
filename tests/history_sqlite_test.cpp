// The SQLite history as a file: what is not ours refused untouched, an older schema upgraded, a
// history this user can only read, private places, waits said, runs refused before they measure.
#include <gtest/gtest.h>

#include <SQLiteCpp/SQLiteCpp.h>
#include <nlohmann/json.hpp>
#include <unistd.h>

#include <tuple>

#include "history_places.hpp"
#include "records/json_reader.hpp"
#include "report/trend_report.hpp"

TEST(SqliteHistory, RefusesWhatIsNotItsOwnAndNeverTouchesIt) {
    const scratch_dir dir;
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
    EXPECT_HAS(r.err, "written by a newer quicksort_bench (schema 99") << r.err;
    EXPECT_EQ(read_text(dir.file("newer.sqlite")), newer_bytes);
    // A damaged file: a valid header over pages that are garbage.
    {
        history_store ours(dir.file("damaged.sqlite"), history_mode::write);
        const std::string doc = run_document(100, 0);
        ours.record(parse_export(doc).sweep, nlohmann::json::parse(doc), "");
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

// A history that cannot take the run is refused before any sort; one that fails only once the run
// is done keeps the report, the exports and the record itself.
TEST(SqliteHistory, ARunIsRecordedOrRefusedBeforeItsSortsAndNeverLost) {
    const scratch_dir dir;
    std::filesystem::create_directory(dir.file("folder.sqlite"));
    write_text(dir.file("text.sqlite"), "just some text, not a database\n");
    write_text(dir.file("truncated.sqlite"), std::string("SQLite format 3\0", 16) + std::string(100, '\x7f'));
    {
        SQLite::Database other(dir.file("other.sqlite"), SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE);
        other.exec("CREATE TABLE runs (x)");
    }
    const std::string other_bytes = read_text(dir.file("other.sqlite"));
    const struct {
        std::string history;
        std::string says;
    } refused[] = {
        {dir.file("folder.sqlite"), "not a quicksort_bench history (not a regular file)"},
        {dir.file("text.sqlite"), "not a quicksort_bench history"},
        {dir.file("truncated.sqlite"), "not a quicksort_bench history"},
        {dir.file("other.sqlite"), "an SQLite database of another program"},
        {dir.file("typo/dir/h.sqlite"), "the folder " + dir.file("typo/dir") + " of the history"},
    };
    for (const auto& c : refused) {
        const process_result r = run_process(bench_binary(), {"--size", "2000", "--runs", "2", "--record", "--history",
                                                              c.history, "--export-json", dir.file("r.json")});
        EXPECT_EQ(r.exit_code, 2) << c.history << ": " << r.err;
        EXPECT_LACKS(r.out, "Results:") << c.history << ": nothing is measured";
        EXPECT_HAS(r.err, c.says) << c.history << ": " << r.err;
        EXPECT_FALSE(std::filesystem::exists(dir.file("r.json"))) << c.history;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("typo"))) << "a missing folder is not created";
    EXPECT_EQ(read_text(dir.file("text.sqlite")), "just some text, not a database\n");
    EXPECT_EQ(read_text(dir.file("other.sqlite")), other_bytes) << "another program's database is not modified";

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
    EXPECT_HAS(r.out, "Results:");
    EXPECT_NO_THROW(read_export_file(dir.file("r.json")));
    EXPECT_HAS(r.err, "quicksort_bench: error: the run was not recorded") << r.err;
    const std::filesystem::path kept_in = dir.file("state/quicksort_bench/unrecorded");
    ASSERT_TRUE(std::filesystem::is_directory(kept_in)) << r.err;
    const auto kept = std::filesystem::directory_iterator(kept_in)->path();
    EXPECT_EQ(std::filesystem::status(kept).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_HAS(r.err, "history import --history " + dir.file("h.sqlite") + " --label 'it'\\''s mine' " + kept.string()) << r.err;
    std::filesystem::remove(dir.file("h.sqlite"));
    const process_result later = history({"import", "--history", dir.file("h.sqlite"), "--label", "it's mine",
                                          kept.string()});
    EXPECT_EQ(later.exit_code, 0) << later.err;

    const process_result label_alone = run_process(bench_binary(), {"--label", "x"});
    EXPECT_EQ(label_alone.exit_code, 2);
    EXPECT_HAS(label_alone.err, "--label belongs to --record") << label_alone.err;
}

TEST(SqliteHistory, AChangeIsWeakWhenTheIntervalsEitherSideOverlap) {
    std::vector<trend_point> points;
    for (int k = 0; k < 20; ++k) {
        const std::int64_t median = k < 10 ? 100 : 120;
        // Wide intervals: every one reaches over the step.
        points.push_back({k + 1, "", "", median + k % 2, median - 30, median + 30, 1, {}});
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
// processes then in the series of plain runs. Pushed before its upgrade, its runs are read anew;
// pushed after, each is copied as it stands there: its columns, its medians, its document.
TEST(SqliteHistory, TheFirstSchemaIsReadAsItIsAndUpgradedWhenWritten) {
    const scratch_dir dir;
    const std::string file = dir.file("v1.sqlite");
    std::filesystem::copy_file(std::string(QSB_TEST_DATA) + "/history-v1.sqlite", file);
    const auto kinds = [&](const std::string& of) {
        history_store store(of, history_mode::read);
        std::vector<std::string> found;
        for (const auto& r : store.list(every())) {
            found.push_back(r.kind + "/" + std::to_string(r.cpus) + " " + r.compiler + " " + r.machine_id);
        }
        return found;
    };
    const auto push = [&](const std::string& to) {
        const process_result pushed = history({"push", "--history", file, "--to", to});
        EXPECT_EQ(pushed.exit_code, 0) << pushed.err;
        return to;
    };
    const std::vector<std::string> first = kinds(file);
    ASSERT_EQ(first.size(), 3u);
    EXPECT_EQ(first[1].substr(0, 8), "sweep/2 ") << "as the first schema stored them";
    const std::vector<std::string> read_anew = kinds(push(dir.file("before.sqlite")));
    { const history_store upgraded(file, history_mode::write); }
    const std::vector<std::string> upgraded = kinds(file);
    EXPECT_EQ(upgraded[1].substr(0, 12), "processes/2 ");
    EXPECT_EQ(read_anew, upgraded) << "the same kinds, builds and machines whether read anew or upgraded";

    history_store source(file, history_mode::read);
    history_store copy(push(dir.file("after.sqlite")), history_mode::read);
    const auto there = source.list(every());
    const auto here = copy.list(every());
    ASSERT_EQ(here.size(), there.size());
    const auto medians_of = [](history_store& h, std::int64_t id) {
        std::vector<std::string> found;
        for (const auto& m : h.medians({id})) {
            found.push_back(m.strategy + " " + std::to_string(m.cpus) + " " + std::to_string(m.median_ns) + " " +
                            std::to_string(m.low_ns.value_or(-1)) + " " + std::to_string(m.high_ns.value_or(-1)) +
                            " " + std::to_string(m.count));
        }
        return found;
    };
    for (std::size_t k = 0; k < here.size(); ++k) {
        EXPECT_EQ(copy.document(here[k].id), source.document(there[k].id));
        EXPECT_EQ(medians_of(copy, here[k].id), medians_of(source, there[k].id));
        EXPECT_EQ(std::tie(here[k].run_time, here[k].label, here[k].kind, here[k].cpus, here[k].tbb_version),
                  std::tie(there[k].run_time, there[k].label, there[k].kind, there[k].cpus, there[k].tbb_version));
    }
    SQLite::Database db(file);
    EXPECT_EQ(db.execAndGet("PRAGMA user_version").getInt(), 3);
    // The compiler, kernel and oneTBB went from the machine to each run; the machine is its hardware.
    EXPECT_EQ(db.execAndGet("SELECT count(*) FROM runs WHERE compiler LIKE 'g++%' AND kernel <> ''").getInt(), 3);
    EXPECT_EQ(db.execAndGet("SELECT count(*) FROM machines").getInt(), 1);
    run_context hardware;
    hardware.host_name = db.execAndGet("SELECT host_name FROM machines").getString();
    hardware.cpu_model = db.execAndGet("SELECT cpu_model FROM machines").getString();
    hardware.logical_cpus = static_cast<unsigned>(db.execAndGet("SELECT logical_cpus FROM machines").getInt());
    hardware.memory_bytes = static_cast<std::uint64_t>(db.execAndGet("SELECT memory_bytes FROM machines").getInt64());
    EXPECT_EQ(db.execAndGet("SELECT DISTINCT machine_id FROM runs").getString(), identify_machine(hardware).id);
    EXPECT_EQ(db.execAndGet("SELECT count(*) FROM medians WHERE run_id = 2 AND cpus = 0").getInt(), 4);
    EXPECT_EQ(db.execAndGet("SELECT count(*) FROM medians WHERE run_id = 3 AND cpus > 0").getInt(), 8);
    const process_result trend = history({"trend", "--history", file, "--strategy", "parallel sort"});
    EXPECT_EQ(trend.exit_code, 0) << trend.err;
    EXPECT_HAS(trend.out, "  run 1 ") << trend.out;
    EXPECT_HAS(trend.out, "  run 2 ") << trend.out;
    EXPECT_HAS(trend.out, "  too few runs to look for change points (2; at least 10, 5 a side)") << trend.out;
    std::size_t series = 0;
    for (std::size_t at = trend.out.find("\nparallel sort: "); at != std::string::npos;
         at = trend.out.find("\nparallel sort: ", at + 1)) {
        ++series;
    }
    EXPECT_EQ(series, 3u) << "one series of runs 1 and 2, and one per step of the sweep:\n" << trend.out;
}

// A history in a folder the reader cannot write: read as it stands, or refused in one line with
// the remedy while its writer has not finished; never "attempt to write".
TEST(SqliteHistory, AHistoryTheUserCanOnlyReadIsRead) {
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
    // Root may write anywhere: another user reads it then, with a copy of the binary it may run
    // (the build folder may be closed to it).
    std::filesystem::copy_file(bench_binary(), dir.file("quicksort_bench"));
    const auto list = [&] {
        const std::vector<std::string> args = {"history", "list", "--history", file};
        return ::geteuid() == 0
                   ? run_process("/usr/sbin/runuser", with({"-u", "nobody", "--", dir.file("quicksort_bench")}, args))
                   : run_process(bench_binary(), args);
    };
    const process_result read = list();
    EXPECT_EQ(read.exit_code, 0) << read.err;
    EXPECT_HAS(read.out, "processes") << read.out;
    const process_result denied = run_process(bench_binary(), {"--size", "2000", "--runs", "2", "--record", "--history", file});
    if (::geteuid() != 0) {
        EXPECT_EQ(denied.exit_code, 2) << denied.err;
        EXPECT_HAS(denied.err, "read-only") << denied.err;
    }
    std::filesystem::permissions(dir.file("shared"), perms::owner_all);
    write_text(file + "-wal", "");
    std::filesystem::permissions(dir.file("shared"), perms::owner_read | perms::owner_exec | perms::others_read |
                                                         perms::others_exec);
    const process_result busy = list();
    EXPECT_EQ(busy.exit_code, 2);
    EXPECT_HAS(busy.err, "while it is being written") << busy.err;
    EXPECT_LACKS(busy.err, "attempt to write") << busy.err;
    std::filesystem::permissions(dir.file("shared"), perms::owner_all);
}

// A history names the user's machines, CPUs and labels: its default folders are made 0700 and its
// files 0600, whatever the umask; without HOME the password database's home stands in.
TEST(SqliteHistory, DefaultPlacesArePrivateToTheUser) {
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
