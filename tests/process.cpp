#include "process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string temp_file(const char* tag) {
    const char* dir = std::getenv("TMPDIR");
    std::string pattern = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/qsb-" + tag + "-XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        throw std::runtime_error("mkstemp failed");
    }
    ::close(fd);
    return pattern;
}

// Under ThreadSanitizer, checking a report against the suppressions runs llvm-symbolizer, which
// complains on stderr about debug files that libtbb's package does not ship. That line is the
// tool's, not the program's.
std::string without_symbolizer_noise(const std::string& err) {
    static const std::string noise = "LLVMSymbolizer: error reading file:";
    std::string kept;
    std::istringstream lines(err);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(noise, 0) != 0) {
            kept += line + "\n";
        }
    }
    return kept;
}

std::vector<char*> argv_of(const std::string& program, const std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    return argv;
}

void wait_for(pid_t pid, process_result& result) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    if (WIFEXITED(status)) {
        result.exit_code = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
}

} // namespace

process_result run_process(const std::string& program, const std::vector<std::string>& args,
                           const std::string& stdin_path) {
    const std::string out_path = temp_file("out");
    const std::string err_path = temp_file("err");
    std::vector<char*> argv = argv_of(program, args);

    const pid_t pid = ::fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        const int in = ::open(stdin_path.c_str(), O_RDONLY);
        const int out = ::open(out_path.c_str(), O_WRONLY | O_TRUNC);
        const int err = ::open(err_path.c_str(), O_WRONLY | O_TRUNC);
        if (in < 0 || out < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) {
            ::_exit(127);
        }
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }

    process_result result;
    wait_for(pid, result);
    result.out = slurp(out_path);
    result.err = without_symbolizer_noise(slurp(err_path));
    std::remove(out_path.c_str());
    std::remove(err_path.c_str());
    return result;
}

std::string bench_binary() { return QSB_BINARY; }

process_result run_until_output(const std::string& program, const std::vector<std::string>& args,
                                const std::string& marker, int signal_to_send, int timeout_ms) {
    const std::string err_path = temp_file("err");
    std::vector<char*> argv = argv_of(program, args);
    int out[2];
    if (::pipe(out) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        const int err = ::open(err_path.c_str(), O_WRONLY | O_TRUNC);
        if (err < 0 || ::dup2(out[1], 1) < 0 || ::dup2(err, 2) < 0) {
            ::_exit(127);
        }
        ::close(out[0]);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    process_result result;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    bool sent = false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            ::kill(pid, SIGKILL);
            break;
        }
        pollfd pfd{out[0], POLLIN, 0};
        if (::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        char buffer[4096];
        const ssize_t got = ::read(out[0], buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        result.out.append(buffer, static_cast<std::size_t>(got));
        if (!sent && result.out.find(marker) != std::string::npos) {
            sent = true;
            ::kill(pid, signal_to_send);
        }
    }
    ::close(out[0]);
    wait_for(pid, result);
    result.err = without_symbolizer_noise(slurp(err_path));
    std::remove(err_path.c_str());
    return result;
}

terminal_result run_in_terminal(const std::string& program, const std::vector<std::string>& args,
                                const std::string& prompt, int signal_to_send, int timeout_ms) {
    std::vector<char*> argv = argv_of(program, args);

    int master = -1;
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
    if (pid < 0) {
        throw std::runtime_error("forkpty failed");
    }
    if (pid == 0) {
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }

    termios start{};
    ::tcgetattr(master, &start);
    terminal_result result;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    bool acted = false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            ::kill(pid, SIGKILL);
            break;
        }
        pollfd pfd{master, POLLIN, 0};
        if (::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        char buffer[4096];
        const ssize_t got = ::read(master, buffer, sizeof buffer);
        if (got <= 0) {
            break; // the child closed the terminal: it has ended
        }
        result.process.out.append(buffer, static_cast<std::size_t>(got));
        if (!acted && result.process.out.find(prompt) != std::string::npos) {
            result.saw_prompt = true;
            acted = true;
            // Let the child reach its read before acting, as a person would.
            ::usleep(100'000);
            if (signal_to_send != 0) {
                ::kill(pid, signal_to_send);
            } else {
                const char key = 'k';
                [[maybe_unused]] const auto written = ::write(master, &key, 1);
            }
        }
    }

    wait_for(pid, result.process);
    termios end{};
    ::tcgetattr(master, &end);
    result.terminal_restored = end.c_lflag == start.c_lflag && end.c_cc[VMIN] == start.c_cc[VMIN];
    ::close(master);
    return result;
}
