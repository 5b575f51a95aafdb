#include "monitor/state_file.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/file_ops.h"
#include "platform/paths.h"

// Header-only use of the system's xxHash: nothing to link, on any target.
#define XXH_INLINE_ALL
#include SENTREL_XXHASH_H

namespace sentrel {

struct HashState {
  XXH3_state_t state;
};

namespace {

constexpr char kMagic[8] = {'S', 'E', 'N', 'T', 'R', 'E', 'L', 'S'};
constexpr uint32_t kByteOrderMark = 0x01020304u;
// The settings text of a file bigger than this is not read: no item's
// settings come near it.
constexpr uint32_t kMaxSettings = 1u << 24;
// Pieces in which a file that is not used is still read through.
constexpr size_t kSkipPiece = 64 * 1024;

struct Header {
  char magic[8];
  uint32_t version;
  uint32_t byte_order;
  uint32_t kind;
  uint32_t settings_size;
};
static_assert(sizeof(Header) == 24, "the header is written as it is");

std::unique_ptr<HashState> NewHash() {
  auto h = std::make_unique<HashState>();
  XXH3_64bits_reset(&h->state);
  return h;
}

// A name piece taken from the monitored path: letters, digits, ".", "_"
// and "-" only, so that it is safe in any file system.
std::string Label(const std::string& file_name) {
  std::string last = file_name;
  while (!last.empty() && IsPathSeparator(last.back())) last.pop_back();
  const size_t slash = FindLastSeparator(last);
  if (slash != std::string::npos) last.erase(0, slash + 1);
  std::string label;
  for (char c : last) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == '_' || c == '-';
    label.push_back(plain ? c : '_');
    if (label.size() == 40) break;
  }
  if (label.empty() || label[0] == '.') label.insert(0, "item");
  return label;
}

std::mutex saves_mu;
std::condition_variable saves_cv;
int saves_running = 0;

}  // namespace

std::string StateFilePath(const std::string& config_file, int kind, const std::string& file_name,
                          int slot) {
  std::string key = std::to_string(kind);
  key.push_back('\0');
  key += AbsolutePath(config_file);
  key.push_back('\0');
  key += file_name;
  key.push_back('\0');
  key += std::to_string(slot);
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx",
                static_cast<unsigned long long>(XXH3_64bits(key.data(), key.size())));
  return UserStateFolder() + kPathSeparator + Label(file_name) + "-" + hex + ".state";
}

StateWriter::StateWriter() : hash_(NewHash()) {}
StateWriter::~StateWriter() = default;

bool StateWriter::Open(const std::string& path, uint32_t kind, std::string_view settings,
                       std::string& error) {
  const size_t slash = FindLastSeparator(path);
  if (slash != std::string::npos && !MakeDirectories(path.substr(0, slash), error, true)) {
    return false;
  }
  RemoveLeftoverTemporaries(path);
  if (!file_.Open(path, error)) return false;
  XXH3_64bits_reset(&hash_->state);
  Header h;
  std::memcpy(h.magic, kMagic, sizeof kMagic);
  h.version = kStateFormatVersion;
  h.byte_order = kByteOrderMark;
  h.kind = kind;
  h.settings_size = static_cast<uint32_t>(settings.size());
  Put(&h, sizeof h);
  Put(settings.data(), settings.size());
  return true;
}

void StateWriter::Put(const void* data, size_t size) {
  if (size == 0) return;
  XXH3_64bits_update(&hash_->state, data, size);
  file_.Write(data, size);
}

bool StateWriter::Finish(std::string& error) {
  const uint64_t sum = XXH3_64bits_digest(&hash_->state);
  file_.Write(&sum, sizeof sum);
  return file_.Commit(error);
}

StateReader::StateReader() : hash_(NewHash()) {}
StateReader::~StateReader() = default;

