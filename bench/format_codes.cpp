// The cost of every code of the format language as its pattern grows: each
// code is repeated to fill a pattern of 16 KB, then 32, 64, ... 1024 KB, and
// one value is formatted with it. Prints the CPU time per size and the
// growth exponent over the whole range: the time grows as the pattern's
// length to this power, 1 when linear, 2 when quadratic. A code above 1.4 is
// marked, and the exit status is then 1. (CPU time, not wall-clock time, so
// that other work on the machine disturbs the figures less.)
#include <clocale>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "format/format_field_value.h"

namespace {

size_t g_sink = 0;

double CpuSeconds() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Seconds of CPU for one format call, the best of a few (short calls are
// repeated until they take measurable time).
double TimeOne(const std::string& value, const std::string& format) {
  double best = 1e9;
  for (int attempt = 0; attempt < 3; ++attempt) {
    int calls = 0;
    double start = CpuSeconds();
    double elapsed = 0;
    do {
      g_sink += vantrelle::FormatFieldValue(value, format).size();
      ++calls;
      elapsed = CpuSeconds() - start;
    } while (elapsed < 0.02 && calls < 1000);
    best = std::min(best, elapsed / calls);
    if (elapsed > 1.0) break;
  }
  return best;
}

struct Code {
  const char* code;
  const char* value;
};

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "C.UTF-8");
  const char* date = "2026-12-09 20:05:07";
  const char* number = "-1234567.891";
  const char* text = "Report text";
  const std::vector<Code> codes = {
      {"c", date},     {"C", date},      {"d", date},       {"dd", date},    {"ddd", date},
      {"dddd", date},  {"ddddd", date},  {"dddddd", date},  {"w", date},     {"ww", date},
      {"m", date},     {"mm", date},     {"mmm", date},     {"mmmm", date},  {"q", date},
      {"y", date},     {"yy", date},     {"yyyy", date},    {"h", date},     {"hh", date},
      {"n", date},     {"nn", date},     {"s", date},       {"ss", date},    {"ttttt", date},
      {"AM/PM ", date}, {"am/pm ", date}, {"A/P ", date},   {"AMPM ", date}, {"/", date},
      {":", date},     {"0", number},    {"#", number},     {".", number},   {",", number},
      {"%", number},   {"0E+0", number}, {"0e-0", number},  {"\\x", number}, {"\"lit\"", number},
      {"0;", number},  {"@", text},      {"&", text},       {"<", text},     {">", text},
      {"!", text},     {"*", text},      {"_", text},       {"x", text},     {" ", text},
  };
  const size_t largest = argc > 1 ? std::stoul(argv[1]) << 10 : 1024u << 10;
  bool all_linear = true;
  std::printf("%-8s", "code");
  for (size_t size = 16u << 10; size <= largest; size *= 2) std::printf(" %9zuK", size >> 10);
  std::printf("  exponent\n");
  for (const Code& code : codes) {
    std::printf("%-8s", code.code);
    double first = 0, last = 0;
    size_t first_size = 0, last_size = 0;
    for (size_t size = 16u << 10; size <= largest; size *= 2) {
      std::string pattern;
      while (pattern.size() < size) pattern += code.code;
      double seconds = TimeOne(code.value, pattern + "\r\a");
      std::printf(" %8.2fms", seconds * 1e3);
      std::fflush(stdout);
      if (first_size == 0) {
        first = seconds;
        first_size = size;
      }
      last = seconds;
      last_size = size;
      // Plainly not linear: the rest would take minutes.
      if (seconds > 5.0 && last_size > first_size) break;
    }
    double exponent = last_size > first_size
                          ? std::log(last / first) / std::log(static_cast<double>(last_size) /
                                                              static_cast<double>(first_size))
                          : 0;
    bool linear = exponent <= 1.4;
    all_linear = all_linear && linear;
    std::printf("  %5.2f%s\n", exponent, linear ? "" : "  NOT LINEAR");
  }
  return g_sink == 0 || !all_linear ? 1 : 0;
}
