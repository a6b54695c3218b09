// The benchmark's output streams, and what is done only on a terminal.
#include "bench/console.hpp"

#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <iterator>

#include "common/error.hpp"

namespace {

// What a signal handler needs to put the terminal back; written before the handlers are set.
termios saved_settings;
int saved_fd = -1;

constexpr int ending_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

extern "C" void restore_and_end(int sig) {
    // Only async-signal-safe calls here.
    tcsetattr(saved_fd, TCSANOW, &saved_settings);
    constexpr char message[] = "interrupted while waiting for a key\n";
    [[maybe_unused]] auto written = write(STDERR_FILENO, "\n", 1);
    written = write(STDERR_FILENO, error_prefix, sizeof error_prefix - 1);
    written = write(STDERR_FILENO, message, sizeof message - 1);
    if (sig == SIGQUIT) {
        _exit(status_after_signal(sig)); // its default action would dump core
    }
    signal(sig, SIG_DFL);
    raise(sig);
}

} // namespace

void console::clear() const {
    if (is_terminal) {
        out << "\x1b[H\x1b[2J" << std::flush;
    }
}

console standard_console(bool stdout_is_export) {
    std::ostream* progress = ::isatty(STDERR_FILENO) == 1 ? &std::cerr : nullptr;
    if (stdout_is_export) {
        return console{std::cerr, ::isatty(STDERR_FILENO) == 1, progress};
    }
    return console{std::cout, ::isatty(STDOUT_FILENO) == 1, progress};
}

bool can_wait_for_key(int in_fd, int out_fd) {
    if (::isatty(in_fd) != 1 || ::isatty(out_fd) != 1) {
        return false;
    }
    const pid_t foreground = ::tcgetpgrp(in_fd);
    return foreground > 0 && foreground == ::getpgrp();
}

void wait_for_key(std::ostream& out, int fd) {
    if (!can_wait_for_key(fd, STDOUT_FILENO) || tcgetattr(fd, &saved_settings) != 0) {
        return;
    }
    saved_fd = fd;

    struct sigaction ending {};
    ending.sa_handler = restore_and_end;
    sigemptyset(&ending.sa_mask);
    struct sigaction previous[std::size(ending_signals)];
    for (std::size_t k = 0; k < std::size(ending_signals); ++k) {
        sigaction(ending_signals[k], &ending, &previous[k]);
    }

    out << "Press any key to continue . . ." << std::flush;

    termios raw = saved_settings;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &raw) == 0) {
        char key = 0;
        // End of input counts as a key: there is nothing left to wait for.
        while (::read(fd, &key, 1) < 0 && errno == EINTR) {
        }
        tcsetattr(fd, TCSANOW, &saved_settings);
    }

    for (std::size_t k = 0; k < std::size(ending_signals); ++k) {
        sigaction(ending_signals[k], &previous[k], nullptr);
    }
    out << std::endl;
}
