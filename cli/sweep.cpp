#include "cli/sweep.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <streambuf>
#include <random>
#include <system_error>

#include "bench/measure.hpp"
#include "bench/progress.hpp"
#include "common/error.hpp"
#include "common/format.hpp"
#include "machine/cpus.hpp"
#include "report/breakdown_report.hpp"
#include "report/exports.hpp"
#include "report/json_reader.hpp"
#include "common/output_file.hpp"
#include "report/resources_report.hpp"
#include "report/sweep_report.hpp"

namespace {

// ---- signals: the handler only writes the signal's number to a pipe that the loop polls.

int signal_pipe[2] = {-1, -1};
constexpr int sweep_signals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void note_signal(int sig) {
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(sig);
    [[maybe_unused]] const auto written = ::write(signal_pipe[1], &byte, 1);
    errno = saved;
}

// Installs the handlers for its lifetime and puts the previous ones back after.
class signal_catcher {
public:
    signal_catcher() {
        if (::pipe2(signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
            throw std::system_error(errno, std::generic_category(), "cannot create a pipe");
        }
        struct sigaction action {};
        action.sa_handler = note_signal;
        sigemptyset(&action.sa_mask);
        for (std::size_t k = 0; k < std::size(sweep_signals); ++k) {
            sigaction(sweep_signals[k], &action, &previous_[k]);
        }
    }
    ~signal_catcher() {
        for (std::size_t k = 0; k < std::size(sweep_signals); ++k) {
            sigaction(sweep_signals[k], &previous_[k], nullptr);
        }
        ::close(signal_pipe[0]);
        ::close(signal_pipe[1]);
    }
    signal_catcher(const signal_catcher&) = delete;
    signal_catcher& operator=(const signal_catcher&) = delete;

    // The first signal caught so far, or 0.
    static int caught() {
        unsigned char byte = 0;
        return ::read(signal_pipe[0], &byte, 1) == 1 ? byte : 0;
    }

private:
    struct sigaction previous_[std::size(sweep_signals)] {};
};

// ---- one step's process.

struct step_outcome {
    bool ok = false;
    std::string failure;    // why it failed
    int interrupted_by = 0; // a signal the sweep caught while the step ran
};

std::string signal_cause(int sig) {
    std::string cause = "killed by signal " + std::to_string(sig) + " (" + strsignal(sig) + ")";
    if (sig == SIGKILL) {
        cause += "; out of memory, perhaps";
    }
    return cause;
}

// The child's own error line, without the program's prefix; empty when it printed none.
std::string child_error(const std::string& err) {
    const std::string prefix = error_prefix;
    const auto at = err.rfind(prefix);
    if (at == std::string::npos) {
        return "";
    }
    std::string message = err.substr(at + prefix.size());
    return message.substr(0, message.find('\n'));
}

// Reads whatever is there without blocking; false at end of input.
bool drain(int fd, std::string& into) {
    char buffer[4096];
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got > 0) {
        if (into.size() < (1u << 16)) {
            into.append(buffer, static_cast<std::size_t>(got));
        }
        return true;
    }
    return got < 0 && (errno == EINTR || errno == EAGAIN);
}

step_outcome run_step_process(const std::string& program, const std::vector<std::string>& args,
                              const std::vector<unsigned>& cpus, std::uint64_t runs, progress_line& progress) {
    // Everything the child needs is prepared before fork: after it, only async-signal-safe calls.
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    cpu_set_t mask;
    CPU_ZERO(&mask);
    for (const unsigned cpu : cpus) {
        CPU_SET(cpu, &mask);
    }
    int out_pipe[2];
    int err_pipe[2];
    if (::pipe2(out_pipe, O_CLOEXEC) != 0) {
        throw std::system_error(errno, std::generic_category(), "cannot create a pipe");
    }
    if (::pipe2(err_pipe, O_CLOEXEC) != 0) {
        const int error = errno;
        ::close(out_pipe[0]);
        ::close(out_pipe[1]);
        throw std::system_error(error, std::generic_category(), "cannot create a pipe");
    }
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child == 0) {
        // Should the sweep die without cleaning up, the step dies with it.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) {
            ::_exit(127);
        }
        const int null_in = ::open("/dev/null", O_RDONLY);
        if (::sched_setaffinity(0, sizeof mask, &mask) != 0 || null_in < 0 || ::dup2(null_in, 0) < 0 ||
            ::dup2(out_pipe[1], 1) < 0 || ::dup2(err_pipe[1], 2) < 0) {
            ::_exit(127);
        }
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    const int fork_error = errno;
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);
    if (child < 0) {
        ::close(out_pipe[0]);
        ::close(err_pipe[0]);
        throw std::system_error(fork_error, std::generic_category(), "cannot start a step process");
    }
    ::fcntl(out_pipe[0], F_SETFL, O_NONBLOCK);
    ::fcntl(err_pipe[0], F_SETFL, O_NONBLOCK);

    step_outcome outcome;
    std::string events;
    std::string current; // the strategy the step is timing now
    std::string err;
    bool out_open = true;
    bool err_open = true;
    while ((out_open || err_open) && outcome.interrupted_by == 0) {
        pollfd fds[3] = {{out_open ? out_pipe[0] : -1, POLLIN, 0},
                         {err_open ? err_pipe[0] : -1, POLLIN, 0},
                         {signal_pipe[0], POLLIN, 0}};
        // A timeout keeps the elapsed time moving between sorts that take seconds.
        if (::poll(fds, 3, 1000) < 0 && errno != EINTR) {
            break;
        }
        if ((outcome.interrupted_by = signal_catcher::caught()) != 0) {
            break;
        }
        if (out_open && fds[0].revents != 0) {
            out_open = drain(out_pipe[0], events);
            for (std::size_t end; (end = events.find('\n')) != std::string::npos; events.erase(0, end + 1)) {
                const std::string strategy = events.substr(0, end);
                if (strategy != current) {
                    current = strategy;
                    progress.phase(strategy, runs);
                }
                progress.sorted();
            }
        }
        if (err_open && fds[1].revents != 0) {
            err_open = drain(err_pipe[0], err);
        }
        progress.draw();
    }
    if (outcome.interrupted_by != 0) {
        ::kill(child, SIGKILL);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    ::close(out_pipe[0]);
    ::close(err_pipe[0]);
    if (outcome.interrupted_by == 0) {
        // Ctrl-C reaches the whole foreground group: the step may have died of it first.
        outcome.interrupted_by = signal_catcher::caught();
    }
    if (outcome.interrupted_by != 0) {
        outcome.failure = "interrupted";
    } else if (WIFSIGNALED(status)) {
        outcome.failure = signal_cause(WTERMSIG(status));
    } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        const std::string message = child_error(err);
        outcome.failure = !message.empty() ? message
                                           : "its process ended with status " + std::to_string(WEXITSTATUS(status));
    } else {
        outcome.ok = true;
    }
    return outcome;
}

