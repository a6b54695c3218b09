#include "bench/console.hpp"

#include <unistd.h>

#include <iostream>

void console::clear() const {
    if (is_terminal) {
        out << "\x1b[H\x1b[2J" << std::flush;
    }
}

console standard_console() { return console{std::cout, ::isatty(STDOUT_FILENO) == 1}; }
