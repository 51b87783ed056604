#include "server/time_zone.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace vantrelle::server {
namespace {

// A regular file's text, at most 1 MiB; empty for anything else (a
// folder of the database, a device, a file that is not there).
std::string ReadWhole(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return "";
  struct stat st;
  std::string text;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= (1 << 20)) {
    text.resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < text.size()) {
      const ssize_t got = ::read(fd, text.data() + done, text.size() - done);
      if (got <= 0) break;
      done += static_cast<size_t>(got);
    }
    text.resize(done);
  }
  ::close(fd);
  return text;
}

// A big-endian signed number of \a size bytes at \a at.
int64_t BigEndian(const std::string& data, size_t at, size_t size) {
  uint64_t value = 0;
  for (size_t i = 0; i < size; ++i) value = (value << 8) | static_cast<unsigned char>(data[at + i]);
  if (size < 8 && (value >> (size * 8 - 1)) != 0) value |= ~uint64_t{0} << (size * 8);
  return static_cast<int64_t>(value);
}

// A zone name is a path below the database folder: letters, digits and
// "_+-", in parts that do not start with a dot.
bool PlausibleZoneName(const std::string& name) {
  if (name.empty() || name.size() > 100 || name.front() == '/' || name.back() == '/') return false;
  char before = '/';
  for (char c : name) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '_' || c == '+' || c == '-' || c == '/' || c == '.';
    if (!plain || (before == '/' && (c == '.' || c == '/'))) return false;
    before = c;
  }
  return true;
}

// Reads a zone abbreviation of a POSIX TZ string at \a at.
bool SkipZoneName(const std::string& text, size_t& at) {
  if (at < text.size() && text[at] == '<') {
    const size_t close = text.find('>', at);
    if (close == std::string::npos) return false;
    at = close + 1;
    return true;
  }
  const size_t start = at;
  while (at < text.size() && std::isalpha(static_cast<unsigned char>(text[at]))) ++at;
  return at - start >= 3;
}

// Reads "[+-]hh[:mm[:ss]]" at \a at, as seconds.
bool ReadClock(const std::string& text, size_t& at, int& seconds) {
  int sign = 1;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) sign = text[at++] == '-' ? -1 : 1;
  int parts[3] = {0, 0, 0};
  for (int part = 0; part < 3; ++part) {
    if (part > 0) {
      if (at >= text.size() || text[at] != ':') break;
      ++at;
    }
    const size_t start = at;
    while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])) && at - start < 3)
      parts[part] = parts[part] * 10 + (text[at++] - '0');
    if (at == start) return false;
  }
  seconds = sign * (parts[0] * 3600 + parts[1] * 60 + parts[2]);
  return true;
}

bool ReadNumber(const std::string& text, size_t& at, int& value) {
  const size_t start = at;
  value = 0;
  while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])) && at - start < 4)
    value = value * 10 + (text[at++] - '0');
  return at > start;
}

// Reads one change of a rule: "Mm.w.d", "Jn" or "n", then "/time".
bool ReadChange(const std::string& text, size_t& at, char& kind, int& a, int& b, int& c, int& time) {
  kind = 'D';
  a = b = c = 0;
  if (at < text.size() && (text[at] == 'M' || text[at] == 'J')) kind = text[at++];
  if (!ReadNumber(text, at, a)) return false;
  if (kind == 'M') {
    if (at >= text.size() || text[at++] != '.' || !ReadNumber(text, at, b)) return false;
    if (at >= text.size() || text[at++] != '.' || !ReadNumber(text, at, c)) return false;
    if (a < 1 || a > 12 || b < 1 || b > 5 || c > 6) return false;
  } else if ((kind == 'J' && (a < 1 || a > 365)) || a > 365) {
    return false;
  }
  time = 7200;
  if (at < text.size() && text[at] == '/') {
    ++at;
    if (!ReadClock(text, at, time)) return false;
  }
  return true;
}

}  // namespace

std::string ZoneFolder() {
  const char* folder = std::getenv("VANTRELLE_ZONEINFO");
  return folder && *folder ? folder : "/usr/share/zoneinfo";
}

