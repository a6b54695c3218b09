// Every format's bytes for a fixed set of records of every kind, held against the outputs committed
// beside them, so that moving the code that writes them cannot change a byte unnoticed. With
// QSB_GOLDEN_UPDATE=1 the outputs are written anew instead: read the diff before committing it.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <functional>
#include <sstream>

#include "process.hpp"
#include "records/ab.hpp"
#include "records/json_reader.hpp"
#include "report/ab_report.hpp"
#include "report/advice_report.hpp"
#include "report/breakdown_report.hpp"
#include "report/console_report.hpp"
#include "report/exports.hpp"
#include "report/sweep_report.hpp"

namespace {

const std::string golden_dir = std::string(QSB_TEST_DATA) + "/golden";

std::string fixture(const std::string& name) { return golden_dir + "/" + name; }

// The first line where two texts part, for a message a person can read.
std::string first_difference(const std::string& expected, const std::string& actual) {
    std::istringstream a(expected), b(actual);
    std::string la, lb;
    for (int line = 1;; ++line) {
        const bool more_a = static_cast<bool>(std::getline(a, la));
        const bool more_b = static_cast<bool>(std::getline(b, lb));
        if (!more_a && !more_b) {
            return "they differ only in their last line break";
        }
        if (la != lb || more_a != more_b) {
            return "line " + std::to_string(line) + ":\n  expected: " + (more_a ? la : "(end)") +
                   "\n  actual:   " + (more_b ? lb : "(end)");
        }
    }
}

// Holds `actual` against the committed output `name`, or writes it there when asked to.
void expect_golden(const std::string& name, const std::string& actual) {
    const std::string path = fixture("out/" + name);
    if (std::getenv("QSB_GOLDEN_UPDATE") != nullptr) {
        std::filesystem::create_directories(golden_dir + "/out");
        write_text(path, actual);
        return;
    }
    ASSERT_TRUE(std::filesystem::exists(path)) << path << " is missing (QSB_GOLDEN_UPDATE=1 writes it)";
    const std::string expected = read_text(path);
    EXPECT_TRUE(expected == actual) << name << ": " << first_difference(expected, actual);
}

std::string written(const std::function<void(std::ostream&)>& write) {
    std::ostringstream out;
    write(out);
    return out.str();
}

// The part of an option that names its format: "--export-json" -> "json", "--chart" -> "chart".
std::string format_name(const std::string& option) {
    const std::string prefix = "--export-";
    return option.rfind(prefix, 0) == 0 ? option.substr(prefix.size()) : option.substr(2);
}

// Every time of a record's strategies (the fields ending in _ns) times `factor`, integers kept integers.
nlohmann::ordered_json times_scaled(nlohmann::ordered_json record, std::int64_t factor) {
    const auto scale = [&](nlohmann::ordered_json& value, const auto& self) -> void {
        if (value.is_number_integer()) {
            value = value.get<std::int64_t>() * factor;
        } else if (value.is_number()) {
            value = value.get<double>() * static_cast<double>(factor);
        } else if (value.is_array() || value.is_object()) {
            for (auto& item : value) {
                self(item, self);
            }
        }
    };
    for (auto& s : record.at("strategies")) {
        for (auto& [key, value] : s.items()) {
            if (key.ends_with("_ns")) {
                scale(value, scale);
            }
        }
    }
    return record;
}

// An `ab` export read back into the record it was written from: the sides, every round's records
// as the sides wrote them (the new side's times multiplied by `slowed`), and the verdicts judged
// anew over them.
ab_results read_ab(const std::string& path, std::int64_t slowed = 1) {
    const auto doc = nlohmann::ordered_json::parse(read_text(path));
    ab_results ab;
    const auto side = [](const nlohmann::ordered_json& s) {
        ab_side read;
        read.program = s.at("program");
        read.arguments = s.at("arguments").get<std::vector<std::string>>();
        read.options_text = s.at("options");
        return read;
    };
    ab.base = side(doc.at("base"));
    ab.next = side(doc.at("new"));
    ab.rounds_planned = doc.at("rounds_planned");
    ab.seed = doc.at("seed");
    if (!doc.at("failure").is_null()) {
        ab.failure = doc.at("failure");
    }
    for (const auto& r : doc.at("rounds")) {
        ab_round round;
        round.new_first = r.at("order").at(0) == "new";
        if (r.contains("environment_pad")) {
            round.base_pad = r.at("environment_pad").at("base");
            round.next_pad = r.at("environment_pad").at("new");
        }
        round.base_record = std::make_shared<const nlohmann::ordered_json>(r.at("base"));
        round.next_record = std::make_shared<const nlohmann::ordered_json>(times_scaled(r.at("new"), slowed));
        round.base = parse_result_record(r.at("base").dump());
        round.next = parse_result_record(round.next_record->dump());
        ab.rounds.push_back(std::move(round));
    }
    ab.judged = compare_rounds(ab.rounds, doc.at("alpha"), doc.at("threshold"));
    return ab;
}

// Every path the outputs of the program may hold, replaced by a name that does not depend on the checkout.
std::string without_paths(std::string text, const std::vector<std::pair<std::string, std::string>>& names) {
    for (const auto& [path, name] : names) {
        for (std::size_t at = text.find(path); at != std::string::npos; at = text.find(path, at + name.size())) {
            text.replace(at, path.size(), name);
        }
    }
    return text;
}

} // namespace

