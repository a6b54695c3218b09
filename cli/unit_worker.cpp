// A worker of a paired comparison, from its start to its judged end.
#include "cli/unit_worker.hpp"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "cli/step_child.hpp"
#include "common/clock.hpp"

unit_worker::unit_worker(const std::string& program, const std::vector<std::string>& args,
                         const std::vector<unsigned>& cpus, int result_fd, const std::vector<std::string>& environment) {
    const step_child step = spawn_step(program, args, cpus, result_fd, environment, true);
    pid_ = step.pid;
    out_ = step.out;
    err_ = step.err;
    in_ = step.in;
    exited_fd_ = exit_descriptor(pid_);
    ::fcntl(out_, F_SETFL, O_NONBLOCK);
    ::fcntl(err_, F_SETFL, O_NONBLOCK);
}

unit_worker::~unit_worker() {
    end(false, 0);
    for (const int fd : {out_, err_, in_, exited_fd_}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

void unit_worker::end(bool timed_out, std::int64_t timeout_ns) {
    if (ended_) {
        return;
    }
    ended_ = true;
    end_group(pid_, exited_, status_);
    read_rest(err_, err_open_, errors_); // its last error line, up to what is there now
    judge_end(outcome_, exited_, status_, timed_out, timeout_ns, errors_);
    if (outcome_.ok && !finishing_) {
        outcome_.ok = false; // it ended well while a request waited: it took it for something else
        outcome_.failure = "it ended without answering";
    }
}

std::optional<std::string> unit_worker::answer(std::int64_t timeout_ns) {
    const std::int64_t started = now_ns();
    while (!ended_) {
        if (const auto end = lines_.find('\n'); end != std::string::npos) {
            std::string line = lines_.substr(0, end);
            lines_.erase(0, end + 1);
            return line;
        }
        if (!wait_once(out_, out_open_, lines_, err_, err_open_, errors_, exited_fd_, outcome_.interrupted_by)) {
            break;
        }
        if (lines_.find('\n') != std::string::npos) {
            continue;
        }
        // Its answer or its end, whatever holds its pipes; a worker that closed its output but lives
        // on is left to its time limit.
        exited_ = ::waitpid(pid_, &status_, WNOHANG) == pid_;
        const bool timed_out = timeout_ns > 0 && now_ns() - started > timeout_ns;
        if (exited_ || timed_out) {
            end(timed_out && !exited_, timeout_ns);
        }
    }
    end(false, timeout_ns);
    return std::nullopt;
}

std::optional<std::string> unit_worker::ask(const std::string& request, std::int64_t timeout_ns) {
    const std::string line = request + "\n";
    for (std::size_t sent = 0; sent < line.size() && !ended_;) {
        const ssize_t wrote = ::write(in_, line.data() + sent, line.size() - sent);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            break; // it stopped reading: its end says why
        }
        sent += static_cast<std::size_t>(wrote);
    }
    return answer(timeout_ns);
}

const step_outcome& unit_worker::finish(std::int64_t timeout_ns) {
    ::close(in_);
    in_ = -1;
    finishing_ = true; // ending well is now what it should do
    while (!ended_ && answer(timeout_ns)) {
        // a line after its last answer is none of the protocol's: its end decides
    }
    return outcome_;
}
