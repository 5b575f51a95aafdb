#include "shell/message_sink.h"

#include <cstdio>

#include "shell/log_file.h"

namespace sentrel {
namespace {

// Set once by the entry before any item thread starts, read by every write.
LineStamp line_stamp = nullptr;

// One of the process's standard streams. A line is written whole; with a
// line stamp, every line that starts here begins with the stamp.
class StreamSink final : public MessageSink {
 public:
  explicit StreamSink(std::FILE* stream) : stream_(stream) {}

  void Write(std::string_view text) override {
    // Queued for the log's own writer, so a blocked stream holds no log line.
    LogText(stream_ == stderr ? LogLevel::kError : LogLevel::kInfo, text);
    std::lock_guard<std::mutex> lock(mu_);
    if (line_stamp == nullptr) {
      std::fwrite(text.data(), 1, text.size(), stream_);
    } else {
      const std::string stamped = Stamped(text, line_stamp());
      std::fwrite(stamped.data(), 1, stamped.size(), stream_);
    }
    std::fflush(stream_);
  }

 private:
  std::string Stamped(std::string_view text, const std::string& stamp) {
    std::string out;
    out.reserve(text.size() + stamp.size() + 1);
    for (char c : text) {
      // The terminal bell is a sound, not a line of its own.
      if (at_line_start_ && c != '\a') {
        out += stamp;
        if (c != '\n') out += ' ';
        at_line_start_ = false;
      }
      out += c;
      if (c == '\n') at_line_start_ = true;
    }
    return out;
  }

  std::mutex mu_;
  std::FILE* const stream_;
  bool at_line_start_ = true;
};

}  // namespace

MessageSink& ConsoleSink() {
  // Never destroyed: item threads may still print while the process ends.
  static MessageSink* sink = new StreamSink(stdout);
  return *sink;
}

MessageSink& ErrorSink() {
  static MessageSink* sink = new StreamSink(stderr);
  return *sink;
}

void SetLineStamp(LineStamp stamp) { line_stamp = stamp; }

}  // namespace sentrel
