// Where the benchmark's text goes, and the effects that only make sense on a terminal.
#pragma once

#include <iosfwd>

struct console {
    std::ostream& out;
    bool is_terminal = false; // clearing happens only on a terminal; logs and pipes get plain lines

    // Blanks the screen and homes the cursor; writes nothing when the stream is not a terminal.
    void clear() const;
};

// Standard output, clearing only when it is a terminal.
console standard_console();

// When `fd` is a terminal: prints "Press any key to continue . . ." to `out` and waits for one
// key, without Enter and without echo, then ends the line. The terminal's settings are restored on
// every path; a signal that ends the wait (Ctrl-C, hang-up, termination) restores them, prints one
// line on stderr and ends the process with that signal. When `fd` is not a terminal (a script, a
// pipe, CI), returns at once without printing: nothing waits on input that cannot come.
void wait_for_key(std::ostream& out, int fd);
