// The history on either backend, through its API and the commands users type: SQLite files in a
// scratch folder, and databases of their own on a throwaway PostgreSQL server.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <pqxx/pqxx>

#include <csignal>
#include <filesystem>
#include <future>
#include <sstream>
#include <thread>

#include "history_places.hpp"
#include "records/json_reader.hpp"
#include "records/pooling.hpp"
#include "report/exports.hpp"

class Histories : public ::testing::TestWithParam<std::string> {};

namespace {

void pqxx_count_equals(const std::string& uri, const std::string& query, int expected) {
    pqxx::connection c(uri);
    pqxx::nontransaction sql(c);
    EXPECT_EQ(sql.exec(query)[0][0].as<int>(), expected) << query;
}

} // namespace
INSTANTIATE_TEST_SUITE_P(Backends, Histories, ::testing::ValuesIn(backends),
                         [](const auto& info) { return info.param; });

TEST_P(Histories, RoundTripDuplicatesAndFilters) {
    const scratch_dir dir;
    const history_place place(GetParam(), dir);
    const std::string file = place.location();
    {
        history_store store(file, history_mode::write);
        const std::string a = run_document(100, 0);
        const record_outcome first = store.record(parse_export(a).sweep, nlohmann::json::parse(a), "before");
        ASSERT_TRUE(first.added);
        // The same document, however indented, is stored once, and the duplicate names its run.
        const record_outcome again =
            store.record(parse_export(a).sweep, nlohmann::json::parse(nlohmann::json::parse(a).dump(4)), "again");
        EXPECT_FALSE(again.added);
        EXPECT_EQ(again.id, first.id);
        EXPECT_EQ(again.label, "before");
        const std::string b = run_document(120, 5);
        ASSERT_TRUE(store.record(parse_export(b).sweep, nlohmann::json::parse(b), "after").added);
        const std::string other = run_document(50, 10, "host-b");
        ASSERT_TRUE(store.record(parse_export(other).sweep, nlohmann::json::parse(other), "elsewhere").added);

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
        const record_outcome stored =
            store.record(parse_export(doc.str()).sweep, nlohmann::json::parse(doc.str()), "processes");
        ASSERT_TRUE(stored.added);
        const std::int64_t* id = &stored.id;
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

TEST_P(Histories, SixteenWritersAtOnceAllLand) {
    const scratch_dir dir;
    const history_place place(GetParam(), dir);
    const std::string file = place.location();
    std::vector<std::string> inputs;
    for (int k = 0; k < 32; ++k) {
        inputs.push_back(dir.file("run" + std::to_string(k) + ".json"));
        write_text(inputs.back(), run_document(100 + k, k));
    }
    // Sixteen processes, each importing two runs one transaction at a time, into a history none of
    // them created; started by a shell, so that this test itself runs no threads.
    std::string command;
    for (std::size_t first = 0; first < 16; ++first) {
        command += "'" + bench_binary() + "' history import --history '" + file + "' '" + inputs[first] + "' '" +
                   inputs[first + 16] + "' >/dev/null & pids=\"$pids $!\"; ";
    }
    const process_result all = run_process(
        "/bin/bash", {"-c", command + "failed=0; for p in $pids; do wait $p || failed=$((failed + 1)); done; echo $failed"});
    EXPECT_EQ(all.out, "0\n") << all.err;
    history_store store(file, history_mode::read);
    EXPECT_EQ(store.count(), 32u);
    if (place.postgres()) { // the first writers raced to create the schema: it was made once
        pqxx_count_equals(file, "SELECT count(*) FROM quicksort_bench.schema_info", 1);
    }
}

// Another writer's lock is waited for, said after a second, and a run measured meanwhile is never
// lost: a signal while it is being stored keeps it under unrecorded/ and ends with 128+n.
TEST_P(Histories, AWriterWaitsSaysSoAndAnInterruptedStoreKeepsTheRun) {
    const scratch_dir dir;
    const history_place place(GetParam(), dir);
    write_text(dir.file("first.json"), run_document(100, 0));
    write_text(dir.file("second.json"), run_document(110, 1));
    ASSERT_EQ(history({"import", "--history", place.location(), dir.file("first.json")}).exit_code, 0);

    std::thread holder = hold_write_lock(place, dir, 2.5);
    const process_result waited = history({"import", "--history", place.location(), dir.file("second.json")});
    holder.join();
    EXPECT_EQ(waited.exit_code, 0) << waited.err;
    EXPECT_HAS(waited.err, "quicksort_bench: waiting for the history") << waited.err;

    // Held until the run has been stopped: however long a (sanitized) run takes to measure.
    holder = hold_write_lock(place, dir, 100, dir.file("release"));
    run_options stop;
    stop.marker = "waiting for the history";
    stop.signal = SIGTERM;
    const process_result stopped = run_process(
        "/bin/bash", {"-c", "XDG_STATE_HOME='" + dir.path.string() + "' exec '" + bench_binary() +
                                "' --size 2000 --runs 2 --no-pause --record --history '" + place.location() + "' 2>&1"},
        stop);
    write_text(dir.file("release"), "");
    holder.join();
    ASSERT_TRUE(stopped.saw_marker) << stopped.out;
    EXPECT_HAS(stopped.out, "Results:") << "the run was measured first: " << stopped.out;
    EXPECT_EQ(stopped.exit_code, 128 + SIGTERM) << stopped.out;
    EXPECT_HAS(stopped.out, "interrupted while the run was stored; it is kept in") << stopped.out;
    std::vector<std::string> kept;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path / "quicksort_bench" / "unrecorded")) {
        kept.push_back(entry.path().string());
    }
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(history({"import", "--history", place.location(), kept[0]}).exit_code, 0);
    EXPECT_EQ(history_store(place.location(), history_mode::read).count(), 3u);
}

