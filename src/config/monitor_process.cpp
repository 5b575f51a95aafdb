#include "config/monitor_process.h"

#include <cstdio>
#include <exception>

#include "monitor/chkdir.h"
#include "monitor/chkfile.h"
#include "platform/paths.h"
#include "shell/text_util.h"

namespace sentrel {
namespace {

// One read of at most 4096 characters, up to and including a line feed; a
// carriage return before the line feed is dropped, as a text-mode read does.
bool ReadChunk(std::FILE* f, std::string& line) {
  line.clear();
  int c;
  while (line.size() < 4096 && (c = std::getc(f)) != EOF) {
    line.push_back(static_cast<char>(c));
    if (c == '\n') break;
  }
  if (line.size() >= 2 && line[line.size() - 1] == '\n' && line[line.size() - 2] == '\r') {
    line.erase(line.size() - 2, 1);
  }
  return !line.empty();
}

}  // namespace

MonitorProcess::MonitorProcess(Services& services)
    : services_(services), tracker_(std::make_shared<ThreadTracker>()) {}

MonitorProcess::~MonitorProcess() { StopAll(); }

std::shared_ptr<BaseMonitoring> MonitorProcess::CreateItem(int kind, bool paused,
                                                           Services& services) {
  std::shared_ptr<BaseMonitoring> item;
  if (kind == 0) {
    item = std::make_shared<CheckFileThread>(paused, services);
  } else if (kind == 1) {
    item = std::make_shared<CheckDirThread>(paused, services);
  } else {
    return nullptr;
  }
  item->IsDirectory().Set(kind);
  return item;
}

bool MonitorProcess::Load(const std::string& path) {
  std::FILE* f = OpenFile(path, "rb");
  if (f == nullptr) return false;
  // A directory opens for reading here but cannot be read: it is not a
  // configuration that loaded with no items.
  const int first = std::fgetc(f);
  if (first == EOF && std::ferror(f)) {
    std::fclose(f);
    return false;
  }
  if (first != EOF) std::ungetc(first, f);

  std::vector<std::string> block;
  IntParam kind("IsDirectory", 0, 0, 2);
  BoolParam paused("Paused", false);
  std::string line;
  while (ReadChunk(f, line)) {
    if (line[0] == '\n' || line[0] == ';') continue;
    if (StartsWithIgnoreCase(line, "EOF")) {
      std::shared_ptr<BaseMonitoring> item =
          CreateItem(kind.Value(), paused.Value(), services_);
      if (item) {
        bool usable = true;
        try {
          item->ParseBlock(block);
        } catch (const std::exception& e) {
          // The block cannot be applied (an invalid mask, say): that item is
          // left out and the user told why; the rest of the file still runs.
          services_.messages->Write(std::string(e.what()) + "\n");
          usable = false;
        }
        if (usable) {
          monitors_.push_back(item);
          if (!paused.Value() && autostart_) BaseMonitoring::Start(item, tracker_);
        }
      }
      block.clear();
      kind.ResetToDefault();
      paused.ResetToDefault();
      continue;
    }
    block.push_back(line);
    kind.ParseLine(line);
    paused.ParseLine(line);
  }
  std::fclose(f);
  return true;
}

void MonitorProcess::StopAll() {
  for (auto it = monitors_.rbegin(); it != monitors_.rend(); ++it) (*it)->RequestTerminate();
  monitors_.clear();
}

}  // namespace sentrel
