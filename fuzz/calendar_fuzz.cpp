// Fuzz target for schedule calendars, relative dates and zone files. The
// input is a calendar and a parameter value separated by the first NUL byte;
// the whole input is also read as a compiled zone file. The fire times a
// calendar gives must rise, each after the one before.
// Also compiles: src/server/time_zone.cpp src/server/cron_calendar.cpp
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "server/cron_calendar.h"

using vantrelle::server::CronCalendar;
using vantrelle::server::TimeZone;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool initialised = std::setlocale(LC_ALL, "C.UTF-8") != nullptr;
  (void)initialised;
  static const TimeZone paris = TimeZone::Load("Europe/Paris", nullptr).value_or(TimeZone());
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t split = input.find('\0');
  const std::string calendar_text = input.substr(0, split);
  const std::string value = split == std::string::npos ? "" : input.substr(split + 1);

  std::optional<TimeZone> file = TimeZone::FromData("fuzz", input);
  for (const TimeZone& zone : {paris, file.value_or(TimeZone())}) {
    for (int64_t at : {int64_t{0}, int64_t{1806449400}, int64_t{4102444800}}) {
      (void)zone.Resolve(zone.Local(at));
      (void)ExpandRelativeDates(value, at, zone, nullptr);
    }
  }
  std::string problem;
  if (std::optional<CronCalendar> calendar = CronCalendar::Parse(calendar_text, &problem)) {
    int64_t before = 1806449400;  // 2027-03-28, the night the clock goes forward in Paris
    for (int64_t time : calendar->NextTimes(before, paris, 4)) {
      if (time <= before) std::abort();
      before = time;
    }
  } else if (problem.empty()) {
    std::abort();  // a refusal always says why
  }
  return 0;
}
