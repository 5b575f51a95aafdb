#include "monitor/state_file.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <random>
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
constexpr char kJournalMagic[8] = {'S', 'E', 'N', 'T', 'R', 'E', 'L', 'J'};
constexpr uint64_t kJournalVersion = 1;
constexpr size_t kJournalPage = 4096;
constexpr uint64_t kLeastJournaled = 64 * 1024;

struct Header {
  char magic[8];
  uint32_t version;
  uint32_t byte_order;
  uint32_t kind;
  uint32_t settings_size;
};
static_assert(sizeof(Header) == 24, "the header is written as it is");

uint64_t RandomSeed() {
  std::random_device rd;
  return (static_cast<uint64_t>(rd()) << 32) ^ rd();
}

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

std::string JournalPath(const std::string& state_path) { return state_path + ".journal"; }

StateJournal::StateJournal() : seed_(RandomSeed()) {}

StateWriter::StateWriter() = default;
StateWriter::~StateWriter() = default;

bool StateWriter::Open(const std::string& path, uint32_t kind, std::string_view settings,
                       std::string& error) {
  const size_t slash = FindLastSeparator(path);
  if (slash != std::string::npos && !MakeDirectories(path.substr(0, slash), error, true)) {
    return false;
  }
  path_ = path;
  segments_.assign(1, Segment());
  owned_.clear();
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
  Segment& s = segments_.back();
  // Small values one after another share a piece.
  if (!s.empty() && s.back().data == nullptr && s.back().offset + s.back().size == owned_.size()) {
    s.back().size += size;
  } else {
    s.push_back(Piece{nullptr, owned_.size(), size});
  }
  owned_.append(static_cast<const char*>(data), size);
}

void StateWriter::Borrow(const void* data, size_t size) {
  if (size > 0) segments_.back().push_back(Piece{static_cast<const char*>(data), 0, size});
}

void StateWriter::NewSegment() {
  if (!segments_.back().empty()) segments_.emplace_back();
}

uint64_t StateWriter::SegmentLength(const Segment& s) const {
  uint64_t n = 0;
  for (const Piece& p : s) n += p.size;
  return n;
}

template <typename F>
void StateWriter::ForEachPage(const Segment& s, F&& page) const {
  char buffer[kJournalPage];
  size_t filled = 0;
  uint64_t index = 0;
  for (const Piece& p : s) {
    const char* data = PieceData(p);
    size_t left = p.size;
    while (left > 0) {
      if (filled == 0 && left >= kJournalPage) {
        // A whole page inside the piece: read where it lies.
        page(index++, data, kJournalPage);
        data += kJournalPage;
        left -= kJournalPage;
        continue;
      }
      const size_t n = std::min(left, kJournalPage - filled);
      std::memcpy(buffer + filled, data, n);
      filled += n;
      data += n;
      left -= n;
      if (filled == kJournalPage) {
        page(index++, buffer, kJournalPage);
        filled = 0;
      }
    }
  }
  if (filled > 0) page(index, buffer, filled);
}

bool StateWriter::Finish(std::string& error) {
  StateJournal journal;
  return WriteWhole(journal, error);
}

bool StateWriter::Finish(StateJournal& journal, std::string& error) {
  if (journal.valid_ && AppendChanges(journal, error)) return true;
  return WriteWhole(journal, error);
}

bool StateWriter::WriteWhole(StateJournal& journal, std::string& error) {
  journal.valid_ = false;
  RemoveLeftoverTemporaries(path_);
  DurableFileWriter file;
  if (!file.Open(path_, error)) return false;
  XXH3_state_t sum;
  XXH3_64bits_reset(&sum);
  std::vector<uint64_t> lengths;
  std::vector<std::vector<uint64_t>> pages;
  uint64_t size = 0;
  for (const Segment& s : segments_) {
    for (const Piece& p : s) {
      XXH3_64bits_update(&sum, PieceData(p), p.size);
      file.Write(PieceData(p), p.size);
    }
    lengths.push_back(SegmentLength(s));
    size += lengths.back();
    pages.emplace_back();
    ForEachPage(s, [&](uint64_t, const char* data, size_t n) {
      pages.back().push_back(XXH3_64bits_withSeed(data, n, journal.seed_));
    });
  }
  const uint64_t checksum = XXH3_64bits_digest(&sum);
  file.Write(&checksum, sizeof checksum);
  if (!file.Commit(error)) return false;
  size += sizeof checksum;
  journal.last_save_bytes_ = size;
  journal.last_save_whole_ = true;

  // A small state is cheaper written whole each time than journaled.
  if (size < kLeastJournaled) return true;
  // A new journal that continues this whole state. Until it is in place,
  // the old one names another whole state and is not read.
  std::string header(kJournalMagic, sizeof kJournalMagic);
  auto put = [&header](uint64_t v) { header.append(reinterpret_cast<const char*>(&v), sizeof v); };
  put(kJournalVersion);
  put(kByteOrderMark);
  put(checksum);
  put(size);
  put(lengths.size());
  for (uint64_t n : lengths) put(n);
  const uint64_t chain = XXH3_64bits(header.data(), header.size());
  put(chain);
  const std::string journal_path = JournalPath(path_);
  RemoveLeftoverTemporaries(journal_path);
  DurableFileWriter j;
  std::string ignored;
  if (!j.Open(journal_path, ignored) || !j.Write(header.data(), header.size()) ||
      !j.Commit(ignored)) {
    // The whole state is saved; the next save is a whole one again.
    return true;
  }
  journal.last_save_bytes_ += header.size();
  journal.valid_ = true;
  journal.lengths_ = std::move(lengths);
  journal.pages_ = std::move(pages);
  journal.whole_size_ = size;
  journal.journal_size_ = header.size();
  journal.chain_ = chain;
  return true;
}