TEST_P(Histories, CommandsImportEveryVersionTrendAndRefuseBadInput) {
    const scratch_dir dir;
    const history_place place(GetParam(), dir);
    const std::string file = place.location();
    const process_result empty = history({"list", "--history", file});
    EXPECT_EQ(empty.exit_code, 0) << empty.err;
    EXPECT_HAS(empty.out, "holds no runs yet") << empty.out;
    if (!place.postgres()) {
        EXPECT_FALSE(std::filesystem::exists(file)) << "listing creates nothing";
    }

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
    EXPECT_HAS(imported.out, "v1.json as run 32") << imported.out;
    EXPECT_HAS(imported.out, "skipped " + dir.file("run3.json") + ": already stored");

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
    EXPECT_HAS(trend.out, "change at run 11") << trend.out;
    EXPECT_HAS(read_text(dir.file("t.html")), "class=\"change\"");
    EXPECT_HAS(read_text(dir.file("t.svg")), "class=\"band\"");

    const process_result day = history({"list", "--history", file, "--until", "2026-12-07"});
    // The file, a heading, the runs, their one machine.
    EXPECT_EQ(std::count(day.out.begin(), day.out.end(), '\n'), 2 + 32 + 1) << "the whole day: " << day.err;
    const process_result listed = history({"list", "--history", file, "--last", "2"});
    EXPECT_EQ(std::count(listed.out.begin(), listed.out.end(), '\n'), 2 + 2 + 1) << listed.out;
    const process_result compared = history({"compare", "--history", file, "1", "latest"});
    EXPECT_EQ(compared.exit_code, 0) << compared.err;
    EXPECT_EQ(history({"compare", "--history", file, "latest", "1"}).out.rfind("Comparing run 32 (base) with run 1", 0),
              0u) << "the base as given, though it is the newer run";
    EXPECT_HAS(history({"list", "--help"}).out, "\nUsage: quicksort_bench history list [OPTIONS]\n");
    EXPECT_HAS(compared.out, "too few processes to decide") << compared.out;
    const process_result exported = history({"export", "--history", file, "--since", "2026-12-07T10:35:00"});
    EXPECT_EQ(std::count(exported.out.begin(), exported.out.end(), '\n'), 2) << "runs 40 and 41 minutes in";
    EXPECT_EQ(nlohmann::json::parse(exported.out.substr(0, exported.out.find('\n')))["document"]["context"]["array_size"],
              1000);

    // A stored run that cannot be read is named and skipped (JSON Lines round trips: HistoryRoundTrip).
    place.exec("UPDATE runs SET document = '{\"cut' WHERE id = 2");
    const process_result damaged = history({"export", "--history", file});
    EXPECT_EQ(damaged.exit_code, 1);
    EXPECT_HAS(damaged.err, "run 2: its stored document is damaged") << damaged.err;
    EXPECT_EQ(std::count(damaged.out.begin(), damaged.out.end(), '\n'), 31) << "every other run";

    // Another machine's run: left out, and said so; named by its host name alone, no wildcards.
    write_text(dir.file("other.json"), run_document(100, 50, "host%b"));
    EXPECT_EQ(history({"import", "--history", file, dir.file("other.json")}).exit_code, 0);
    const process_result mine = history({"list", "--history", file, "--machine", "host-a"});
    EXPECT_HAS(mine.err, "1 run of 1 other machine not shown") << mine.err;
    EXPECT_EQ(history({"list", "--history", file, "--machine", "host%b"}).exit_code, 0);
    nlohmann::json yesterday = nlohmann::json::parse(run_document(100, 51));
    yesterday["context"]["date_time"] = "yesterday";
    write_text(dir.file("yesterday.json"), yesterday.dump());

    const struct {
        std::vector<std::string> args;
        const char* says;
    } refusals[] = {
        {{"list", "--history", file, "--machine", "host%"}, "no stored machine is called 'host%'"},
        {{"list", "--history", file, "--machine", "host-a", "--all-machines"}, "give one of them"},
        {{"compare", "--history", file, "latest", "latest"}, "are both run "},
        {{"import", "--history", file, dir.file("yesterday.json")},
         "context.date_time: 'yesterday' is not a date and time"},
        {{"import", "--history", file, "--label", "latest", dir.file("other.json")}, "already names a run"},
        {{"import", "--history", file, "--label", "a\x1b[2Jb", dir.file("other.json")}, "control characters"},
        {{"compare", "--history", file, "1", "99"}, "no stored run is '99'"},
        {{"list", "--history", file, "--label", "nobody"}, "no stored run matches the filters given"},
        {{"trend", "--history", file, "--strategy", "bogo sort"}, "no selected run measured 'bogo sort'"},
        {{"trend", "--history", dir.file("none.sqlite")}, "there is no history"},
        {{"import", "--history", file, dir.file("missing.json")}, "missing.json"},
    };
    for (const auto& r : refusals) {
        const process_result p = history(r.args);
        EXPECT_EQ(p.exit_code, 2) << r.says << ": " << p.err;
        EXPECT_HAS(p.err, r.says) << p.err;
        EXPECT_EQ(std::count(p.err.begin(), p.err.end(), '\n'), 1) << p.err;
    }
}

