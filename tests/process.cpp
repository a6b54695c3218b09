// Runs a program as a child, on pipes or a terminal, and captures what it leaves.
#include "process.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <csignal>
#include <regex>
#include <stdexcept>

#include "records/json_reader.hpp"

process_result run_process(const std::string& program, const std::vector<std::string>& args,
                           const run_options& options) {
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);

    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    pid_t pid = -1;
    if (options.terminal) {
        pid = ::forkpty(&out[0], nullptr, nullptr, nullptr);
    } else if (::pipe(out) == 0 && ::pipe(err) == 0) {
        pid = ::fork();
        if (pid == 0) {
            const int in = ::open("/dev/null", O_RDONLY);
            if (in < 0 || ::dup2(in, 0) < 0 || ::dup2(out[1], 1) < 0 || ::dup2(err[1], 2) < 0) {
                ::_exit(127);
            }
            // Only 0, 1 and 2: a write end left open in a daemon the child starts would keep this
            // parent reading until that daemon ends.
            ::close(out[0]);
            ::close(err[0]);
            ::close(out[1]);
            ::close(err[1]);
        }
    }
    if (pid < 0) {
        throw std::runtime_error("cannot start " + program);
    }
    if (pid == 0) {
        if (!options.stdout_file.empty()) {
            const int file = ::open(options.stdout_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (file < 0 || ::dup2(file, 1) < 0) {
                ::_exit(127);
            }
        }
        if (options.background) {
            // A session leader cannot leave its group: a child of it does, as a shell's job would.
            const pid_t job = ::fork();
            if (job == 0) {
                ::setpgid(0, 0);
                ::execv(program.c_str(), argv.data());
                ::_exit(127);
            }
            int status = 0;
            while (job > 0 && ::waitpid(job, &status, WUNTRACED) < 0) {
            }
            // A job stopped by the terminal (SIGTTOU) is what must not happen: say so and clean up.
            if (job > 0 && WIFSTOPPED(status)) {
                ::kill(job, SIGKILL);
                ::_exit(150);
            }
            ::_exit(job > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : 126);
        }
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);

    termios start{};
    ::tcgetattr(out[0], &start); // fails harmlessly on a pipe
    process_result result;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* into[2] = {&result.out, &result.err};
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) {
            ::kill(pid, SIGKILL);
            break;
        }
        if (::poll(fds, 2, static_cast<int>(left)) <= 0) {
            continue;
        }
        for (int k = 0; k < 2; ++k) {
            if (fds[k].fd < 0 || fds[k].revents == 0) {
                continue;
            }
            char buffer[4096];
            const ssize_t got = ::read(fds[k].fd, buffer, sizeof buffer);
            if (got <= 0) { // end of output (a terminal reports EIO once the child has gone)
                fds[k].fd = -1;
                continue;
            }
            into[k]->append(buffer, static_cast<std::size_t>(got));
        }
        if (!options.marker.empty() && !result.saw_marker && result.out.find(options.marker) != std::string::npos) {
            result.saw_marker = true;
            ::usleep(100'000); // let the child reach its read, as a person would
            if (options.at_marker) {
                options.at_marker();
            } else if (options.signal != 0) {
                ::kill(pid, options.signal);
            } else {
                [[maybe_unused]] const auto typed = ::write(out[0], "k", 1);
            }
        }
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    termios end{};
    ::tcgetattr(out[0], &end);
    result.terminal_restored = end.c_lflag == start.c_lflag && end.c_cc[VMIN] == start.c_cc[VMIN];
    ::close(out[0]);
    ::close(err[0]); // -1 on a terminal: nothing to close
    // Under ThreadSanitizer, checking a report against the suppressions runs llvm-symbolizer, which
    // complains about debug files that libtbb's package does not ship: the tool's lines, not ours. On a
    // terminal they arrive among the standard output's.
    const std::regex symbolizer_noise("LLVMSymbolizer: error reading file:[^\n]*\n");
    result.err = std::regex_replace(result.err, symbolizer_noise, "");
    result.out = std::regex_replace(result.out, symbolizer_noise, "");
    return result;
}

std::string bench_binary() { return QSB_BINARY; }

std::vector<std::string> with(std::vector<std::string> args, const std::vector<std::string>& more) {
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

scratch_dir::scratch_dir() {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    path = std::filesystem::temp_directory_path() /
           ("qsb-" + std::string(test->test_suite_name()) + "-" + test->name() + "-" + std::to_string(::getpid()));
    std::filesystem::create_directories(path);
}

scratch_dir::~scratch_dir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

std::string read_text(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_text(const std::filesystem::path& file, const std::string& text) { std::ofstream(file) << text; }

benchmark_results sample_results() {
    run_context c;
    c.date_time = "2026-01-02T03:04:05+0000";
    c.host_name = "<script>alert('host')</script>";
    c.cpu_model = "Test CPU <8 cores> & \"more\"";
    c.logical_cpus = 8;
    c.compiler = "g++ 12.2.0";
    c.build_type = "Release";
    c.tbb_version = "2021.8";
    c.array_size = 1000;
    c.chunk_size = 100;
    c.run_count = 3;
    c.generator = "lcg";
    std::vector<strategy_result> strategies{
        make_strategy(strategy::sequential, {400'000'000, 300'000'000, 350'000'000}),
        make_strategy(strategy::thread, {250'000'000, 240'000'000, 260'000'000}),
        make_strategy(strategy::parallel, {100'000'000, 120'000'000, 110'000'000}),
        make_strategy(strategy::parallel_for, {90'000'000, 95'000'000, 150'000'000}),
        make_strategy(strategy::std_sort, {50'000'000, 60'000'000, 55'000'000}),
        make_strategy("odd, \"quoted\"\nname", {0, 0, 0})};
    strategies.back().reference = true;
    benchmark_results results = make_results(c, std::move(strategies));
    results.floor = {{3000, 2000, 2500}, {5000, 4000, 4500}, 8000};
    return results;
}

benchmark_results parse_result_record(const std::string& text) {
    export_document read = parse_export(text);
    if (read.sweep.is_sweep()) {
        throw export_error("a sweep, not one run's record");
    }
    return std::move(read.sweep.steps.at(0).results);
}