bool StateWriter::AppendChanges(StateJournal& journal, std::string& error) {
  if (segments_.size() != journal.lengths_.size()) return false;
  std::string record;
  auto put = [&record](uint64_t v) { record.append(reinterpret_cast<const char*>(&v), sizeof v); };
  put(0);  // the payload's size, filled in below
  std::vector<uint64_t> lengths;
  for (const Segment& s : segments_) lengths.push_back(SegmentLength(s));
  for (uint64_t n : lengths) put(n);
  std::vector<std::vector<uint64_t>> pages(segments_.size());
  // A journal beyond a quarter of the whole state is folded into a new one.
  const uint64_t room = journal.whole_size_ / 4;
  bool fits = true;
  for (size_t k = 0; k < segments_.size() && fits; ++k) {
    const std::vector<uint64_t>& before = journal.pages_[k];
    ForEachPage(segments_[k], [&](uint64_t i, const char* data, size_t n) {
      const uint64_t h = XXH3_64bits_withSeed(data, n, journal.seed_);
      pages[k].push_back(h);
      if (!fits || (i < before.size() && before[i] == h)) return;
      put(k);
      put(i);
      record.append(data, n);
      fits = journal.journal_size_ + record.size() <= room;
    });
  }
  if (!fits) return false;
  const uint64_t payload = record.size() - sizeof(uint64_t);
  std::memcpy(record.data(), &payload, sizeof payload);
  const uint64_t chain = XXH3_64bits_withSeed(record.data(), record.size(), journal.chain_);
  put(chain);
  if (!WriteDurablyAt(JournalPath(path_), journal.journal_size_, record.data(), record.size(),
                      error)) {
    journal.valid_ = false;
    return false;
  }
  journal.journal_size_ += record.size();
  journal.chain_ = chain;
  journal.lengths_ = std::move(lengths);
  journal.pages_ = std::move(pages);
  journal.last_save_bytes_ = record.size();
  journal.last_save_whole_ = false;
  return true;
}

StateReader::StateReader() : hash_(NewHash()) {}
StateReader::~StateReader() = default;