// A fleet in one history: each machine its own series, an upgrade of its compiler no new machine
// but a fact beside the change it caused, runs found by the revision they were built from, every
// machine listed, and a local history pushed in once however often it is pushed.
TEST_P(Histories, TheFleetItsBuildsAndPushes) {
    const scratch_dir dir;
    const history_place place(GetParam(), dir);
    const std::string team = place.location();
    // Twelve runs of host-a, the last six built by g++ 13 from v2 and twice as slow; six of host-b.
    std::vector<std::string> args = {"import", "--history", dir.file("local.sqlite")};
    for (int k = 0; k < 12; ++k) {
        args.push_back(dir.file("a" + std::to_string(k) + ".json"));
        write_text(args.back(), run_document(k < 6 ? 100 : 200, k, "host-a", k < 6 ? "g++ 12" : "g++ 13", k < 6 ? "v1" : "v2"));
    }
    for (int k = 0; k < 6; ++k) {
        args.push_back(dir.file("b" + std::to_string(k) + ".json"));
        write_text(args.back(), run_document(50, 20 + k, "host-b"));
    }
    ASSERT_EQ(history(args).exit_code, 0);

    const process_result pushed = history({"push", "--history", dir.file("local.sqlite"), "--to", team});
    EXPECT_EQ(pushed.exit_code, 0) << pushed.err;
    EXPECT_HAS(pushed.out, "pushed 18 runs to ") << pushed.out;
    EXPECT_HAS(pushed.out, ": 18 new, 0 stored there already") << pushed.out;
    EXPECT_HAS(history({"push", "--history", dir.file("local.sqlite"), "--to", team}).out, ": 0 new, 18 stored")
        << "pushing twice stores each run once";

    const process_result machines = history({"machines", "--history", team});
    EXPECT_EQ(std::count(machines.out.begin(), machines.out.end(), '\n'), 2) << "the compiler is no machine:\n"
                                                                            << machines.out;
    EXPECT_HAS(machines.out, ": host host-a, model, 2 CPUs, 1.0 GiB; kernel 6.1.0, g++ 13; 12 runs, from " "2026-12-07T10:00:00+0000 to 2026-12-07T10:11:00+0000")
        << machines.out;

    const process_result v2 = history({"list", "--history", team, "--all-machines", "--revision", "v2"});
    EXPECT_EQ(std::count(v2.out.begin(), v2.out.end(), '\n'), 2 + 6 + 1) << v2.out;

    const process_result trend = history({"trend", "--history", team, "--all-machines", "--strategy", "parallel sort",
                                          "--export-html", dir.file("t.html")});
    EXPECT_EQ(trend.exit_code, 0) << trend.err;
    EXPECT_HAS(trend.out, "\nparallel sort: host-a-") << "a series per machine:\n" << trend.out;
    EXPECT_HAS(trend.out, "\nparallel sort: host-b-") << trend.out;
    EXPECT_HAS(trend.out, "    compiler g++ 12 -> g++ 13; revision v1 -> v2\n") << trend.out;
    EXPECT_HAS(trend.out, "between revisions v1 and v2; compiler g++ 12 -> g++ 13; revision v1 -> v2")
        << "the change names its cause:\n" << trend.out;
    const std::string page = read_text(dir.file("t.html"));
    EXPECT_HAS(page, "<h2>The fleet</h2>");
    EXPECT_HAS(page, "<td>200.00</td>") << "host-a's latest median beside host-b's";
    EXPECT_HAS(page, "<td>50.00</td>");

    // A runner sets its history once; it never records by itself.
    ::setenv("QUICKSORT_BENCH_HISTORY", team.c_str(), 1);
    const process_result listed = history({"list", "--all-machines"});
    ::unsetenv("QUICKSORT_BENCH_HISTORY");
    EXPECT_EQ(std::count(listed.out.begin(), listed.out.end(), '\n'), 2 + 18 + 2) << listed.out << listed.err;
}

