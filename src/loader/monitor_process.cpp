#include "loader/monitor_process.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <map>

#include "config/line_remarks.h"
#include "monitor/chkdir.h"
#include "monitor/chkfile.h"
#include "platform/file_ops.h"
#include "platform/paths.h"
#include "shell/text_util.h"

namespace sentrel {
namespace {

constexpr size_t kChunk = 4096;
// Far beyond any real configuration (a few thousand items fit in a
// megabyte), and small enough that a file that never ends (a device, a
// runaway generator) is refused at once in little memory.
constexpr size_t kMaxConfigBytes = 16 << 20;
constexpr size_t kMaxLineBytes = 1 << 20;
constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

// One read of at most 4096 characters, up to and including a line feed; a
// carriage return before the line feed is dropped, as a text-mode read does.
bool ReadChunk(std::FILE* f, std::string& line) {
  line.clear();
  int c;
  while (line.size() < kChunk && (c = std::getc(f)) != EOF) {
    line.push_back(static_cast<char>(c));
    if (c == '\n') break;
  }
  if (line.size() >= 2 && line[line.size() - 1] == '\n' && line[line.size() - 2] == '\r') {
    line.erase(line.size() - 2, 1);
  }
  return !line.empty();
}

bool OnlyBlanks(const std::string& line) {
  return line.find_first_not_of(" \t\r\n") == std::string::npos;
}

std::vector<std::string> KeysOf(const ParamList& params) {
  std::vector<std::string> keys;
  for (const Param* p : params) keys.push_back(p->Name());
  return keys;
}

// The keys of every kind of item and action, taken from the real ones.
LineRemarks KnownKeys(Services& services) {
  LineRemarks remarks;
  remarks.Add(LineRemarks::kFileItem, KeysOf(MonitorProcess::CreateItem(0, true, services)->Params()));
  remarks.Add(LineRemarks::kDirectoryItem,
              KeysOf(MonitorProcess::CreateItem(1, true, services)->Params()));
  remarks.Add(LineRemarks::kLoader, {"Paused"});
  remarks.Add(LineRemarks::kSwitch, {"FileList", "Execute", "PopupNotify", "Sound", "FileOp"});
  for (int kind = kListAction; kind <= kKillAction; ++kind) {
    std::unique_ptr<Action> action = CreateAction(kind);
    remarks.Add(LineRemarks::kFirstAction << kind, KeysOf(action->Params()), action->Caption());
  }
  return remarks;
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

bool MonitorProcess::Load(const std::string& path, Diagnostics* notes) {
  const std::string too_large =
      "is larger than 16 MiB, the most a configuration file may hold; it is not used";
  if (const EntryInfo info = StatTarget(path);
      info.type == EntryType::kFile && static_cast<uint64_t>(info.size) > kMaxConfigBytes) {
    if (notes != nullptr) notes->Error(0, too_large);
    return false;
  }
  std::FILE* f = OpenFile(path, "rb");
  if (f == nullptr) {
    const int error = errno;
    // Windows refuses to open a folder at all.
    if (notes != nullptr) {
      notes->Error(0, StatTarget(path).type == EntryType::kDirectory
                          ? std::string("is a folder, not a configuration file")
                          : std::string("cannot be opened: ") + std::strerror(error));
    }
    return false;
  }
  // A directory opens for reading here but cannot be read: it is not a
  // configuration that loaded with no items.
  const int first = std::fgetc(f);
  if (first == EOF && std::ferror(f)) {
    const int error = errno;
    if (notes != nullptr) {
      notes->Error(0, error == EISDIR ? std::string("is a folder, not a configuration file")
                                      : std::string("cannot be read: ") + std::strerror(error));
    }
    std::fclose(f);
    return false;
  }
  if (first != EOF) std::ungetc(first, f);

  std::unique_ptr<LineRemarks> known;
  if (notes != nullptr) known = std::make_unique<LineRemarks>(KnownKeys(services_));
  std::vector<std::string> block;
  BlockReading reading;
  reading.notes = notes;
  std::vector<bool> loader_took;
  // Items of one kind on one "FileName", counted so that each keeps a state
  // of its own.
  std::map<std::string, int> same_target;
  IntParam kind("IsDirectory", 0, 0, 2);
  BoolParam paused("Paused", false);
  std::string line;
  int number = 1;  // the file's line that the next read starts in
  int blocks_ended = 0;
  bool binary = false;
  size_t total = 0, line_length = 0;
  while (ReadChunk(f, line)) {
    const int at = number;
    const bool whole = line.back() == '\n';
    total += line.size();
    line_length += line.size();
    if (total > kMaxConfigBytes || line_length > kMaxLineBytes) {
      std::fclose(f);
      // What was started of it must not go on as if it had been loaded.
      StopAll();
      if (notes != nullptr) {
        notes->Clear();
        if (total > kMaxConfigBytes) {
          notes->Error(0, too_large);
        } else {
          notes->Error(at, "the line is longer than 1 MiB, the most a configuration line may "
                           "hold; the file is not used");
        }
      }
      return false;
    }
    if (whole) {
      ++number;
      line_length = 0;
    }
    // Editors on Windows may begin a UTF-8 file with a byte-order mark; it
    // is no part of the first key.
    if (at == 1 && total == line.size() && line.rfind(kByteOrderMark, 0) == 0) {
      line.erase(0, 3);
      if (line.empty()) continue;
    }
    if (notes != nullptr) {
      binary = binary || line.find('\0') != std::string::npos;
      if (!whole && line.size() == kChunk) {
        notes->Warn(at, "the line is longer than 4096 characters; the rest of it is read as "
                        "further lines");
      }
    }
    if (line[0] == '\n' || line[0] == ';') continue;
    if (StartsWithIgnoreCase(line, "EOF")) {
      ++blocks_ended;
      const int block_line = reading.numbers.empty() ? at : reading.numbers.front();
      std::shared_ptr<BaseMonitoring> item =
          CreateItem(kind.Value(), paused.Value(), services_);
      if (item) {
        item->SetOrigin(path, block_line);
        bool usable = true;
        try {
          item->ParseBlock(block, &reading);
        } catch (const std::exception& e) {
          // The block cannot be applied (an invalid mask, say): that item is
          // left out and the user told why; the rest of the file still runs.
          if (!quiet_) services_.messages->Write(std::string(e.what()) + "\n");
          usable = false;
        }
        if (known) {
          for (size_t i = 0; i < block.size() && i < reading.taken.size(); ++i) {
            if (reading.taken[i] || loader_took[i]) continue;
            LineRemarks::Place place;
            place.item_kind = kind.Value();
            place.older_format = reading.older_format;
            if (const Action* section = reading.section[i]) {
              place.action_kind = section->Kind();
              place.action_line = section->line();
            }
            std::string remark = known->Explain(block[i], place);
            if (!remark.empty()) notes->Warn(reading.NumberOf(i), std::move(remark));
          }
        }
        if (usable) {
          const int slot =
              same_target[std::to_string(kind.Value()) + ":" + item->FileName().Value()]++;
          item->SetStateSlot(slot);
          item->SetSinglePass(single_pass_);
          std::string key = std::to_string(slot) + "\n";
          for (const std::string& l : block) key += l;
          keys_.push_back(std::move(key));
          std::lock_guard<std::mutex> lock(monitors_mu_);
          monitors_.push_back(item);
          if (!paused.Value() && autostart_) BaseMonitoring::Start(item, tracker_);
        }
      }
      block.clear();
      reading.numbers.clear();
      loader_took.clear();
      kind.ResetToDefault();
      paused.ResetToDefault();
      continue;
    }
    block.push_back(line);
    reading.numbers.push_back(at);
    kind.ParseLine(line);
    loader_took.push_back(paused.ParseLine(line, {at, notes}));
  }
  std::fclose(f);

  if (notes != nullptr) {
    if (binary) {
      // Whatever its lines seemed to say, they were never meant as settings.
      notes->Clear();
      notes->Error(0, "is not a configuration file (it holds binary data)");
      return true;
    }
    bool unfinished = false;
    for (const std::string& l : block) unfinished = unfinished || !OnlyBlanks(l);
    // While items run, a file caught halfway through its save (or emptied
    // for a moment before it is written) must not stop them: the next
    // complete save is taken instead. At the first start there is nothing
    // to keep, and a file still to be filled may run with its warning.
    const auto remark = whole_only_ ? &Diagnostics::Error : &Diagnostics::Warn;
    if (unfinished) {
      (notes->*remark)(reading.numbers.front(),
                       whole_only_ ? "this block has no EOF line before the end of the file (a "
                                     "save not yet finished?)"
                                   : "this block has no EOF line before the end of the file; "
                                     "its lines are dropped");
    }
    if (monitors_.empty()) {
      (notes->*remark)(0, blocks_ended == 0
                              ? "no item: no block of Key=Value lines is ended by a line EOF"
                              : "no item to monitor");
    }
  }
  return true;
}

void MonitorProcess::StartAll() {
  for (const auto& item : monitors_) {
    if (item->Status() != kStatusPaused) BaseMonitoring::Start(item, tracker_);
  }
}

void MonitorProcess::StopAll() {
  std::lock_guard<std::mutex> lock(monitors_mu_);
  for (auto it = monitors_.rbegin(); it != monitors_.rend(); ++it) (*it)->RequestTerminate();
  monitors_.clear();
  keys_.clear();
  for (const auto& weak : retired_) {
    if (auto item = weak.lock()) item->RequestTerminate();
  }
  retired_.clear();
}

}  // namespace sentrel