void write_sweep_exports(const sweep_results& sweep, const export_paths& exports) {
    write_export(exports.json, sweep, write_sweep_json);
    write_export(exports.csv, sweep, write_sweep_csv);
    write_export(exports.markdown, sweep, write_sweep_markdown);
    write_export(exports.chart, sweep, write_scaling_chart);
    write_export(exports.html, sweep, write_sweep_html);
    if (!sweep.steps.empty()) {
        write_export(exports.gbench, sweep, write_gbench);
    }
}

// A private folder for the steps' records, removed on every path.
struct scratch_folder {
    std::filesystem::path path;
    scratch_folder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "quicksort_bench-sweep-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::system_error(errno, std::generic_category(), "cannot create a folder for the steps");
        }
        path = pattern;
    }
    ~scratch_folder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

// The null stream a step's phases print their progress lines to.
class discard_buffer : public std::streambuf {
protected:
    int overflow(int c) override { return c; }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

} // namespace

std::vector<std::string> step_arguments(const options& opts, const std::string& result_path) {
    std::vector<std::string> args = {"--size",  std::to_string(opts.sizes.array_size),
                                     "--runs",  std::to_string(opts.sizes.run_count),
                                     "--chunk", std::to_string(opts.sizes.chunk_size),
                                     "--no-pause"};
    if (opts.reference) {
        args.push_back("--reference");
    }
    if (opts.breakdown) {
        args.push_back("--breakdown");
    }
    if (opts.no_counters) {
        args.push_back("--no-counters");
    }
    if (opts.precision) {
        char target[32];
        std::snprintf(target, sizeof target, "%.17g", 100 * opts.precision->target);
        args.insert(args.end(), {"--precision", target, "--max-runs", std::to_string(opts.precision->max_runs)});
        if (opts.precision->max_time_ns) {
            args.insert(args.end(), {"--max-time", std::to_string(*opts.precision->max_time_ns / 1e9) + "s"});
        }
    }
    args.push_back("--values");
    args.push_back(value_kind_name(opts.sizes.values));
    args.push_back("--step-result");
    args.push_back(result_path);
    return args;
}

std::vector<std::vector<std::size_t>> round_orders(std::size_t steps, unsigned rounds, std::uint64_t seed) {
    std::vector<std::size_t> ascending(steps);
    for (std::size_t k = 0; k < steps; ++k) {
        ascending[k] = k;
    }
    if (rounds <= 1) {
        return {ascending};
    }
    // Fisher-Yates on a fixed generator, so the same seed gives the same orders everywhere.
    std::mt19937_64 generator(seed);
    std::vector<std::vector<std::size_t>> orders;
    for (unsigned r = 0; r < rounds; ++r) {
        std::vector<std::size_t> order = ascending;
        for (std::size_t k = order.size(); k > 1; --k) {
            std::swap(order[k - 1], order[generator() % k]);
        }
        orders.push_back(std::move(order));
    }
    return orders;
}

