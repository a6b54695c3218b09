// Where a user's history and the runs it could not take live, created private to the user: the
// folders 0700, the files 0600, since they name the user's machines, CPUs and labels.
#pragma once

#include <filesystem>
#include <string>

// The user's home: $HOME when it is absolute, else the password database's entry. Throws
// history_error (status 2) when neither gives one.
std::filesystem::path home_folder();

// $XDG_DATA_HOME/quicksort_bench/history.sqlite, or <home>/.local/share/quicksort_bench/...
std::filesystem::path default_history_path();

// The history a command names: `given`, else $QUICKSORT_BENCH_HISTORY when it is set, else the default.
std::string history_location(const std::string& given);

// $XDG_STATE_HOME/quicksort_bench/unrecorded, or <home>/.local/state/quicksort_bench/unrecorded.
std::filesystem::path unrecorded_folder();

// Creates `folder` and whichever of its parents are missing, each new one 0700. Throws
// history_error (status 1) when it cannot.
void create_private_folders(const std::filesystem::path& folder);

// Keeps a run's record that could not be stored, as a new 0600 file in unrecorded_folder(); its path.
std::filesystem::path keep_unrecorded(const std::string& document);
