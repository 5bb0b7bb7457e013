#include "mdindex/query/dates.h"

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <string>

namespace mdindex::query {

namespace {

// Reads exactly `n` digits at `*pos`.
bool digits(std::string_view t, size_t* pos, size_t n, int* out) {
  if (*pos + n > t.size()) return false;
  int v = 0;
  for (size_t i = 0; i < n; ++i) {
    const char c = t[*pos + i];
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  *pos += n;
  *out = v;
  return true;
}

bool expect(std::string_view t, size_t* pos, char c) {
  if (*pos < t.size() && t[*pos] == c) {
    ++*pos;
    return true;
  }
  return false;
}

double localMidnight(double now, int addDays, int addMonths, int addYears, bool weekStart, bool monthStart,
                     bool yearStart) {
  const time_t t = static_cast<time_t>(std::floor(now));
  struct tm tm {};
  localtime_r(&t, &tm);
  tm.tm_hour = tm.tm_min = tm.tm_sec = 0;
  if (weekStart) tm.tm_mday -= (tm.tm_wday + 6) % 7;
  if (monthStart) tm.tm_mday = 1;
  if (yearStart) {
    tm.tm_mday = 1;
    tm.tm_mon = 0;
  }
  tm.tm_mday += addDays;
  tm.tm_mon += addMonths;
  tm.tm_year += addYears;
  tm.tm_isdst = -1;
  return static_cast<double>(mktime(&tm));
}

}  // namespace

std::optional<Date> parseIsoDate(std::string_view t) {
  size_t pos = 0;
  int year, month, day, hour = 0, minute = 0, second = 0;
  double fraction = 0;
  if (!digits(t, &pos, 4, &year) || !expect(t, &pos, '-') || !digits(t, &pos, 2, &month) ||
      !expect(t, &pos, '-') || !digits(t, &pos, 2, &day))
    return std::nullopt;
  if (month < 1 || month > 12 || day < 1 || day > 31) return std::nullopt;
  int zoneSeconds = 0;
  if (pos < t.size() && (t[pos] == 'T' || t[pos] == ' ')) {
    ++pos;
    if (!digits(t, &pos, 2, &hour) || !expect(t, &pos, ':') || !digits(t, &pos, 2, &minute)) return std::nullopt;
    if (expect(t, &pos, ':') && !digits(t, &pos, 2, &second)) return std::nullopt;
    if (hour > 23 || minute > 59 || second > 60) return std::nullopt;
    if (expect(t, &pos, '.')) {
      double scale = 0.1;
      size_t start = pos;
      while (pos < t.size() && t[pos] >= '0' && t[pos] <= '9') {
        fraction += (t[pos++] - '0') * scale;
        scale /= 10;
      }
      if (pos == start) return std::nullopt;
    }
    if (expect(t, &pos, 'Z')) {
    } else if (pos < t.size() && (t[pos] == '+' || t[pos] == '-')) {
      const int sign = t[pos++] == '-' ? -1 : 1;
      int zh, zm = 0;
      if (!digits(t, &pos, 2, &zh)) return std::nullopt;
      expect(t, &pos, ':');
      if (pos < t.size() && !digits(t, &pos, 2, &zm)) return std::nullopt;
      zoneSeconds = sign * (zh * 3600 + zm * 60);
    }
  }
  if (pos != t.size()) return std::nullopt;
  struct tm tm {};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  const time_t utc = timegm(&tm);
  return Date{static_cast<double>(utc) - zoneSeconds + fraction};
}

std::optional<Date> evaluateTimeTerm(std::string_view name, std::optional<long> offset, double now) {
  const int n = static_cast<int>(offset.value_or(0));
  if (name == "now") return Date{now + static_cast<double>(offset.value_or(0))};
  if (name == "today") return Date{localMidnight(now, n, 0, 0, false, false, false)};
  if (name == "yesterday") return Date{localMidnight(now, n - 1, 0, 0, false, false, false)};
  if (name == "tomorrow") return Date{localMidnight(now, n + 1, 0, 0, false, false, false)};
  if (name == "this_week") return Date{localMidnight(now, 7 * n, 0, 0, true, false, false)};
  if (name == "this_month") return Date{localMidnight(now, 0, n, 0, false, true, false)};
  if (name == "this_year") return Date{localMidnight(now, 0, 0, n, false, false, true)};
  return std::nullopt;
}

}  // namespace mdindex::query
