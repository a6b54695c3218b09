#include "common/error.hpp"

#include <ostream>

void print_error(std::ostream& err, const std::string& message) { err << error_prefix << message << std::endl; }