// `history export` and `history import` carry any number of runs, one included, from SQLite to
// PostgreSQL and back: the only way from a team's server to a local file.
TEST(HistoryRoundTrip, JsonLinesCarryOneTwoOrAThousandRunsBothWays) {
    for (const int runs : {1, 2, 1000}) {
        const scratch_dir dir;
        std::vector<std::string> files;
        for (int k = 0; k < runs; ++k) {
            files.push_back(dir.file("run" + std::to_string(k) + ".json"));
            write_text(files.back(), run_document(100 + 0.01 * k, k % 720)); // within one day
        }
        const history_place local("sqlite", dir);
        const history_place team("postgresql", dir);
        const process_result stored = history(with({"import", "--label", "carried", "--history", local.location()}, files));
        ASSERT_EQ(stored.exit_code, 0) << stored.err;
        const process_result out = history({"export", "--history", local.location()});
        ASSERT_EQ(out.exit_code, 0) << out.err;
        EXPECT_EQ(std::count(out.out.begin(), out.out.end(), '\n'), runs);
        write_text(dir.file("out.jsonl"), out.out);
        const process_result in = history({"import", "--history", team.location(), dir.file("out.jsonl")});
        ASSERT_EQ(in.exit_code, 0) << runs << ": " << in.err;
        const process_result back = history({"export", "--history", team.location()});
        write_text(dir.file("back.jsonl"), back.out);
        const std::string returned = dir.file("returned.sqlite");
        ASSERT_EQ(history({"import", "--history", returned, dir.file("back.jsonl")}).exit_code, 0);
        for (const std::string& place : {team.location(), returned}) {
            history_store store(place, history_mode::read);
            EXPECT_EQ(store.count(), static_cast<std::size_t>(runs)) << place;
            EXPECT_EQ(store.list(every()).back().label, "carried");
        }
        const auto documents = [](const std::string& lines) {
            std::vector<std::string> found;
            std::istringstream in(lines);
            for (std::string line; std::getline(in, line);) {
                found.push_back(nlohmann::json::parse(line)["document"].dump());
            }
            std::sort(found.begin(), found.end());
            return found;
        };
        EXPECT_TRUE(documents(history({"export", "--history", returned}).out) == documents(out.out))
            << "the same runs came back";
    }
}
