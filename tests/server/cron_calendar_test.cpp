#include "server/cron_calendar.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vantrelle::server {
namespace {

// "2027-03-28T01:00:00Z" as seconds since 1970.
int64_t Utc(const std::string& text) {
  CivilTime time;
  std::sscanf(text.c_str(), "%d-%d-%dT%d:%d:%d", &time.year, &time.month, &time.day, &time.hour,
              &time.minute, &time.second);
  return SecondsFromCivil(time);
}

TimeZone Zone(const std::string& name) {
  std::string problem;
  std::optional<TimeZone> zone = TimeZone::Load(name, &problem);
  EXPECT_TRUE(zone) << problem;
  return zone.value_or(TimeZone());
}

TEST(CronCalendar, NextFireTimesAcrossMonthEndsLeapDaysAndClockChanges) {
  const struct {
    const char* calendar;
    const char* zone;
    const char* after;
    std::vector<std::string> next;  // on the zone's clock
  } kCases[] = {
      {"0 6 1 * *", "Europe/Paris", "2026-12-10T00:00:00",
       {"2027-01-01T06:00:00+01:00", "2027-02-01T06:00:00+01:00", "2027-03-01T06:00:00+01:00",
        "2027-04-01T06:00:00+02:00", "2027-05-01T06:00:00+02:00"}},
      // The clock skips 02:00-03:00: the skipped time fires once, at 03:00.
      {"30 2 * * *", "Europe/Paris", "2027-03-27T12:00:00",
       {"2027-03-28T03:00:00+02:00", "2027-03-29T02:30:00+02:00"}},
      {"*/20 2 * * *", "Europe/Paris", "2027-03-27T12:00:00",
       {"2027-03-28T03:00:00+02:00", "2027-03-29T02:00:00+02:00"}},
      // The clock shows 02:00-03:00 twice: each time fires once, the first time.
      {"*/30 2 * * *", "Europe/Paris", "2027-10-30T23:00:00",
       {"2027-10-31T02:00:00+02:00", "2027-10-31T02:30:00+02:00", "2027-11-01T02:00:00+01:00"}},
      {"30 2 * * *", "America/New_York", "2027-03-13T12:00:00",
       {"2027-03-14T03:00:00-04:00", "2027-03-15T02:30:00-04:00"}},
      {"0 0 29 2 *", "UTC", "2027-01-01T00:00:00",
       {"2028-02-29T00:00:00+00:00", "2032-02-29T00:00:00+00:00"}},
      {"0 12 31 * *", "UTC", "2027-01-31T12:00:00",
       {"2027-03-31T12:00:00+00:00", "2027-05-31T12:00:00+00:00"}},
      // Day of month and day of week both given: either one will do.
      {"0 0 13 * fri", "UTC", "2027-08-01T00:00:00",
       {"2027-08-06T00:00:00+00:00", "2027-08-13T00:00:00+00:00", "2027-08-20T00:00:00+00:00"}},
      {"@weekly", "UTC", "2027-08-01T00:00:00", {"2027-08-08T00:00:00+00:00"}},
      {"@monthly", "Asia/Kolkata", "2027-08-01T00:00:00", {"2027-09-01T00:00:00+05:30"}},
      {"15 8-10/2 * jan-feb mon-fri", "UTC", "2027-02-26T09:00:00",
       {"2027-02-26T10:15:00+00:00", "2028-01-03T08:15:00+00:00"}},
      // Past the zone file's table, the zone's rule carries on.
      {"0 6 1 7 *", "Europe/Paris", "2040-01-01T00:00:00", {"2040-07-01T06:00:00+02:00"}},
      {"0 3 * * 0", "Australia/Sydney", "2027-04-03T00:00:00",
       {"2027-04-04T03:00:00+10:00", "2027-04-11T03:00:00+10:00"}},
  };
  for (const auto& c : kCases) {
    std::string problem;
    std::optional<CronCalendar> calendar = CronCalendar::Parse(c.calendar, &problem);
    ASSERT_TRUE(calendar) << c.calendar << ": " << problem;
    const TimeZone zone = Zone(c.zone);
    std::vector<std::string> next;
    for (int64_t time : calendar->NextTimes(Utc(c.after), zone, static_cast<int>(c.next.size())))
      next.push_back(Rfc3339In(time, zone));
    EXPECT_EQ(next, c.next) << c.calendar << " in " << c.zone << " after " << c.after;
  }
}

TEST(CronCalendar, CatchUpFindsOnlyTheLastMissedTime) {
  const CronCalendar calendar = *CronCalendar::Parse("0 * * * *", nullptr);
  const TimeZone utc;
  EXPECT_EQ(calendar.LastBetween(Utc("2027-01-01T00:00:00"), Utc("2027-01-03T05:30:00"), utc),
            Utc("2027-01-03T05:00:00"));
  EXPECT_FALSE(calendar.LastBetween(Utc("2027-01-01T00:00:00"), Utc("2027-01-01T00:59:59"), utc));
}

TEST(CronCalendar, BadCalendarsSayWhichFieldAndWhy) {
  const struct {
    const char* calendar;
    const char* problem;
  } kCases[] = {
      {"61 * * * *", "the minute field \"61\" is outside 0-59"},
      {"* * *", "has 3 fields; a calendar has five"},
      {"0 0 30 2 *", "names a day that never comes"},
      {"@often", "is not one of @hourly"},
      {"0 x * * *", "the hour field \"x\" holds \"x\", which is neither a number nor a range"},
      {"*/0 * * * *", "has a step that is not a number from 1 to 99"},
      {"0 0 * 12-1 *", "has a range that runs backwards"},
      {"0 0 1, * *", "has an empty item"},
  };
  for (const auto& c : kCases) {
    std::string problem;
    EXPECT_FALSE(CronCalendar::Parse(c.calendar, &problem)) << c.calendar;
    EXPECT_NE(problem.find(c.problem), std::string::npos) << c.calendar << ": " << problem;
  }
  std::string problem;
  EXPECT_FALSE(TimeZone::Load("Mars/Olympus", &problem));
  EXPECT_NE(problem.find("not in the system's zone database"), std::string::npos) << problem;
  EXPECT_FALSE(TimeZone::Load("../../etc/passwd", &problem));
}

TEST(RelativeDates, ComputedAtTheFireTimeOnTheZonesClock) {
  const struct {
    const char* value;
    const char* fire;
    const char* zone;
    const char* expanded;
  } kCases[] = {
      {"{today:yyyy-mm-dd}", "2027-01-01T05:00:00", "Europe/Paris", "2027-01-01"},
      // Still the last day of the year in UTC, but the new year in Paris.
      {"{today:yyyy-mm-dd}", "2026-12-31T23:30:00", "Europe/Paris", "2027-01-01"},
      {"{today:yyyy-mm-dd}", "2026-12-31T23:30:00", "UTC", "2026-12-31"},
      {"{previous day:dd.mm.yyyy}", "2027-01-01T05:00:00", "Europe/Paris", "31.12.2026"},
      {"{previous week:yyyy-mm-dd}", "2027-01-01T05:00:00", "Europe/Paris", "2026-12-21"},
      {"{previous week}", "2027-01-04T05:00:00", "Europe/Paris", "2026-12-28"},
      {"{previous month:yyyy-mm}", "2027-01-01T05:00:00", "Europe/Paris", "2026-12"},
      {"{first day of previous month:yyyy-mm-dd}", "2027-03-31T05:00:00", "UTC", "2027-02-01"},
      {"{last day of previous month:yyyy-mm-dd}", "2028-03-01T00:30:00", "Europe/Paris",
       "2028-02-29"},
      {"from {first day of previous month:yyyy-mm-dd} to {last day of previous month:dd}",
       "2027-05-02T05:00:00", "UTC", "from 2027-04-01 to 30"},
      {"Sales {Previous Month:mmmm yyyy}", "2027-01-01T05:00:00", "UTC", "Sales December 2026"},
      {"plain text", "2027-01-01T05:00:00", "UTC", "plain text"},
  };
  for (const auto& c : kCases) {
    std::string problem;
    EXPECT_EQ(ExpandRelativeDates(c.value, Utc(c.fire), Zone(c.zone), &problem).value_or(problem),
              c.expanded)
        << c.value << " at " << c.fire << " in " << c.zone;
  }
  for (const char* bad : {"{tomorrow:yyyy}", "{today:yyyy"}) {
    std::string problem;
    EXPECT_FALSE(ExpandRelativeDates(bad, 0, TimeZone(), &problem)) << bad;
    EXPECT_NE(problem.find(bad), std::string::npos) << problem;
  }
}

}  // namespace
}  // namespace vantrelle::server
