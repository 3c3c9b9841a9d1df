#include "core/clock.h"

#include <fmt/format.h>

#include <cstdio>

namespace velmor::core {
namespace {

using namespace std::chrono;

bool digits(std::string_view s, std::size_t pos, std::size_t n, int* out) {
  if (pos + n > s.size()) return false;
  int v = 0;
  for (std::size_t i = pos; i < pos + n; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    v = v * 10 + (s[i] - '0');
  }
  *out = v;
  return true;
}

}  // namespace

std::string rfc3339(TimePoint t) {
  auto day = floor<days>(t);
  year_month_day ymd{day};
  hh_mm_ss hms{floor<nanoseconds>(t - day)};
  auto nanos = hms.subseconds().count();
  std::string frac;
  if (nanos != 0) {
    if (nanos % 1000000 == 0)
      frac = fmt::format(".{:03}", nanos / 1000000);
    else if (nanos % 1000 == 0)
      frac = fmt::format(".{:06}", nanos / 1000);
    else
      frac = fmt::format(".{:09}", nanos);
  }
  return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}{}+00:00", static_cast<int>(ymd.year()),
                     static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                     hms.hours().count(), hms.minutes().count(), hms.seconds().count(), frac);
}

std::string rfc3339_now() {
  return rfc3339(time_point_cast<nanoseconds>(system_clock::now()));
}

std::optional<TimePoint> parse_rfc3339(std::string_view s) {
  int y, mo, d, h, mi, se;
  if (!digits(s, 0, 4, &y) || s.size() < 19 || s[4] != '-' || !digits(s, 5, 2, &mo) ||
      s[7] != '-' || !digits(s, 8, 2, &d) || (s[10] != 'T' && s[10] != 't' && s[10] != ' ') ||
      !digits(s, 11, 2, &h) || s[13] != ':' || !digits(s, 14, 2, &mi) || s[16] != ':' ||
      !digits(s, 17, 2, &se))
    return std::nullopt;
  std::size_t pos = 19;
  long long nanos = 0;
  if (pos < s.size() && s[pos] == '.') {
    ++pos;
    int count = 0;
    while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
      if (count < 9) nanos = nanos * 10 + (s[pos] - '0');
      ++count;
      ++pos;
    }
    if (count == 0) return std::nullopt;
    for (int i = count; i < 9; ++i) nanos *= 10;
  }
  int offset_minutes = 0;
  if (pos < s.size() && (s[pos] == 'Z' || s[pos] == 'z')) {
    ++pos;
  } else if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) {
    int oh, om;
    if (!digits(s, pos + 1, 2, &oh) || pos + 3 >= s.size() || s[pos + 3] != ':' ||
        !digits(s, pos + 4, 2, &om))
      return std::nullopt;
    offset_minutes = (oh * 60 + om) * (s[pos] == '-' ? -1 : 1);
    pos += 6;
  } else {
    return std::nullopt;
  }
  if (pos != s.size()) return std::nullopt;
  year_month_day ymd{year{y}, month{static_cast<unsigned>(mo)}, day{static_cast<unsigned>(d)}};
  if (!ymd.ok() || h > 23 || mi > 59 || se > 60) return std::nullopt;
  TimePoint t = sys_days{ymd} + hours{h} + minutes{mi} + seconds{se} + nanoseconds{nanos};
  return t - minutes{offset_minutes};
}

}  // namespace velmor::core
