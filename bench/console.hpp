// Where the benchmark's text goes, and the effects that only make sense on a terminal.
#pragma once

#include <ostream>
#include <streambuf>

struct console {
    std::ostream& out;
    bool is_terminal = false; // clearing happens only on a terminal; logs and pipes get plain lines
    std::ostream* progress = nullptr; // where the progress line goes: a terminal's stderr, or nowhere

    // Blanks the screen and homes the cursor; writes nothing when the stream is not a terminal.
    void clear() const;
};

// Standard output, clearing only when it is a terminal; standard error instead when an export
// writes to standard output (`-`), so that standard output holds that export alone.
console standard_console(bool stdout_is_export = false);

// Whether the key wait makes sense: `in_fd` and `out_fd` are both terminals and this process is
// in the foreground of `in_fd`'s terminal. Otherwise nobody sees the prompt (output redirected),
// or the terminal would stop the process (a background job touching its settings).
bool can_wait_for_key(int in_fd, int out_fd);

// When can_wait_for_key(fd, STDOUT_FILENO): prints "Press any key to continue . . ." to `out` and
// waits for one key, without Enter and without echo, then ends the line. The terminal's settings are restored on
// every path; a signal that ends the wait (Ctrl-C, hang-up, termination) restores them, prints one
// line on stderr and ends the process with that signal. Otherwise (a script, a pipe, CI, a file,
// a background job) returns at once without printing: nothing waits on input that cannot come.
void wait_for_key(std::ostream& out, int fd);

// A stream that keeps nothing: where lines go that nobody should see.
class discard_stream : public std::ostream {
    struct discard_buffer : std::streambuf {
        int overflow(int c) override { return c; }
        std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
    } buffer_;

public:
    discard_stream() : std::ostream(&buffer_) {}
};