StateReader::Opened StateReader::Open(const std::string& path, uint32_t kind,
                                      std::string& settings, std::string& why) {
  bool missing = false;
  if (!file_.Open(path, missing, why)) {
    if (missing) return Opened::kMissing;
    why = "cannot be read (" + why + ")";
    return Opened::kRefused;
  }
  size_ = file_.size();
  offset_ = 0;
  XXH3_64bits_reset(&hash_->state);
  Header h;
  if (!Get(&h, sizeof h)) {
    why = "is cut short";
    return Opened::kRefused;
  }
  if (std::memcmp(h.magic, kMagic, sizeof kMagic) != 0) {
    why = "is not a state file of Sentrel";
    return Opened::kRefused;
  }
  if (h.version != kStateFormatVersion || h.byte_order != kByteOrderMark) {
    why = "was written in another format";
    return Opened::kRefused;
  }
  if (h.kind != kind) {
    why = "belongs to another kind of item";
    return Opened::kRefused;
  }
  if (h.settings_size > kMaxSettings || h.settings_size > remaining()) {
    why = "is cut short";
    return Opened::kRefused;
  }
  settings.resize(h.settings_size);
  if (!Get(settings.data(), settings.size())) {
    why = "is cut short";
    return Opened::kRefused;
  }
  return Opened::kReady;
}

bool StateReader::Get(void* data, size_t size) {
  if (size > remaining() || !file_.Read(data, size)) {
    offset_ = size_;
    return false;
  }
  offset_ += size;
  XXH3_64bits_update(&hash_->state, data, size);
  return true;
}

bool StateReader::Finish(std::string& why) {
  const uint64_t expected = XXH3_64bits_digest(&hash_->state);
  uint64_t sum = 0;
  if (remaining() < sizeof sum || !file_.Read(&sum, sizeof sum)) {
    why = "is cut short";
    return false;
  }
  offset_ += sizeof sum;
  if (sum != expected) {
    why = "is damaged (its checksum does not match its content)";
    return false;
  }
  if (remaining() != 0) {
    why = "has bytes after its end";
    return false;
  }
  return true;
}

bool StateReader::Skip(std::string& why) {
  if (remaining() < sizeof(uint64_t)) {
    why = "is cut short";
    return false;
  }
  std::vector<char> piece(kSkipPiece);
  while (remaining() > sizeof(uint64_t)) {
    const uint64_t n = std::min<uint64_t>(piece.size(), remaining() - sizeof(uint64_t));
    if (!Get(piece.data(), static_cast<size_t>(n))) {
      why = "is cut short";
      return false;
    }
  }
  return Finish(why);
}

std::string SettingsDifference(std::string_view saved, std::string_view now) {
  auto lines = [](std::string_view text) {
    std::vector<std::pair<std::string_view, std::string_view>> out;
    while (!text.empty()) {
      const size_t end = text.find('\n');
      std::string_view line = text.substr(0, end);
      const size_t eq = line.find('=');
      out.emplace_back(line.substr(0, eq), eq == std::string_view::npos ? "" : line.substr(eq + 1));
      if (end == std::string_view::npos) break;
      text.remove_prefix(end + 1);
    }
    return out;
  };
  const auto before = lines(saved);
  const auto after = lines(now);
  std::string said;
  for (const auto& [key, value] : after) {
    std::string_view old;
    bool found = false;
    for (const auto& b : before) {
      if (b.first == key) {
        old = b.second;
        found = true;
      }
    }
    if (found && old == value) continue;
    if (!said.empty()) said += ", ";
    said += std::string(key) + " \"" + std::string(found ? old : "?") + "\" (now \"" +
            std::string(value) + "\")";
  }
  return said.empty() ? "other settings" : said;
}

void StateSaveBegins() {
  std::lock_guard<std::mutex> lock(saves_mu);
  ++saves_running;
}

void StateSaveEnds() {
  std::lock_guard<std::mutex> lock(saves_mu);
  --saves_running;
  saves_cv.notify_all();
}

bool WaitForStateSaves(int ms) {
  std::unique_lock<std::mutex> lock(saves_mu);
  return saves_cv.wait_for(lock, std::chrono::milliseconds(ms), [] { return saves_running == 0; });
}

}  // namespace sentrel