StateReader::Opened StateReader::Open(const std::string& path, uint32_t kind,
                                      std::string& settings, std::string& why) {
  bool missing = false;
  if (!file_.Open(path, missing, why)) {
    // A journal alone means a state was saved and has gone since (removed
    // by hand, lost with a disk): what changed while stopped cannot be told,
    // and the user must hear that it is not.
    if (missing && StatEntry(JournalPath(path)).exists()) {
      why = "is missing, though its journal \"" + JournalPath(path) +
            "\" is there (what changed while Sentrel was stopped is not reported)";
      return Opened::kRefused;
    }
    if (missing) return Opened::kMissing;
    if (file_.not_a_file()) return Opened::kNotAFile;
    why = "cannot be read (" + why + ")";
    return Opened::kRefused;
  }
  size_ = file_.size();
  offset_ = 0;
  ApplyJournal(path);
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
  // Version 1 differs only by the cut-short reports it lacks.
  if (h.version < 1 || h.version > kStateFormatVersion || h.byte_order != kByteOrderMark) {
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
  version_ = h.version;
  settings.resize(h.settings_size);
  if (!Get(settings.data(), settings.size())) {
    why = "is cut short";
    return Opened::kRefused;
  }
  return Opened::kReady;
}

namespace {

// Reads what a journal holds; false once it does not hold together.
class JournalCursor {
 public:
  JournalCursor(const char* data, size_t size) : data_(data), size_(size) {}
  bool Get(uint64_t& v) { return Take(&v, sizeof v); }
  bool Take(void* out, size_t n) {
    if (n > left()) return false;
    std::memcpy(out, data_ + at_, n);
    at_ += n;
    return true;
  }
  size_t at() const { return at_; }
  size_t left() const { return size_ - at_; }
  const char* here() const { return data_ + at_; }
  void Skip(size_t n) { at_ += n; }

 private:
  const char* data_;
  size_t size_;
  size_t at_ = 0;
};

bool ReadAll(const std::string& path, std::vector<char>& bytes, uint64_t limit) {
  SequentialFileReader f;
  bool missing = false;
  std::string error;
  if (!f.Open(path, missing, error) || f.size() > limit) return false;
  bytes.resize(static_cast<size_t>(f.size()));
  return f.Read(bytes.data(), bytes.size());
}

}  // namespace

void StateReader::ApplyJournal(const std::string& path) {
  // A journal is never larger than a quarter of its whole state, and some.
  std::vector<char> journal;
  if (size_ < sizeof(uint64_t) || !ReadAll(JournalPath(path), journal, size_ / 2 + (1u << 20))) {
    return;
  }
  JournalCursor in(journal.data(), journal.size());
  char magic[sizeof kJournalMagic];
  uint64_t version = 0, order = 0, base = 0, whole = 0, count = 0;
  if (!in.Take(magic, sizeof magic) || std::memcmp(magic, kJournalMagic, sizeof magic) != 0 ||
      !in.Get(version) || version != kJournalVersion || !in.Get(order) ||
      order != kByteOrderMark || !in.Get(base) || !in.Get(whole) || whole != size_ ||
      !in.Get(count) || count > in.left() / sizeof(uint64_t)) {
    return;
  }
  std::vector<uint64_t> lengths(static_cast<size_t>(count));
  uint64_t total = 0;
  for (uint64_t& n : lengths) {
    if (!in.Get(n) || n > size_) return;
    total += n;
  }
  uint64_t chain = XXH3_64bits(journal.data(), in.at());
  uint64_t stored = 0;
  if (total + sizeof(uint64_t) != size_ || !in.Get(stored) || stored != chain) return;

  // The records that hold together, in order; the first that does not
  // ends them (a save cut short).
  struct Record {
    size_t begin, end;
  };
  std::vector<Record> records;
  while (in.left() >= 2 * sizeof(uint64_t)) {
    const size_t begin = in.at();
    uint64_t payload = 0;
    in.Get(payload);
    if (payload > in.left() || in.left() - payload < sizeof(uint64_t)) break;
    in.Skip(static_cast<size_t>(payload));
    const uint64_t h = XXH3_64bits_withSeed(journal.data() + begin, in.at() - begin, chain);
    if (!in.Get(stored) || stored != h) break;
    records.push_back({begin + sizeof(uint64_t), in.at() - sizeof(uint64_t)});
    chain = h;
  }
  if (records.empty()) return;

  // The whole state, checked against the journal's word for it, cut into
  // its segments; then each record's pages.
  // Read apart from the reader's own file, which stays at its start should
  // this whole state not be the one the journal continues after all.
  std::vector<char> whole_bytes;
  if (!ReadAll(path, whole_bytes, size_) || whole_bytes.size() != size_ ||
      XXH3_64bits(whole_bytes.data(), whole_bytes.size() - sizeof(uint64_t)) != base ||
      std::memcmp(whole_bytes.data() + whole_bytes.size() - sizeof(uint64_t), &base,
                  sizeof base) != 0) {
    return;
  }
  // Laid out at once for the lengths the last record leaves; each record's
  // pages then go where they belong, as far as those lengths reach (a page
  // past a later end is written again by the record that grew it back).
  const size_t count_n = lengths.size();
  std::vector<uint64_t> final_lengths = lengths;
  for (const Record& r : records) {
    JournalCursor rec(journal.data() + r.begin, r.end - r.begin);
    for (uint64_t& n : final_lengths) {
      if (!rec.Get(n) || n > size_ + journal.size()) return;
    }
  }
  std::vector<size_t> offsets(count_n);
  size_t image_size = 0;
  for (size_t k = 0; k < count_n; ++k) {
    offsets[k] = image_size;
    image_size += static_cast<size_t>(final_lengths[k]);
  }
  // Whatever grew came through the journal.
  if (image_size > size_ + journal.size()) return;
  std::vector<char> image;
  if (final_lengths == lengths) {
    // Laid out as the journal leaves it already (the usual case: pages
    // changed, no array grew or shrank): no second copy.
    image = std::move(whole_bytes);
  } else {
    image.assign(image_size + sizeof(uint64_t), 0);
    size_t at = 0;
    for (size_t k = 0; k < count_n; ++k) {
      std::memcpy(image.data() + offsets[k], whole_bytes.data() + at,
                  static_cast<size_t>(std::min(lengths[k], final_lengths[k])));
      at += static_cast<size_t>(lengths[k]);
    }
  }
  whole_bytes = std::vector<char>();
  std::vector<uint64_t> now(count_n);
  for (const Record& r : records) {
    JournalCursor rec(journal.data() + r.begin, r.end - r.begin);
    for (uint64_t& n : now) rec.Get(n);
    while (rec.left() > 0) {
      uint64_t k = 0, page = 0;
      if (!rec.Get(k) || k >= count_n || !rec.Get(page) ||
          page >= (now[k] + kJournalPage - 1) / kJournalPage) {
        // Checksummed, yet not what a save writes: nothing of it is used.
        return;
      }
      const uint64_t from = page * kJournalPage;
      const size_t n = static_cast<size_t>(std::min<uint64_t>(kJournalPage, now[k] - from));
      if (n > rec.left()) return;
      if (from < final_lengths[k]) {
        std::memcpy(image.data() + offsets[k] + from, rec.here(),
                    static_cast<size_t>(std::min<uint64_t>(n, final_lengths[k] - from)));
      }
      rec.Skip(n);
    }
  }
  image_ = std::move(image);
  image_.resize(image_size);
  const uint64_t sum = XXH3_64bits(image_.data(), image_.size());
  image_.insert(image_.end(), reinterpret_cast<const char*>(&sum),
                reinterpret_cast<const char*>(&sum) + sizeof sum);
  in_memory_ = true;
  size_ = image_.size();
}

bool StateReader::ReadRaw(void* data, size_t size) {
  if (!in_memory_) return file_.Read(data, size);
  if (size > image_.size() - offset_) return false;
  if (size == 0) return true;  // an empty array has no place to copy to
  std::memcpy(data, image_.data() + offset_, size);
  return true;
}

bool StateReader::Get(void* data, size_t size) {
  if (size > remaining() || !ReadRaw(data, size)) {
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
  if (remaining() < sizeof sum || !ReadRaw(&sum, sizeof sum)) {
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

void PutReports(StateWriter& out, const FileList& files) {
  out.PutValue<uint64_t>(files.size());
  for (const FileData& f : files) {
    out.PutValue(f.Time);
    out.PutValue(f.Size);
    out.PutValue<uint64_t>(f.State);
    out.PutValue<uint64_t>(f.Name.size());
    out.Put(f.Name.data(), f.Name.size());
  }
}

bool GetReports(StateReader& in, FileList& files) {
  files.clear();
  if (in.version() < 2) return true;
  constexpr uint64_t kLeast = 4 * sizeof(uint64_t);
  uint64_t n = 0;
  if (!in.GetValue(n) || n > in.remaining() / kLeast) return false;
  files.reserve(static_cast<size_t>(n));
  for (uint64_t i = 0; i < n; ++i) {
    FileData f;
    uint64_t state = 0, size = 0;
    if (!in.GetValue(f.Time) || !in.GetValue(f.Size) || !in.GetValue(state) ||
        state > kStateOlder || state == kStateNone || !in.GetValue(size) ||
        size > in.remaining()) {
      return false;
    }
    f.State = static_cast<uint8_t>(state);
    f.Name.resize(static_cast<size_t>(size));
    if (!in.Get(f.Name.data(), f.Name.size())) return false;
    files.push_back(std::move(f));
  }
  return true;
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

bool StateFolderUsable(const std::string& folder, std::string& said) {
  static std::mutex mu;
  // Verdicts by folder: a test's runs may each have their own.
  static std::map<std::string, bool> verdicts;
  std::lock_guard<std::mutex> lock(mu);
  said.clear();
  auto it = verdicts.find(folder);
  if (it != verdicts.end()) return it->second;
  std::string problem, fix;
  const bool usable = IsPrivateFolder(folder, problem, fix);
  verdicts.emplace(folder, usable);
  if (!usable) {
    said = "sentrel: the state folder \"" + folder + "\" " + problem +
           ": no saved state is read or written in this run (" + fix + ")\n";
  }
  return usable;
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
