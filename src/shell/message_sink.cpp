#include "shell/message_sink.h"

#include <chrono>
#include <mutex>
#include <thread>

#include "platform/std_streams.h"
#include "shell/log_file.h"
#include "shell/system_events.h"

namespace sentrel {
namespace {

constexpr int kLockPollMs = 5;

// Set once by the entry before any item thread starts, read by every write.
LineStamp line_stamp = nullptr;

// How much a line on standard error matters, for the journal
// (`journalctl -p warning`). Lines on standard output are the program's own
// news.
const char* JournalPrefix(std::string_view line) { return IsWarningLine(line) ? "<4>" : "<3>"; }

// One of the process's standard streams. A line is written whole; with a
// line stamp, every line that starts here begins with the stamp, and on the
// journal every line of standard error with its priority.
class StreamSink final : public MessageSink {
 public:
  explicit StreamSink(StdStream stream)
      : stream_(stream),
        journal_(stream == StdStream::kError && StdStreamIsJournal(stream)) {}

  void Write(std::string_view text) override {
    // Queued for the log's own writer, so a blocked stream holds no log line.
    LogText(stream_ == StdStream::kError ? LogLevel::kError : LogLevel::kInfo, text);
    if (stream_ == StdStream::kError) SystemEventText(text);
    std::lock_guard<std::mutex> lock(mu_);
    if (line_stamp == nullptr && !journal_) {
      WriteStdStream(stream_, text);
    } else {
      WriteStdStream(stream_, Decorated(text));
    }
  }

  bool WriteWithin(std::string_view text, int ms) override {
    LogText(stream_ == StdStream::kError ? LogLevel::kError : LogLevel::kInfo, text);
    if (stream_ == StdStream::kError) SystemEventText(text);
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    // Polled rather than a timed lock, which the thread checker cannot follow.
    std::unique_lock<std::mutex> lock(mu_, std::try_to_lock);
    while (!lock.owns_lock()) {
      if (std::chrono::steady_clock::now() >= end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(kLockPollMs));
      lock.try_lock();
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    const int left_ms = left.count() > 0 ? static_cast<int>(left.count()) : 0;
    if (line_stamp == nullptr && !journal_) return WriteStdStreamWithin(stream_, text, left_ms);
    return WriteStdStreamWithin(stream_, Decorated(text), left_ms);
  }

 private:
  std::string Decorated(std::string_view text) {
    const std::string stamp = line_stamp != nullptr ? line_stamp() : std::string();
    std::string out;
    out.reserve(text.size() + stamp.size() + 4);
    for (size_t i = 0; i < text.size(); ++i) {
      const char c = text[i];
      // The terminal bell is a sound, not a line of its own.
      if (at_line_start_ && c != '\a') {
        if (journal_) out += JournalPrefix(text.substr(i, text.find('\n', i) - i));
        if (line_stamp != nullptr) {
          out += stamp;
          if (c != '\n') out += ' ';
        }
        at_line_start_ = false;
      }
      out += c;
      if (c == '\n') at_line_start_ = true;
    }
    return out;
  }

  std::mutex mu_;
  const StdStream stream_;
  const bool journal_;
  bool at_line_start_ = true;
};

}  // namespace

MessageSink& ConsoleSink() {
  // Never destroyed: item threads may still print while the process ends.
  static MessageSink* sink = new StreamSink(StdStream::kOutput);
  return *sink;
}

MessageSink& ErrorSink() {
  static MessageSink* sink = new StreamSink(StdStream::kError);
  return *sink;
}

void SetLineStamp(LineStamp stamp) { line_stamp = stamp; }

MessageSink& DiscardSink() {
  class Discard final : public MessageSink {
   public:
    void Write(std::string_view) override {}
  };
  static Discard* sink = new Discard;
  return *sink;
}

}  // namespace sentrel