// Every export of one run's record and the console's report of it.
void expect_run_outputs(const std::string& name, const benchmark_results& run) {
    for (const exporter& e : exporters) {
        expect_golden(name + "." + format_name(e.option), written([&](std::ostream& o) { e.run(run, o); }));
    }
    expect_golden(name + ".console", written([&](std::ostream& o) {
                      print_run(run, true, o);
                      if (run.breakdown) {
                          print_breakdown(*run.breakdown, o);
                      }
                      print_advice(run, o);
                  }));
}

// A run (with the field's sorts, the floor, a breakdown and the resources), a run of processes, a
// run to a precision goal and a sweep: every export and the console's report of each, and each
// record's JSON read back and written again as it was.
TEST(Golden, EveryFormatOfEveryRunRecordKeepsItsBytes) {
    for (const char* name : {"run", "processes", "precision", "sweep"}) {
        SCOPED_TRACE(name);
        const std::string path = fixture(std::string(name) + ".json");
        const sweep_results record = read_export_file(path).sweep;
        const std::string again = written([&](std::ostream& o) {
            record.is_sweep() ? write_sweep_json(record, o) : write_json(record.steps.at(0).results, o);
        });
        EXPECT_EQ(nlohmann::json::parse(read_text(path)), nlohmann::json::parse(again))
            << "the record read back is the record written";
        if (!record.is_sweep()) {
            expect_run_outputs(name, record.steps.at(0).results);
            continue;
        }
        for (const exporter& e : exporters) {
            expect_golden(std::string(name) + "." + format_name(e.option),
                          written([&](std::ostream& o) { e.sweep(record, o); }));
        }
        expect_golden(std::string(name) + ".console", written([&](std::ostream& o) {
                          for (std::size_t k = 0; k < record.steps.size(); ++k) {
                              print_step_summary(record.steps[k], k + 1, record.steps.size(), o);
                          }
                          print_scaling_tables(record, o);
                      }));
    }
    // Hostile text in the host, the CPU model and a name, a noisy strategy, a zero median, two
    // reference sorts and a floor: every format shows the text, escaped for it, and never renders it.
    expect_run_outputs("hostile", sample_results());
}

// `ab`'s record: its JSON, Markdown and page, and the console's table; as it came, and with the
// new side twice as slow, so that every verdict is decided.
TEST(Golden, EveryFormatOfAnAbRecordKeepsItsBytes) {
    for (const auto& [name, slowed] : {std::pair{"ab", 1}, std::pair{"ab-slower", 2}}) {
        const ab_results ab = read_ab(fixture("ab.json"), slowed);
        for (const exporter& e : exporters) {
            if (e.ab != nullptr) {
                expect_golden(std::string(name) + "." + format_name(e.option),
                              written([&](std::ostream& o) { e.ab(ab, o); }));
            }
        }
        expect_golden(std::string(name) + ".console", written([&](std::ostream& o) { print_ab(ab, o); }));
    }
}

// `compare` and the history's commands, through the program: what they print and every file they write.
TEST(Golden, CompareAndTheHistoryKeepTheirBytes) {
    ::setenv("TZ", "UTC", 1); // the history shows times in the local zone
    const scratch_dir dir;
    const std::vector<std::pair<std::string, std::string>> names = {{dir.path.string(), "SCRATCH"},
                                                                     {golden_dir, "FIXTURES"}};
    const auto run = [&](const std::string& out, const std::vector<std::string>& args,
                         const std::vector<std::string>& files) {
        const process_result r = run_process(bench_binary(), args);
        ASSERT_EQ(r.exit_code, 0) << r.err;
        expect_golden(out + ".console", without_paths(r.out, names));
        for (const std::string& file : files) {
            expect_golden(out + "." + file, without_paths(read_text(dir.file(file)), names));
        }
    };
    run("compare",
        {"compare", fixture("base.json"), fixture("new.json"), fixture("processes.json"), "--export-markdown",
         dir.file("markdown"), "--export-json", dir.file("json"), "--export-html", dir.file("html")},
        {"markdown", "json", "html"});

    const std::string history = dir.file("history.sqlite");
    for (const char* file : {"base", "new", "processes", "precision", "sweep"}) {
        const process_result r = run_process(
            bench_binary(), {"history", "import", "--history", history, "--label", file, fixture(std::string(file) + ".json")});
        ASSERT_EQ(r.exit_code, 0) << r.err;
    }
    run("history-list", {"history", "list", "--history", history}, {});
    run("history-machines", {"history", "machines", "--history", history}, {});
    run("history-compare", {"history", "compare", "--history", history, "1", "2"}, {});
    run("history-trend",
        {"history", "trend", "--history", history, "--export-json", dir.file("json"), "--export-markdown",
         dir.file("markdown"), "--chart", dir.file("chart"), "--export-html", dir.file("html")},
        {"json", "markdown", "chart", "html"});
}
