// Time zones from the system's zone database (the compiled files under
// /usr/share/zoneinfo), read by the server itself: the C library keeps one
// zone per process, and a schedule may name its own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "format/value_text.h"

namespace vantrelle::server {

/// The folder of the zone database; VANTRELLE_ZONEINFO overrides it.
std::string ZoneFolder();

/// A calendar date and a time of day, with no zone.
using CivilTime = DateTimeValue;

/// Days since 1970-01-01 of a date of the proleptic Gregorian calendar, and
/// back.
int64_t DaysFromCivil(int year, int month, int day);
CivilTime CivilFromSeconds(int64_t seconds);
int64_t SecondsFromCivil(const CivilTime& time);
/// 0 Sunday to 6 Saturday.
int WeekdayOfDays(int64_t days);
int DaysInMonth(int year, int month);

class TimeZone {
 public:
  /// UTC.
  TimeZone() = default;

  /// The zone \a name of the database ("Europe/Paris", "UTC"), or nullopt
  /// with \a problem saying why.
  static std::optional<TimeZone> Load(const std::string& name, std::string* problem);
  /// The server's own zone: TZ when set, else /etc/localtime, else UTC.
  static TimeZone System();
  /// A zone from the text of a compiled zone file; nullopt when it is none.
  static std::optional<TimeZone> FromData(const std::string& name, const std::string& data);

  const std::string& Name() const { return name_; }
  /// Seconds east of UTC at the instant \a utc (seconds since 1970).
  int Offset(int64_t utc) const;
  /// The wall-clock time at \a utc, as seconds since 1970 of that clock.
  int64_t Local(int64_t utc) const { return utc + Offset(utc); }
  /// The first instant whose wall-clock time is \a local or later: the
  /// earlier of a time the clock shows twice, and the end of the gap for a
  /// time it skips.
  int64_t Resolve(int64_t local) const;

 private:
  // The rule of a POSIX TZ string, which continues the table of changes.
  struct Rule {
    int std_offset = 0;
    bool has_dst = false;
    int dst_offset = 0;
    // Each change: kind 'M' (month, week, weekday), 'J' (day 1-365, never
    // Feb 29) or 'D' (day 0-365); the time of day in local seconds.
    char start_kind = 'M', end_kind = 'M';
    int start_a = 0, start_b = 0, start_c = 0, start_time = 7200;
    int end_a = 0, end_b = 0, end_c = 0, end_time = 7200;
  };
  static bool ParseRule(const std::string& text, Rule& rule);
  static int64_t RuleDay(int year, char kind, int a, int b, int c);
  int RuleOffset(int64_t utc) const;

  std::string name_ = "UTC";
  std::vector<int64_t> changes_;   // instants at which the offset changes
  std::vector<int> offsets_;       // the offset from each change on
  int initial_offset_ = 0;         // before the first change
  std::optional<Rule> rule_;       // after the last change
};

}  // namespace vantrelle::server
