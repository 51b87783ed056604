// When a schedule fires: a five-field cron expression (minute, hour, day of
// month, month, day of week) or @daily, @weekly, @monthly, @yearly, @hourly,
// read on the wall clock of a time zone. A time the clock skips on a change
// to summer time fires once at the first minute after the gap; a time it
// shows twice fires once, the first time.
//
// And the relative dates a schedule's parameter values may hold, computed
// at the fire time in the same zone: "{previous month:yyyy-mm}".
#pragma once

#include <bitset>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "server/time_zone.h"

namespace vantrelle::server {

class CronCalendar {
 public:
  /// Reads \a text; nullopt with \a problem saying which field is wrong and
  /// why.
  static std::optional<CronCalendar> Parse(const std::string& text, std::string* problem);

  /// The first fire time after \a after (seconds since 1970, UTC) on the
  /// clock of \a zone; nullopt when there is none within 30 years
  /// ("0 0 30 2 *").
  std::optional<int64_t> Next(int64_t after, const TimeZone& zone) const;
  /// The next \a count fire times after \a after.
  std::vector<int64_t> NextTimes(int64_t after, const TimeZone& zone, int count) const;
  /// The last fire time at or before \a at and after \a after; nullopt when
  /// there is none in between.
  std::optional<int64_t> LastBetween(int64_t after, int64_t at, const TimeZone& zone) const;

 private:
  bool MatchesDay(int64_t days) const;

  std::bitset<60> minutes_;
  std::bitset<24> hours_;
  std::bitset<32> days_;      // 1-31
  std::bitset<13> months_;    // 1-12
  std::bitset<7> weekdays_;   // 0 Sunday
  bool any_day_ = true;       // the day of month field is "*"
  bool any_weekday_ = true;   // the day of week field is "*"
};

/// \a value with each "{FORM:PICTURE}" replaced by the date FORM names, at
/// the instant \a at on the clock of \a zone, written with PICTURE (a date
/// pattern of the cell patterns; "yyyy-mm-dd" when left out). FORM is one of
/// "today", "previous day", "previous week" (its Monday), "previous month"
/// (its first day), "first day of previous month" and "last day of previous
/// month". Other text is kept as written. nullopt with \a problem for an
/// unknown form or a "{" without its "}".
std::optional<std::string> ExpandRelativeDates(const std::string& value, int64_t at,
                                               const TimeZone& zone, std::string* problem);

/// \a seconds as RFC 3339 on the clock of \a zone ("2027-01-01T06:00:00+01:00").
std::string Rfc3339In(int64_t seconds, const TimeZone& zone);

}  // namespace vantrelle::server