int run_sweep(const options& opts, const std::vector<unsigned>& cpu_order) {
    const std::string program = std::filesystem::read_symlink("/proc/self/exe").string();
    const scratch_folder scratch;
    const signal_catcher signals;
    // Standard output holds an export written to "-" alone.
    std::ostream& out = opts.exports.to_stdout() ? std::cerr : std::cout;
    sweep_results sweep;
    sweep.planned_counts = opts.cpu_counts;
    sweep.rounds = opts.rounds;
    sweep.seed = opts.seed;
    const std::size_t total = opts.cpu_counts.size();
    const std::uint64_t strategies = opts.reference ? 6 : 4;
    progress_line progress(::isatty(STDERR_FILENO) == 1 ? &std::cerr : nullptr);
    // With a precision goal nobody knows the count of sorts ahead: no estimate then.
    const std::uint64_t runs = opts.precision ? 0 : opts.sizes.run_count;
    progress.restart(total * opts.rounds * strategies * runs);

    // Every round runs every step once, in an order of its own, so that drift of the machine over
    // minutes spreads over all CPU counts instead of landing on the last ones.
    const std::vector<std::vector<std::size_t>> orders = round_orders(total, opts.rounds, opts.seed);
    std::vector<std::vector<benchmark_results>> measured(total);
    int exit_code = EXIT_SUCCESS;
    for (std::size_t r = 0; r < orders.size() && exit_code == EXIT_SUCCESS; ++r) {
        sweep.order.emplace_back();
        const std::string round = opts.rounds > 1 ? "round " + std::to_string(r + 1) + "/" +
                                                        std::to_string(opts.rounds) + ", "
                                                  : "";
        for (const std::size_t k : orders[r]) {
            const unsigned n = opts.cpu_counts[k];
            const std::vector<unsigned> cpus(cpu_order.begin(), cpu_order.begin() + n);
            const std::string record = (scratch.path / ("step-" + std::to_string(k + 1) + ".json")).string();
            const std::string step_name = "step " + std::to_string(k + 1) + "/" + std::to_string(total) + " (" +
                                          cpus_text(n) + ")";
            progress.phase("", 0);
            progress.set_prefix(round + step_name);
            step_outcome outcome = run_step_process(program, step_arguments(opts, record), cpus, runs, progress);
            if (outcome.ok) {
                try {
                    measured[k].push_back(read_export_file(record).sweep.steps.at(0).results);
                } catch (const export_error& e) {
                    outcome.ok = false;
                    outcome.failure = std::string("its result could not be read: ") + e.what();
                }
            }
            progress.erase();
            if (!outcome.ok) {
                sweep.failure = (opts.rounds > 1 ? "round " + std::to_string(r + 1) + ", " : "") + step_name + ": " +
                                outcome.failure;
                print_error(std::cerr, sweep.failure);
                exit_code = outcome.interrupted_by != 0 ? 128 + outcome.interrupted_by : EXIT_FAILURE;
                break;
            }
            sweep.order.back().push_back(n);
            if (opts.rounds > 1) {
                out << "Round " << r + 1 << "/" << opts.rounds << ": ";
            }
            print_step_summary({measured[k].back()}, k + 1, total, out);
            if (measured[k].back().breakdown) {
                print_breakdown(*measured[k].back().breakdown, out);
            }
            if (opts.resources) {
                print_resources(measured[k].back().resources, out);
            }
            for (const auto& warning : measured[k].back().environment_warnings) {
                std::cerr << "warning: " << step_name << ": " << warning << std::endl;
            }
        }
    }
    // A step's durations are pooled over its rounds; steps that never ran are left out.
    for (std::size_t k = 0; k < total; ++k) {
        if (!measured[k].empty()) {
            sweep.steps.push_back({pool_rounds(measured[k])});
        }
    }
    if (sweep.complete()) {
        print_scaling_tables(sweep, out);
    }
    write_sweep_exports(sweep, opts.exports);
    return exit_code;
}

int run_sweep_step(const options& opts) {
    discard_buffer discard;
    std::ostream quiet(&discard);
    const std::vector<unsigned> cpus = allowed_cpus();
    const sort_listener tell_parent = [](std::string_view strategy) {
        const std::string line = std::string(strategy) + "\n";
        [[maybe_unused]] const auto written = ::write(STDOUT_FILENO, line.data(), line.size());
    };
    measured_run run = measure(opts, console{quiet, false}, tell_parent, static_cast<unsigned>(cpus.size()));
    // What this process itself sees, so that a reader can check the step ran where it claims.
    run.results.context.cpus = cpus;
    run.results.context.logical_cpus = static_cast<unsigned>(cpus.size());
    run.results.context.tbb_threads = parallel_loop_threads();
    write_export(opts.step_result, run.results, write_json);
    return EXIT_SUCCESS;
}
