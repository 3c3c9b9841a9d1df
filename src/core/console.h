// Console output. Results go to standard output; progress and statistics
// to standard error, whose failure ends the process (status 1): a run that
// cannot report its progress must not go on acting unseen.
#pragma once

#include <string_view>

namespace velmor::core {

void print_out(std::string_view text);
void print_err(std::string_view text);

}  // namespace velmor::core
