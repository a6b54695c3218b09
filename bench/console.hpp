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
