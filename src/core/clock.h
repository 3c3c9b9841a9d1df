// RFC 3339 timestamps in UTC, written with "+00:00" and the fewest of
// 0, 3, 6 or 9 fractional digits that keep the value exact.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace velmor::core {

using TimePoint = std::chrono::time_point<std::chrono::system_clock, std::chrono::nanoseconds>;

std::string rfc3339(TimePoint t);
std::string rfc3339_now();
// Parses an RFC 3339 text with any offset ("Z" or "+hh:mm"); nullopt when
// malformed.
std::optional<TimePoint> parse_rfc3339(std::string_view text);

}  // namespace velmor::core
