// Action texts through the macro expansion, the date-time patterns, the
// argument splitter and the file-operation list: no input may crash them,
// the marks of an expanded text always match it character for character,
// and an entry of a file-operation list is never cut at a ";" that a file
// name brought.
#include <cstdint>
#include <string>

#include "actions/date_format.h"
#include "actions/file_operation.h"
#include "actions/macros.h"
#include "platform/process.h"

namespace {

// The same time at every reading, so that two expansions of one text agree.
class FixedClock final : public sentrel::Clock {
 public:
  sentrel::LocalTime Now() override { return sentrel::LocalTimeFromValue(46363.75); }
  int64_t TickMs() override { return 0; }
  bool WaitFor(sentrel::Wakeup&, int) override { return false; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int start = static_cast<int8_t>(data[0]) % 6;
  const int count = static_cast<int8_t>(data[1]) % 4;
  const std::string text(reinterpret_cast<const char*>(data) + 2, size - 2);

  static FixedClock clock;
  sentrel::Services services;
  services.clock = &clock;
  sentrel::FileList files = {
      {"/data/logs/a.txt", 45000.25, 1234, sentrel::kStateAdded},
      {"C:x/y z/\"q'.tar.gz", -1.5, -7, sentrel::kStateChanged},
      {"..", 2958465.999999, 0, sentrel::kStateDeleted},
      {"", 1e300, 5'000'000'000, sentrel::kStateOlder},
  };
  for (const auto& record : files) sentrel::ExpandForFile(record, text, services);

  std::string plain;
  sentrel::MarkedText marked;
  const int used = sentrel::ExpandForBatch(files, plain, text, start, count, services);
  if (sentrel::ExpandForBatch(files, marked, text, start, count, services) != used) __builtin_trap();
  if (used < 1 || marked.text != plain || marked.literal.size() != marked.text.size()) __builtin_trap();
  sentrel::SplitArguments(marked.text, marked.literal);
  sentrel::SplitArguments(text);
  size_t covered = 0;
  for (const sentrel::OpEntry& e : sentrel::SplitOpList(marked)) {
    if (e.literal.size() != e.path.size()) __builtin_trap();
    if (marked.text.compare(covered, e.path.size(), e.path) != 0) __builtin_trap();
    covered += e.path.size() + 1;
    for (size_t i = 0; i < e.path.size(); ++i) {
      if (e.path[i] == ';' && !e.literal[i]) __builtin_trap();
    }
  }
  std::string none;
  sentrel::ExpandForBatch(sentrel::FileList(), none, text, 0, count, services);
  sentrel::MarkedText on_placeholder;
  sentrel::ExpandForBatch(sentrel::FileList(), on_placeholder, text, 0, count, services);
  if (on_placeholder.text != none) __builtin_trap();

  for (double value : {45000.5, -693593.0, 2958465.99, 0.0}) {
    std::string out;
    sentrel::FormatDateTime(out, text, value, services.regional);
  }
  sentrel::RegionalSettings looping;
  looping.short_date = text;
  looping.long_time = text;
  std::string out;
  sentrel::FormatDateTime(out, text, 45000.5, looping);
  return 0;
}
