#ifndef SENTREL_SHELL_MESSAGE_SINK_H_
#define SENTREL_SHELL_MESSAGE_SINK_H_

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace sentrel {

// Where the program's console lines go. Any thread may write; a line is
// written whole.
class MessageSink {
 public:
  virtual ~MessageSink() = default;
  // Writes `text` as it stands (it carries its own line ends).
  virtual void Write(std::string_view text) = 0;
  // The same, unless the sink cannot take `text` within `ms` (a stream that
  // nobody reads, say): false then, and what was not written is dropped.
  virtual bool WriteWithin(std::string_view text, int ms) {
    (void)ms;
    Write(text);
    return true;
  }
};

// Standard output: the program's own messages.
MessageSink& ConsoleSink();
// Standard error: what the user should know went wrong. On the journal each
// line carries its priority (a warning or an error).
MessageSink& ErrorSink();

// Takes every line and keeps none: for a reading of the configuration whose
// console lines are said otherwise (the check names them with their line).
MessageSink& DiscardSink();

// Gives the text that starts every line written to the two sinks above.
using LineStamp = std::string (*)();
// Every line the two sinks write begins with `stamp()` and a blank from now
// on (nullptr: nothing). Set it before any other thread writes.
void SetLineStamp(LineStamp stamp);

// Keeps what was written, for tests.
class CapturingSink final : public MessageSink {
 public:
  void Write(std::string_view text) override {
    std::lock_guard<std::mutex> lock(mu_);
    text_.append(text);
  }
  std::string Text() {
    std::lock_guard<std::mutex> lock(mu_);
    return text_;
  }

 private:
  std::mutex mu_;
  std::string text_;
};

}  // namespace sentrel

#endif  // SENTREL_SHELL_MESSAGE_SINK_H_
