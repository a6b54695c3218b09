// The one progress line: on a terminal's standard error, rewritten in place, erased when its phase
// ends, so that what the terminal finally shows is exactly the program's output. Nowhere else:
// logs and pipes get none of it. Callers draw it only between timed sorts, never inside one.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <mutex>
#include <optional>
#include <string>

#include "common/clock.hpp"

// How long the rest will take at the pace so far; nothing while no unit is done or the count is
// past its total (a wrong estimate is worse than none).
std::optional<double> seconds_left(double elapsed_seconds, std::uint64_t done, std::uint64_t total);

class progress_line {
public:
    // `out` is null when there is no terminal to draw on: then every call does nothing.
    explicit progress_line(std::ostream* out, std::function<duration_ns()> clock = now_ns);
    ~progress_line();
    progress_line(const progress_line&) = delete;
    progress_line& operator=(const progress_line&) = delete;

    // Starts the clock and the count that the estimate covers: `total` sorts from now on.
    void restart(std::uint64_t total);
    // What stands before the phase: "step 2/3 (2 CPUs)".
    void set_prefix(std::string prefix);
    // A new phase (or strategy) of `sorts` sorts; 0 when the count is open.
    void phase(std::string name, std::uint64_t sorts);
    // Added after the sort count: "precision 3.1% (target 2%)".
    void set_detail(std::string detail);
    // One more sort done; safe from any thread.
    void sorted();
    // Draws the line again (the elapsed time moves on).
    void draw();
    // Erases the line; the next phase draws a new one.
    void erase();

    // The line as drawn now, without the terminal's control sequences.
    std::string text() const;

private:
    std::string text_locked() const;
    void draw_locked();

    std::ostream* out_;
    std::function<duration_ns()> clock_;
    mutable std::mutex mutex_;
    duration_ns start_ = 0;
    std::uint64_t total_ = 0;
    std::uint64_t done_ = 0;
    std::string prefix_;
    std::string name_;
    std::string detail_;
    std::uint64_t phase_total_ = 0;
    std::uint64_t phase_done_ = 0;
    bool visible_ = false;
};
