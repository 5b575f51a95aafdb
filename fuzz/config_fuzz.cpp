// Whole configuration files: blocks, values, actions, the older format, and
// the check that lists the items and every remark on them.
#include <cstdint>
#include <cstdio>
#include <string>

#include "loader/monitor_process.h"
#include "entry/check_mode.h"
#include "shell/message_sink.h"

namespace {

class Discard final : public sentrel::MessageSink {
 public:
  void Write(std::string_view) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::string path = [] {
    char name[] = "/tmp/sentrel-fuzz-config-XXXXXX";
    std::FILE* f = std::fopen(name, "wb");  // the name is only a template
    if (f) std::fclose(f);
    return std::string(name) + ".mon";
  }();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);

  static Discard sink;
  static sentrel::Services services = [] {
    sentrel::Services s;
    s.messages = &sink;
    s.errors = &sink;
    return s;
  }();
  {
    sentrel::MonitorProcess process(services);
    process.set_autostart(false);
    process.Load(path);
  }
  sentrel::RunCheck(path, services, sink, sink);
  return 0;
}
