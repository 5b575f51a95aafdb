// "TimeInterval" and "MonthDays" texts, and the window built from them.
#include <cstdint>
#include <string>
#include <vector>

#include "monitor/schedule.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  sentrel::RegionalSettings regional;
  sentrel::ParseTimeOfDay(text, regional);
  std::string flags = sentrel::ParseMonthDays(text);
  if (flags.size() != 31) __builtin_trap();

  std::vector<std::string> ranges;
  size_t start = 0;
  while (start <= text.size()) {
    size_t nl = text.find('\n', start);
    ranges.push_back(text.substr(start, nl == std::string::npos ? std::string::npos : nl - start));
    if (nl == std::string::npos) break;
    start = nl + 1;
  }
  sentrel::ScheduleWindow window;
  window.Configure(text.substr(0, 9), text, true, ranges, regional);
  if (window.bounds().size() != 2 * ranges.size()) __builtin_trap();
  for (int h = 0; h < 24; h += 5) {
    window.Contains(sentrel::LocalTimeFromValue(46362.0 + h / 24.0));
  }
  return 0;
}
