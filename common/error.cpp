// Every error as one line on stderr behind the program's name.
#include "common/error.hpp"

#include <ostream>

void print_error(std::ostream& err, const std::string& message) { err << error_prefix << message << std::endl; }
