// A history's location read apart: a file, a PostgreSQL URI or a libpq key/value string, so that a
// password is only ever shown masked, whatever its characters, and never leaks through a message.
#pragma once

#include <optional>
#include <string>
#include <vector>

// A PostgreSQL location as this program uses it.
struct postgres_location {
    std::string shown;   // rebuilt from its parts, every password "***": safe for any output
    std::string connect; // what libpq is handed: a URI's password encoded where libpq would split
                         // it, no empty query, connect_timeout=10 unless it sets one
    bool has_password = false;
    std::vector<std::string> secrets; // the password as typed, decoded and as handed to libpq
};

// The location read as PostgreSQL's: a postgresql:// or postgres:// URI, or a key/value string
// whose first keyword is libpq's ("host=db dbname=q", "service=team"); nothing for a file. Throws
// history_error (status 2) for a key/value string libpq could not read, or one that starts with
// an unknown keyword and would otherwise become a file of that name. O(length).
std::optional<postgres_location> read_postgres_location(const std::string& location);

// `message` with every secret replaced by "***", longest first. O(message × secrets).
std::string without_secrets(std::string message, const std::vector<std::string>& secrets);
