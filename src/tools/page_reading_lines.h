// Line handling shared by the page-reading files; not part of the tools
// module's face.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velmor::tools::page_lines {

// The lines of `text` split at "\n", each without a "\r" before it; a final
// line feed does not start an empty last line.
std::vector<std::string_view> split(std::string_view text);

// `line` without its leading spaces and tabs.
std::string_view indent_stripped(std::string_view line);

// `line` lower-cased into `out` (ASCII quickly, anything else with the full
// mapping); `out` is reused so that line loops do not allocate.
void lower_into(std::string_view line, std::string& out);

}  // namespace velmor::tools::page_lines