int64_t DaysFromCivil(int year, int month, int day) {
  const int64_t y = static_cast<int64_t>(year) - (month <= 2 ? 1 : 0);
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t year_of_era = y - era * 400;
  const int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

CivilTime CivilFromSeconds(int64_t seconds) {
  int64_t days = seconds / 86400;
  int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  const int64_t z = days + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t day_of_era = z - era * 146097;
  const int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const int64_t mp = (5 * day_of_year + 2) / 153;
  CivilTime time;
  time.day = static_cast<int>(day_of_year - (153 * mp + 2) / 5 + 1);
  time.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  time.year = static_cast<int>(year_of_era + era * 400 + (time.month <= 2 ? 1 : 0));
  time.hour = static_cast<int>(rest / 3600);
  time.minute = static_cast<int>(rest % 3600 / 60);
  time.second = static_cast<int>(rest % 60);
  return time;
}

int64_t SecondsFromCivil(const CivilTime& time) {
  return DaysFromCivil(time.year, time.month, time.day) * 86400 + time.hour * 3600 +
         time.minute * 60 + time.second;
}

int WeekdayOfDays(int64_t days) { return static_cast<int>(((days % 7) + 11) % 7); }

int DaysInMonth(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[(month - 1) % 12];
}

bool TimeZone::ParseRule(const std::string& text, Rule& rule) {
  size_t at = 0;
  int west = 0;
  if (!SkipZoneName(text, at) || !ReadClock(text, at, west)) return false;
  rule = Rule{};
  rule.std_offset = -west;
  if (at == text.size()) return true;
  if (!SkipZoneName(text, at)) return false;
  rule.has_dst = true;
  rule.dst_offset = rule.std_offset + 3600;
  if (at < text.size() && text[at] != ',') {
    if (!ReadClock(text, at, west)) return false;
    rule.dst_offset = -west;
  }
  if (at == text.size()) {
    // No rule given: the United States' rule, as POSIX leaves it to the
    // implementation and the C library does.
    rule.start_kind = rule.end_kind = 'M';
    rule.start_a = 3, rule.start_b = 2, rule.start_c = 0;
    rule.end_a = 11, rule.end_b = 1, rule.end_c = 0;
    return true;
  }
  if (text[at++] != ',' ||
      !ReadChange(text, at, rule.start_kind, rule.start_a, rule.start_b, rule.start_c,
                  rule.start_time) ||
      at >= text.size() || text[at++] != ',' ||
      !ReadChange(text, at, rule.end_kind, rule.end_a, rule.end_b, rule.end_c, rule.end_time))
    return false;
  return at == text.size();
}

int64_t TimeZone::RuleDay(int year, char kind, int a, int b, int c) {
  if (kind == 'M') {
    const int64_t first = DaysFromCivil(year, a, 1);
    int day = 1 + (c - WeekdayOfDays(first) + 7) % 7 + (b - 1) * 7;
    while (day > DaysInMonth(year, a)) day -= 7;
    return first + day - 1;
  }
  const int64_t january = DaysFromCivil(year, 1, 1);
  if (kind == 'J') return january + a - 1 + (DaysInMonth(year, 2) == 29 && a >= 60 ? 1 : 0);
  return january + a;
}

int TimeZone::RuleOffset(int64_t utc) const {
  const Rule& rule = *rule_;
  if (!rule.has_dst) return rule.std_offset;
  const int year = CivilFromSeconds(utc + rule.std_offset).year;
  const int64_t start =
      RuleDay(year, rule.start_kind, rule.start_a, rule.start_b, rule.start_c) * 86400 +
      rule.start_time - rule.std_offset;
  const int64_t end = RuleDay(year, rule.end_kind, rule.end_a, rule.end_b, rule.end_c) * 86400 +
                      rule.end_time - rule.dst_offset;
  const bool summer = start < end ? (utc >= start && utc < end) : !(utc >= end && utc < start);
  return summer ? rule.dst_offset : rule.std_offset;
}

std::optional<TimeZone> TimeZone::FromData(const std::string& name, const std::string& data) {
  if (data.size() < 44 || data.compare(0, 4, "TZif") != 0) return std::nullopt;
  auto counts = [&](size_t at, int64_t (&out)[6]) {
    for (int i = 0; i < 6; ++i) out[i] = BigEndian(data, at + 20 + 4 * i, 4);
  };
  int64_t c[6];  // isutcnt, isstdcnt, leapcnt, timecnt, typecnt, charcnt
  counts(0, c);
  size_t at = 44;
  size_t time_size = 4;
  auto block_size = [&](size_t size) {
    return c[3] * size + c[3] + c[4] * 6 + c[5] + c[2] * (size + 4) + c[1] + c[0];
  };
  for (int64_t n : c)
    if (n < 0 || n > 100000) return std::nullopt;
  if (data[4] >= '2') {
    // Version 2 and later repeat the data with 64-bit times, then a rule.
    at += block_size(4);
    if (data.size() < at + 44 || data.compare(at, 4, "TZif") != 0) return std::nullopt;
    counts(at, c);
    for (int64_t n : c)
      if (n < 0 || n > 100000) return std::nullopt;
    at += 44;
    time_size = 8;
  }
  if (c[4] < 1 || data.size() < at + block_size(time_size)) return std::nullopt;
  TimeZone zone;
  zone.name_ = name;
  const size_t times = at;
  const size_t indices = times + c[3] * time_size;
  const size_t types = indices + c[3];
  std::vector<int> type_offsets;
  for (int64_t i = 0; i < c[4]; ++i) type_offsets.push_back(static_cast<int>(BigEndian(data, types + i * 6, 4)));
  zone.initial_offset_ = type_offsets[0];
  for (int64_t i = 0; i < c[3]; ++i) {
    const size_t type = static_cast<unsigned char>(data[indices + i]);
    if (type >= type_offsets.size()) return std::nullopt;
    zone.changes_.push_back(BigEndian(data, times + i * time_size, time_size));
    zone.offsets_.push_back(type_offsets[type]);
  }
  if (!std::is_sorted(zone.changes_.begin(), zone.changes_.end())) return std::nullopt;
  if (time_size == 8) {
    const size_t footer = at + block_size(8);
    if (footer < data.size() && data[footer] == '\n') {
      const size_t end = data.find('\n', footer + 1);
      const std::string text = data.substr(footer + 1, end == std::string::npos ? std::string::npos
                                                                                : end - footer - 1);
      Rule rule;
      if (!text.empty() && ParseRule(text, rule)) zone.rule_ = rule;
    }
  }
  return zone;
}

std::optional<TimeZone> TimeZone::Load(const std::string& name, std::string* problem) {
  const std::string folder = ZoneFolder();
  if (!PlausibleZoneName(name)) {
    if (problem) *problem = "\"" + name + "\" is not a zone name such as Europe/Paris";
    return std::nullopt;
  }
  std::optional<TimeZone> zone = FromData(name, ReadWhole(folder + "/" + name));
  if (!zone && problem)
    *problem = "\"" + name + "\" is not in the system's zone database (" + folder + ")";
  return zone;
}

TimeZone TimeZone::System() {
  const char* tz = std::getenv("TZ");
  if (tz && *tz) {
    std::string name = tz[0] == ':' ? tz + 1 : tz;
    if (name.starts_with("/")) {
      if (auto zone = FromData(name, ReadWhole(name))) return *zone;
    } else if (auto zone = Load(name, nullptr)) {
      return *zone;
    }
    Rule rule;
    if (ParseRule(name, rule)) {
      TimeZone zone;
      zone.name_ = name;
      zone.initial_offset_ = rule.std_offset;
      zone.rule_ = rule;
      return zone;
    }
    return TimeZone();
  }
  std::string name = "localtime";
  std::ifstream named("/etc/timezone");
  if (named) std::getline(named, name);
  if (auto zone = FromData(name.empty() ? "localtime" : name, ReadWhole("/etc/localtime")))
    return *zone;
  return TimeZone();
}

int TimeZone::Offset(int64_t utc) const {
  if (changes_.empty() || utc >= changes_.back()) {
    if (rule_) return RuleOffset(utc);
    return changes_.empty() ? initial_offset_ : offsets_.back();
  }
  const auto after = std::upper_bound(changes_.begin(), changes_.end(), utc);
  if (after == changes_.begin()) return initial_offset_;
  return offsets_[static_cast<size_t>(after - changes_.begin() - 1)];
}

int64_t TimeZone::Resolve(int64_t local) const {
  const int near[] = {Offset(local - 86400), Offset(local), Offset(local + 86400)};
  std::optional<int64_t> best;
  for (int offset : near) {
    const int64_t utc = local - offset;
    if (Offset(utc) == offset && (!best || utc < *best)) best = utc;
  }
  if (best) return *best;
  // A time the clock skips: the first instant after the gap.
  int64_t low = local - *std::max_element(std::begin(near), std::end(near));
  int64_t high = local - *std::min_element(std::begin(near), std::end(near));
  while (low < high) {
    const int64_t middle = low + (high - low) / 2;
    if (Local(middle) >= local) high = middle;
    else low = middle + 1;
  }
  return low;
}

}  // namespace vantrelle::server
