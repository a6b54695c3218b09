// A child of this program (a sweep's step, a run's process, an `ab` side) as a process of its own:
// started on its CPUs, followed, ended on every path; and the signals that end a run of them.
#include "cli/step_process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <stdexcept>
#include <system_error>

#include "cli/step_child.hpp"
#include "common/clock.hpp"
#include "common/count.hpp"
#include "common/error.hpp"

namespace {

int signal_pipe[2] = {-1, -1};
constexpr int sweep_signals[] = {SIGINT, SIGTERM, SIGHUP};
static_assert(std::size(sweep_signals) == 3, "signal_handlers keeps one previous handler per signal");

extern "C" void note_signal(int sig) {
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(sig);
    [[maybe_unused]] const auto written = ::write(signal_pipe[1], &byte, 1);
    errno = saved;
}

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

// Keeps the last 64 KiB of what a child wrote: its last lines say why it ended, and a child that
// writes without end cannot fill this process's memory.
void keep(std::string& into, const char* bytes, ssize_t count) {
    into.append(bytes, static_cast<std::size_t>(count));
    into.erase(0, into.size() > (1u << 16) ? into.size() - (1u << 16) : 0);
}

// Reads whatever is there without blocking; false at end of input.
bool drain(int fd, std::string& into) {
    char buffer[4096];
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got > 0) {
        keep(into, buffer, got);
        return true;
    }
    return got < 0 && (errno == EINTR || errno == EAGAIN);
}

} // namespace

// Between fork and exec the child makes only async-signal-safe calls.
step_child spawn_step(const std::string& program, const std::vector<std::string>& args,
                      const std::vector<unsigned>& cpus, int result_fd, const std::vector<std::string>& environment,
                      bool with_input) {
    // Everything the child needs is prepared before fork: after it, only async-signal-safe calls.
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    // The step learns of its result's descriptor from its environment, never from its arguments; a
    // plain run learns of none, not even one this process inherited.
    std::string channel = std::string(step_result_variable) + "=" + std::to_string(result_fd);
    std::vector<char*> envp;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        if (std::strncmp(*variable, channel.c_str(), std::strlen(step_result_variable) + 1) != 0) {
            envp.push_back(*variable);
        }
    }
    if (result_fd >= 0) {
        envp.push_back(channel.data());
    }
    for (const auto& variable : environment) {
        envp.push_back(const_cast<char*>(variable.c_str()));
    }
    envp.push_back(nullptr);
    cpu_set_t mask;
    CPU_ZERO(&mask);
    for (const unsigned cpu : cpus) {
        CPU_SET(cpu, &mask);
    }
    int out_pipe[2] = {-1, -1};
    int err_pipe[2] = {-1, -1};
    int in_pipe[2] = {-1, -1};
    const auto close_all = [&] {
        for (int* pipe : {out_pipe, err_pipe, in_pipe}) {
            for (int k = 0; k < 2; ++k) {
                if (pipe[k] >= 0) {
                    ::close(pipe[k]);
                }
            }
        }
    };
    if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0 ||
        (with_input && ::pipe2(in_pipe, O_CLOEXEC) != 0)) {
        const int error = errno;
        close_all();
        throw std::system_error(error, std::generic_category(), "cannot create a pipe");
    }
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child == 0) {
        // A group of its own, so that ending it ends whatever it started too (a wrapper's child).
        ::setpgid(0, 0);
        // Should the sweep die without cleaning up, the step dies with it.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) {
            ::_exit(127);
        }
        const int in = with_input ? in_pipe[0] : ::open("/dev/null", O_RDONLY);
        if (::sched_setaffinity(0, sizeof mask, &mask) != 0 || in < 0 || ::dup2(in, 0) < 0 ||
            ::dup2(out_pipe[1], 1) < 0 || ::dup2(err_pipe[1], 2) < 0 ||
            (result_fd >= 0 && ::fcntl(result_fd, F_SETFD, 0) < 0)) {
            ::_exit(127);
        }
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    const int fork_error = errno;
    if (child > 0) {
        ::setpgid(child, child); // also here: the group must exist before anyone signals it
    }
    if (child < 0) {
        close_all();
        throw std::system_error(fork_error, std::generic_category(), "cannot start a step process");
    }
    for (int* end : {&out_pipe[1], &err_pipe[1], &in_pipe[0]}) {
        if (*end >= 0) {
            ::close(*end);
        }
    }
    return {child, out_pipe[0], err_pipe[0], in_pipe[1]};
}

signal_handlers::signal_handlers(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    for (std::size_t k = 0; k < std::size(sweep_signals); ++k) {
        sigaction(sweep_signals[k], &action, &previous_[k]);
    }
}

signal_handlers::~signal_handlers() {
    for (std::size_t k = 0; k < std::size(sweep_signals); ++k) {
        sigaction(sweep_signals[k], &previous_[k], nullptr);
    }
}

