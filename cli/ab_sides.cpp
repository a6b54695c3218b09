// The sides of `ab`: options texts cut into words, what a side may not take, the shared options merged.
#include "cli/ab_sides.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

#include "cli/options.hpp"
#include "cli/run_settings_table.hpp"

namespace {

std::string option_name(const std::string& word) { return word.substr(0, word.find('=')); }

bool is_option(const std::string& word) { return word.size() > 2 && word.compare(0, 2, "--") == 0; }

// Each option of `words` with its value, if it takes one: {"--chunk", "1000"}, {"--chunk=1000"}.
std::vector<std::vector<std::string>> options_of(const std::vector<std::string>& words) {
    std::vector<std::vector<std::string>> found;
    for (std::size_t k = 0; k < words.size(); ++k) {
        std::vector<std::string> option = {words[k]};
        if (is_option(words[k]) && words[k].find('=') == std::string::npos && run_option_takes_value(words[k]) &&
            k + 1 < words.size()) {
            option.push_back(words[++k]);
        }
        found.push_back(std::move(option));
    }
    return found;
}

bool all_digits(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool executable_file(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

} // namespace

std::vector<std::string> split_words(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    bool in_word = false;
    for (std::size_t k = 0; k < text.size(); ++k) {
        const char c = text[k];
        if (c == ' ' || c == '\t' || c == '\n') {
            if (in_word) {
                words.push_back(word);
                word.clear();
                in_word = false;
            }
            continue;
        }
        in_word = true;
        if (c == '\'') {
            const std::size_t end = text.find('\'', k + 1);
            if (end == std::string::npos) {
                throw std::invalid_argument("a single quote is not closed");
            }
            word += text.substr(k + 1, end - k - 1);
            k = end;
        } else if (c == '"') {
            for (++k; k < text.size() && text[k] != '"'; ++k) {
                if (text[k] == '\\' && k + 1 < text.size() &&
                    (text[k + 1] == '"' || text[k + 1] == '\\' || text[k + 1] == '$' || text[k + 1] == '`')) {
                    ++k;
                }
                word += text[k];
            }
            if (k >= text.size()) {
                throw std::invalid_argument("a double quote is not closed");
            }
        } else if (c == '\\') {
            if (++k >= text.size()) {
                throw std::invalid_argument("it ends in a backslash");
            }
            word += text[k];
        } else {
            word += c;
        }
    }
    if (in_word) {
        words.push_back(word);
    }
    return words;
}

std::optional<std::string> side_refusal(const std::vector<std::string>& words) {
    if (!words.empty() && !is_option(words.front()) && words.front().rfind('-', 0) != 0) {
        return "'" + words.front() + "' is a subcommand or an argument; a side takes the benchmark's run options only";
    }
    for (const auto& option : options_of(words)) {
        const std::string name = option_name(option.front());
        if (auto refused = side_refusal_of(name)) {
            return refused;
        }
        if (name == "--help" || name == "--version" || name == "-h") {
            return name + " makes a side print instead of measuring";
        }
    }
    return std::nullopt;
}

std::vector<std::string> side_arguments(const std::vector<std::string>& shared, const std::vector<std::string>& own) {
    const auto own_options = options_of(own);
    std::vector<std::string> args;
    for (const auto& option : options_of(shared)) {
        const std::string name = option_name(option.front());
        const bool overridden = std::any_of(own_options.begin(), own_options.end(), [&](const auto& mine) {
            return is_option(mine.front()) && option_name(mine.front()) == name;
        });
        if (!overridden) {
            args.insert(args.end(), option.begin(), option.end());
        }
    }
    args.insert(args.end(), own.begin(), own.end());
    return args;
}

std::vector<std::string> trial_arguments(const std::vector<std::string>& args) {
    const std::string size = option_name(setting::size);
    const std::string runs = option_name(setting::runs);
    std::vector<std::string> trial;
    bool size_kept = false;
    bool runs_kept = false;
    for (const auto& option : options_of(args)) {
        const std::string name = option_name(option.front());
        const std::string value = option.size() == 2 ? option[1]
                                  : option.front().find('=') != std::string::npos
                                      ? option.front().substr(option.front().find('=') + 1)
                                      : "";
        // A value the program would refuse stays, so that the trial shows the refusal.
        if ((name == size || name == runs) && all_digits(value)) {
            continue;
        }
        size_kept = size_kept || name == size;
        runs_kept = runs_kept || name == runs;
        trial.insert(trial.end(), option.begin(), option.end());
    }
    if (!size_kept) {
        trial.insert(trial.end(), {size, "1000"});
    }
    if (!runs_kept) {
        trial.insert(trial.end(), {runs, "1"});
    }
    return trial;
}

std::string resolve_program(const std::string& name) {
    if (name.empty()) {
        throw std::runtime_error("the program's name is empty");
    }
    if (name.find('/') != std::string::npos) {
        if (::access(name.c_str(), F_OK) != 0) {
            throw std::runtime_error("'" + name + "' does not exist");
        }
        if (!executable_file(name)) {
            throw std::runtime_error("'" + name + "' cannot be executed");
        }
        return name;
    }
    const char* path = std::getenv("PATH");
    std::string folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    for (std::size_t start = 0; start <= folders.size();) {
        const std::size_t end = std::min(folders.find(':', start), folders.size());
        const std::string folder = end > start ? folders.substr(start, end - start) : ".";
        const std::string candidate = folder + "/" + name;
        if (executable_file(candidate)) {
            return candidate;
        }
        start = end + 1;
    }
    throw std::runtime_error("'" + name + "' is not a program in PATH");
}
