// The progress line on a terminal: drawn in place, erased when its phase ends.
#include "bench/progress.hpp"

#include <ostream>
#include <utility>

#include "common/format.hpp"

std::optional<double> seconds_left(double elapsed_seconds, std::uint64_t done, std::uint64_t total) {
    if (done == 0 || done > total || elapsed_seconds < 0) {
        return std::nullopt;
    }
    return elapsed_seconds * static_cast<double>(total - done) / static_cast<double>(done);
}

progress_line::progress_line(std::ostream* out, std::function<duration_ns()> clock)
    : out_(out), clock_(std::move(clock)), start_(clock_()) {}

progress_line::~progress_line() { erase(); }

void progress_line::restart(std::uint64_t total) {
    const std::lock_guard lock(mutex_);
    start_ = clock_();
    total_ = total;
    done_ = 0;
}

void progress_line::set_prefix(std::string prefix) {
    const std::lock_guard lock(mutex_);
    prefix_ = std::move(prefix);
    draw_locked();
}

void progress_line::phase(std::string name, std::uint64_t sorts) {
    const std::lock_guard lock(mutex_);
    name_ = std::move(name);
    phase_total_ = sorts;
    phase_done_ = 0;
    detail_.clear();
    draw_locked();
}

void progress_line::set_detail(std::string detail) {
    const std::lock_guard lock(mutex_);
    detail_ = std::move(detail);
    draw_locked();
}

void progress_line::sorted() {
    const std::lock_guard lock(mutex_);
    ++phase_done_;
    ++done_;
    draw_locked();
}

void progress_line::draw() {
    const std::lock_guard lock(mutex_);
    draw_locked();
}

void progress_line::erase() {
    const std::lock_guard lock(mutex_);
    if (out_ != nullptr && visible_) {
        *out_ << "\r\x1b[K" << std::flush;
        visible_ = false;
    }
}

std::string progress_line::text() const {
    const std::lock_guard lock(mutex_);
    return text_locked();
}

std::string progress_line::text_locked() const {
    std::string line = prefix_;
    const auto part = [&line](const std::string& text) {
        if (!text.empty()) {
            line += (line.empty() ? "" : ", ") + text;
        }
    };
    part(name_);
    if (!name_.empty()) {
        part("sort " + std::to_string(phase_done_) + (phase_total_ > 0 ? " of " + std::to_string(phase_total_) : ""));
    }
    part(detail_);
    const double elapsed = static_cast<double>(clock_() - start_) / 1e9;
    part(clock_text(elapsed) + " elapsed");
    if (const auto left = seconds_left(elapsed, done_, total_)) {
        part("about " + clock_text(*left) + " left");
    }
    return line;
}

void progress_line::draw_locked() {
    if (out_ == nullptr) {
        return;
    }
    *out_ << "\r\x1b[K" << text_locked() << std::flush;
    visible_ = true;
}
