#include "shell/message_sink.h"

#include <cstdio>

namespace sentrel {
namespace {

class StdoutSink final : public MessageSink {
 public:
  void Write(std::string_view text) override {
    std::lock_guard<std::mutex> lock(mu_);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
  }

 private:
  std::mutex mu_;
};

}  // namespace

MessageSink& ConsoleSink() {
  // Never destroyed: item threads may still print while the process ends.
  static MessageSink* sink = new StdoutSink;
  return *sink;
}

}  // namespace sentrel
