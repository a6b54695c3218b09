// The two sides of `ab` as the command line sets them: an options text cut into words, the
// options no side may take, the run options both sides share merged under a side's own, and the
// program each side runs.
#pragma once

#include <optional>
#include <string>
#include <vector>

// The words of `text` as a POSIX shell cuts them: blanks separate, single quotes keep everything,
// double quotes and backslashes keep the next character. Throws std::invalid_argument on an
// unclosed quote or a trailing backslash.
std::vector<std::string> split_words(const std::string& text);

// Why a side may not take `words`: an option that makes it something other than one process's run
// (more processes, a sweep, a precision goal, a record, an export of its own), or a subcommand.
std::optional<std::string> side_refusal(const std::vector<std::string>& words);

// A side's arguments: the `shared` options (as words) that the side's `own` words do not set
// again, then its own words, so that each option is given once and the side's own wins.
std::vector<std::string> side_arguments(const std::vector<std::string>& shared, const std::vector<std::string>& own);

// The same arguments for a trial run that costs next to nothing: a size and a count of sorts given
// as plain numbers become 1000 elements and one sort; anything else stays for the program to judge.
std::vector<std::string> trial_arguments(const std::vector<std::string>& args);

// The program a side names: a path as given, a bare name looked up in PATH as a shell would.
// Throws std::runtime_error when it does not exist or cannot be executed.
std::string resolve_program(const std::string& name);