signal_catcher::signal_catcher() {
    if (::pipe2(signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        throw std::system_error(errno, std::generic_category(), "cannot create a pipe");
    }
    handlers_.emplace(note_signal);
}

signal_catcher::~signal_catcher() {
    handlers_.reset();
    ::close(signal_pipe[0]);
    ::close(signal_pipe[1]);
}

std::optional<int> inherited_step_result() {
    const char* value = std::getenv(step_result_variable);
    if (value == nullptr) {
        return std::nullopt;
    }
    int fd = -1;
    struct stat info {};
    if (parse_digits(value, fd) != count_error::none || fd <= STDERR_FILENO || ::fcntl(fd, F_GETFD) < 0 ||
        ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        throw std::runtime_error(std::string(step_result_variable) + " does not name a file this process inherited");
    }
    return fd;
}

int signal_catcher::caught() {
    unsigned char byte = 0;
    return ::read(signal_pipe[0], &byte, 1) == 1 ? byte : 0;
}

namespace {

// Reads the step's output lines into `progress`: each line names the strategy of a finished sort.
void follow_events(std::string& events, std::string& current, std::uint64_t runs, progress_line& progress) {
    for (std::size_t end; (end = events.find('\n')) != std::string::npos; events.erase(0, end + 1)) {
        const std::string strategy = events.substr(0, end);
        if (strategy != current) {
            current = strategy;
            progress.phase(strategy, runs);
        }
        progress.sorted();
    }
}

} // namespace

int exit_descriptor(pid_t pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    return -1;
#endif
}

// At most a second where the end has a descriptor, so that a timeout and the elapsed time keep moving.
bool wait_once(int out, bool& out_open, std::string& out_text, int err, bool& err_open, std::string& err_text,
               int exited_fd, int& interrupted) {
    pollfd fds[4] = {{out_open ? out : -1, POLLIN, 0},
                     {err_open ? err : -1, POLLIN, 0},
                     {signal_pipe[0], POLLIN, 0},
                     {exited_fd, POLLIN, 0}};
    if (::poll(fds, 4, exited_fd >= 0 ? 1000 : 100) < 0 && errno != EINTR) {
        return false;
    }
    if ((interrupted = signal_catcher::caught()) != 0) {
        return false;
    }
    if (out_open && fds[0].revents != 0) {
        out_open = drain(out, out_text);
    }
    if (err_open && fds[1].revents != 0) {
        err_open = drain(err, err_text);
    }
    return true;
}

void end_group(pid_t pid, bool exited, int& status) {
    ::kill(-pid, SIGKILL);
    if (!exited) {
        ::kill(pid, SIGKILL);
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
}

void read_rest(int fd, bool open, std::string& into) {
    for (char buffer[4096]; open;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        keep(into, buffer, got);
    }
}

void judge_end(step_outcome& outcome, bool exited, int status, bool timed_out, std::int64_t timeout_ns,
               const std::string& err) {
    if (outcome.interrupted_by == 0) {
        // A signal caught while the step ended still ends the sweep.
        outcome.interrupted_by = signal_catcher::caught();
    }
    if (exited && WIFEXITED(status)) {
        outcome.exit_code = WEXITSTATUS(status);
    }
    if (outcome.interrupted_by != 0) {
        outcome.failure = "interrupted";
    } else if (timed_out) {
        outcome.failure = "it ran past the time limit of " + std::to_string(timeout_ns / 1000000000) +
                          " s and was ended (--timeout)";
    } else if (WIFSIGNALED(status)) {
        outcome.failure = signal_cause(WTERMSIG(status));
    } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        const std::string message = child_error(err);
        outcome.failure = !message.empty() ? message
                                           : "its process ended with status " + std::to_string(WEXITSTATUS(status));
    } else {
        outcome.ok = true;
    }
}

step_outcome run_step_process(const std::string& program, const std::vector<std::string>& args,
                              const std::vector<unsigned>& cpus, int result_fd, std::uint64_t runs,
                              progress_line& progress, std::int64_t timeout_ns,
                              const std::vector<std::string>& environment) {
    const std::int64_t started = now_ns();
    const step_child step = spawn_step(program, args, cpus, result_fd, environment);
    const pid_t child = step.pid;
    const int exited_fd = exit_descriptor(child);
    ::fcntl(step.out, F_SETFL, O_NONBLOCK);
    ::fcntl(step.err, F_SETFL, O_NONBLOCK);

    step_outcome outcome;
    std::string events;
    std::string current; // the strategy the step is timing now
    std::string err;
    bool out_open = true;
    bool err_open = true;
    bool exited = false;
    bool timed_out = false;
    int status = 0;
    // Until the process ends: a child it left behind may hold the pipes open for ever.
    while (!exited && outcome.interrupted_by == 0 && !timed_out) {
        if (!wait_once(step.out, out_open, events, step.err, err_open, err, exited_fd, outcome.interrupted_by)) {
            break;
        }
        exited = ::waitpid(child, &status, WNOHANG) == child;
        timed_out = !exited && timeout_ns > 0 && now_ns() - started > timeout_ns;
        if (result_fd < 0) {
            events.clear(); // a plain run's report, of no use here
        }
        follow_events(events, current, runs, progress);
        progress.draw();
    }
    // The whole group ends on every path: what the step left running, or all of it when it is cut off.
    end_group(child, exited, status);
    read_rest(step.err, err_open, err);
    if (result_fd >= 0 && outcome.interrupted_by == 0) {
        read_rest(step.out, out_open, events);
        follow_events(events, current, runs, progress);
    }
    if (exited_fd >= 0) {
        ::close(exited_fd);
    }
    ::close(step.out);
    ::close(step.err);
    judge_end(outcome, exited, status, timed_out, timeout_ns, err);
    return outcome;
}
