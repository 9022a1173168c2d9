#ifndef TABSYNC_BENCH_FIGURES_H_
#define TABSYNC_BENCH_FIGURES_H_

// The figures of a benchmark's closing table: formatting, ratios of two
// times that may be missing, and the process's peak memory.

#include <sys/resource.h>

#include <cstdio>
#include <optional>
#include <string>

namespace tabsync::bench {

// The process's peak resident memory so far, in megabytes.
inline double PeakMemoryMb() {
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024;  // kilobytes on Linux
}

// One number in a printf format ("%.1f").
inline std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// A figure that may be missing (its benchmark failed or did not run): "-".
inline std::string Figure(std::optional<double> value, const char* format) {
  return value ? Format(format, *value) : "-";
}

// a / b, missing when either is missing or b is not positive.
inline std::optional<double> Ratio(std::optional<double> a, std::optional<double> b) {
  if (!a || !b || *b <= 0) return std::nullopt;
  return *a / *b;
}

// "10,000" for 10000.
inline std::string WithThousands(int number) {
  std::string digits = std::to_string(number);
  for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) digits.insert(i, ",");
  return digits;
}

}  // namespace tabsync::bench

#endif  // TABSYNC_BENCH_FIGURES_H_
