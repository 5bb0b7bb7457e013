// Date values of the query languages: ISO 8601 text and `$time.…` terms.
#pragma once

#include <optional>
#include <string_view>

#include "mdindex/core/value.h"

namespace mdindex::query {

// "2024-01-31", "2024-01-31T10:00", "2024-01-31 10:00:00.5", with an optional
// "Z" or "+02:00" / "-0500" zone. Text without a zone is UTC (the zone mdls
// prints). Empty when `text` is not wholly such a date.
std::optional<Date> parseIsoDate(std::string_view text);

// A `$time.` term without the prefix: "now", "today", "yesterday",
// "tomorrow", "this_week", "this_month", "this_year", each optionally with
// an integer offset "(n)" in its own unit (seconds for now, days for
// today, weeks, months, years), and "iso(<ISO date>)". Day, week (weeks
// start on Monday), month and year boundaries are local midnight. `now` is
// the reference time in seconds since the epoch.
std::optional<Date> evaluateTimeTerm(std::string_view name, std::optional<long> offset, double now);

}  // namespace mdindex::query
