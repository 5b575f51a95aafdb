#include "loader/monitor_process.h"

#include <cerrno>
#include <cstdint>
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

// Appends the UTF-8 form of the code point `c`.
void AppendUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// UTF-16 text (without its byte-order mark) as UTF-8. A surrogate without
// its partner, or an odd last byte, becomes U+FFFD; a NUL stays a NUL, so
// that binary data saved as UTF-16 is still known as such.
std::string Utf16ToUtf8(const std::string& bytes, bool big_endian) {
  auto unit = [&](size_t i) {
    const auto b0 = static_cast<unsigned char>(bytes[i]);
    const auto b1 = static_cast<unsigned char>(bytes[i + 1]);
    return static_cast<uint32_t>(big_endian ? (b0 << 8) | b1 : (b1 << 8) | b0);
  };
  std::string out;
  out.reserve(bytes.size());
  size_t i = 0;
  for (; i + 1 < bytes.size(); i += 2) {
    const uint32_t u = unit(i);
    if (u >= 0xD800 && u < 0xDC00 && i + 3 < bytes.size()) {
      const uint32_t low = unit(i + 2);
      if (low >= 0xDC00 && low < 0xE000) {
        AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        i += 2;
        continue;
      }
    }
    AppendUtf8(out, u >= 0xD800 && u < 0xE000 ? 0xFFFD : u);
  }
  if (i < bytes.size()) AppendUtf8(out, 0xFFFD);
  return out;
}

// The bytes of the configuration: what was read ahead of the file (its
// first bytes, or the whole text decoded from UTF-16), then the rest of it.
class ConfigBytes {
 public:
  explicit ConfigBytes(std::FILE* f) : f_(f) {}
  void ReadAhead(std::string text) { ahead_ = std::move(text); }
  int Get() {
    if (at_ < ahead_.size()) return static_cast<unsigned char>(ahead_[at_++]);
    return std::getc(f_);
  }

 private:
  std::FILE* f_;
  std::string ahead_;
  size_t at_ = 0;
};

// One read of at most 4096 characters, up to and including a line feed; a
// carriage return before the line feed is dropped, as a text-mode read does.
bool ReadChunk(ConfigBytes& in, std::string& line) {
  line.clear();
  int c;
  while (line.size() < kChunk && (c = in.Get()) != EOF) {
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
  ConfigBytes in(f);
  // Windows editors save "Unicode" as UTF-16 with a byte-order mark: the
  // whole file is read as the same text in UTF-8 (within the size limit, as
  // a FIFO has no size to look at first).
  if (first == 0xFF || first == 0xFE) {
    const int second = std::fgetc(f);
    if ((first == 0xFF && second == 0xFE) || (first == 0xFE && second == 0xFF)) {
      std::string bytes;
      char buffer[kChunk];
      size_t n;
      while (bytes.size() <= kMaxConfigBytes &&
             (n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
        bytes.append(buffer, n);
      }
      if (bytes.size() > kMaxConfigBytes) {
        std::fclose(f);
        if (notes != nullptr) notes->Error(0, too_large);
        return false;
      }
      in.ReadAhead(Utf16ToUtf8(bytes, first == 0xFE));
    } else {
      std::string ahead(1, static_cast<char>(first));
      if (second != EOF) ahead += static_cast<char>(second);
      in.ReadAhead(std::move(ahead));
    }
  } else if (first != EOF) {
    in.ReadAhead(std::string(1, static_cast<char>(first)));
  }

  std::unique_ptr<LineRemarks> known;
  if (notes != nullptr) known = std::make_unique<LineRemarks>(KnownKeys(services_));
  std::vector<std::string> block;
  BlockReading reading;
  reading.notes = notes;
  std::vector<bool> loader_took;
  // Items of one kind on one "FileName", counted so that each keeps a state
  // of its own.
  std::map<std::string, int> same_target;
  // Each block's text, with the line it starts on: a block written twice
  // (pasted, say) is two items that run every action twice.
  std::map<std::string, int> block_lines;
  IntParam kind("IsDirectory", 0, 0, 2);
  BoolParam paused("Paused", false);
  std::string line;
  int number = 1;  // the file's line that the next read starts in
  int blocks_ended = 0;
  bool binary = false;
  size_t total = 0, line_length = 0;
  std::vector<std::shared_ptr<BaseMonitoring>> to_start;
  while (ReadChunk(in, line)) {
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
    binary = binary || line.find('\0') != std::string::npos;
    if (notes != nullptr) {
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
        if (usable && notes != nullptr) {
          std::string text;
          for (const std::string& l : block) text += l;
          const auto [first, fresh] = block_lines.emplace(std::move(text), block_line);
          if (!fresh) {
            notes->Warn(block_line, "this block repeats the one at line " +
                                        std::to_string(first->second) +
                                        ": its item is watched twice, and each of its actions "
                                        "runs twice");
          }
        }
        if (usable) {
          const int slot =
              same_target[std::to_string(kind.Value()) + ":" + item->FileName().Value()]++;
          item->SetStateSlot(slot);
          item->SetSinglePass(single_pass_);
          item->SetIgnoreWindow(ignore_window_);
          std::string key = std::to_string(slot) + "\n";
          for (const std::string& l : block) key += l;
          keys_.push_back(std::move(key));
          std::lock_guard<std::mutex> lock(monitors_mu_);
          monitors_.push_back(item);
          if (!paused.Value() && autostart_) to_start.push_back(item);
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

  if (binary) {
    // Whatever its lines seemed to say, they were never meant as settings:
    // nothing of it may run.
    StopAll();
    if (notes != nullptr) {
      notes->Clear();
      notes->Error(0, "is not a configuration file (it holds binary data)");
    }
    return false;
  }
  // Started once the whole file is known to be text.
  for (const auto& item : to_start) BaseMonitoring::Start(item, tracker_);
  if (notes != nullptr) {
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
