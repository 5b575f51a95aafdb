#include "monitor/snapshot.h"

#include <cstring>

#include <algorithm>
#include <array>
#include <string>
#include <random>
#include <utility>

#include "monitor/chnotify.h"
#include "monitor/state_file.h"
#include "platform/paths.h"

namespace sentrel {
namespace {

constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (0xEDB88320u ^ (c >> 1)) : (c >> 1);
    table[i] = c;
  }
  return table;
}
constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();

uint64_t Mix64(uint64_t x) {
  x ^= x >> 33;
  x *= 0xFF51AFD7ED558CCDull;
  x ^= x >> 33;
  x *= 0xC4CEB9FE1A85EC53ull;
  x ^= x >> 33;
  return x;
}

}  // namespace

PathHasher::PathHasher(uint64_t seed) : crc_(0xFFFFFFFFu), extra_(seed) {}

uint64_t PathHasher::NewSeed() {
  std::random_device rd;
  return (static_cast<uint64_t>(rd()) << 32) ^ rd() ^ 0xCBF29CE484222325ull;
}

void PathHasher::Update(std::string_view bytes) {
  uint32_t crc = crc_;
  uint64_t h = extra_;
  for (unsigned char b : bytes) {
    crc = kCrcTable[(crc ^ b) & 0xFF] ^ (crc >> 8);
    h = (h ^ b) * 0x100000001B3ull;
  }
  crc_ = crc;
  extra_ = h;
}

PathId PathHasher::Finish() const {
  return PathId{crc_ ^ 0xFFFFFFFFu, static_cast<uint32_t>(Mix64(extra_) >> 32)};
}

void Snapshot::ReserveLike(const Snapshot& other) {
  // Room to spare for the folders that partial checks will list again
  // until the next compaction, so that they need not move the arrays. A
  // large array's room costs no memory until it is written.
  const size_t room = other.live_entries_ + other.live_entries_ / 4 + 4096;
  entries_.reserve(room);
  if (records_) {
    sizes_.reserve(room);
    names_.reserve(other.names_.size() + other.names_.size() / 4 + 65536);
  }
  folders_.reserve(other.folders_.size());
  runs_.reserve(other.runs_.size());
}

uint32_t Snapshot::AddFolder(uint32_t parent, std::string_view name, uint64_t device,
                             uint64_t inode) {
  SnapshotFolder d;
  d.name = names_.size();
  d.name_size = static_cast<uint32_t>(name.size());
  names_.append(name.data(), name.size());
  names_.push_back('\0');
  d.device = device;
  d.inode = inode;
  d.parent = parent;
  const uint32_t id = static_cast<uint32_t>(folders_.size());
  folders_.push_back(d);
  return id;
}

void Snapshot::LinkChildren(uint32_t parent, const std::vector<uint32_t>& children) {
  folders_[parent].first_child = children.empty() ? kNoFolder : children[0];
  for (size_t i = 0; i < children.size(); ++i) {
    folders_[children[i]].parent = parent;
    folders_[children[i]].next_sibling = i + 1 < children.size() ? children[i + 1] : kNoFolder;
  }
}

void Snapshot::AppendEntry(const SnapshotEntry& e, int64_t size, std::string_view name) {
  entries_.push_back(e);
  sizes_.push_back(size);
  names_.append(name.data(), name.size());
  names_.push_back('\0');
}

void Snapshot::PopEntry() {
  entries_.pop_back();
  if (!records_) return;
  sizes_.pop_back();
  // Its name goes too: it is the last one in the arena.
  names_.pop_back();
  while (!names_.empty() && names_.back() != '\0') names_.pop_back();
}

uint32_t Snapshot::AddRuns(const std::vector<SnapshotRun>& runs) {
  const uint32_t first = static_cast<uint32_t>(runs_.size());
  runs_.append(runs.data(), runs.size());
  return first;
}

void Snapshot::SetRuns(uint32_t folder, const std::vector<SnapshotRun>& runs, uint32_t count) {
  SnapshotFolder& d = folders_[folder];
  d.first_run = AddRuns(runs);
  d.run_count = static_cast<uint32_t>(runs.size());
  d.count = count;
}

bool Snapshot::ReplaceInPlace(uint32_t folder, const std::vector<SnapshotRun>& runs,
                              const std::vector<uint32_t>& children) {
  const SnapshotFolder& d = folders_[folder];
  if (d.run_count != runs.size() || runs.empty()) return false;
  uint32_t c = d.first_child;
  for (uint32_t child : children) {
    if (c != child) return false;
    c = folders_[c].next_sibling;
  }
  if (c != kNoFolder) return false;
  // The name bytes of a run: its names follow each other, each ended by a
  // zero byte.
  auto name_bytes = [&](const SnapshotRun& r) {
    uint64_t at = r.names;
    for (uint32_t i = 0; i < r.count; ++i) at += std::strlen(names_.data() + at) + 1;
    return at - r.names;
  };
  uint64_t next_entry = runs.front().first, next_name = runs.front().names;
  std::vector<uint64_t> bytes(runs.size(), 0);
  for (size_t k = 0; k < runs.size(); ++k) {
    const SnapshotRun& old = runs_[d.first_run + k];
    // The new runs must lie one after the other at the very end.
    if (runs[k].count != old.count || runs[k].first != next_entry) return false;
    next_entry += runs[k].count;
    if (records_) {
      if (runs[k].names != next_name) return false;
      bytes[k] = name_bytes(runs[k]);
      if (bytes[k] != name_bytes(old)) return false;
      next_name += bytes[k];
    }
  }
  if (next_entry != entries_.size() || (records_ && next_name != names_.size())) return false;
  for (size_t k = 0; k < runs.size(); ++k) {
    const SnapshotRun& old = runs_[d.first_run + k];
    if (runs[k].count == 0) continue;
    std::memmove(&entries_[old.first], &entries_[runs[k].first],
                 runs[k].count * sizeof(SnapshotEntry));
    if (records_) {
      std::memmove(&sizes_[old.first], &sizes_[runs[k].first], runs[k].count * sizeof(int64_t));
      std::memmove(&names_[old.names], &names_[runs[k].names], bytes[k]);
    }
  }
  entries_.resize(runs.front().first);
  if (records_) {
    sizes_.resize(runs.front().first);
    names_.resize(runs.front().names);
  }
  return true;
}

void Snapshot::DropTree(uint32_t folder) {
  std::vector<uint32_t> stack = {folder};
  while (!stack.empty()) {
    const uint32_t f = stack.back();
    stack.pop_back();
    SnapshotFolder& d = folders_[f];
    if (d.flags & kFolderGone) continue;
    d.flags |= kFolderGone;
    ++garbage_folders_;
    live_entries_ -= d.count;
    garbage_entries_ += d.count;
    for (uint32_t c = d.first_child; c != kNoFolder; c = folders_[c].next_sibling) stack.push_back(c);
  }
}

void Snapshot::Trim() {
  // Only what is far beyond the room ReserveLike leaves: a tree that
  // shrank a lot.
  auto trim = [](auto& a) {
    if (a.capacity() > 2 * a.size() + 65536) a.shrink_to_fit();
  };
  trim(entries_);
  trim(sizes_);
  trim(names_);
  trim(runs_);
  trim(folders_);
}

std::string Snapshot::FolderPath(uint32_t f, const std::string& root) const {
  std::vector<uint32_t> chain;
  for (uint32_t p = f; p != kNoFolder && folders_[p].parent != kNoFolder; p = folders_[p].parent) {
    chain.push_back(p);
  }
  std::string path = root;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    path.append(folder_name(*it));
    path.push_back(kPathSeparator);
  }
  return path;
}

uint32_t Snapshot::FindChild(uint32_t parent, std::string_view name, uint32_t hint) const {
  if (parent == kNoFolder) return kNoFolder;
  if (hint != kNoFolder && folder_name(hint) == name) return hint;
  for (uint32_t c = folders_[parent].first_child; c != kNoFolder; c = folders_[c].next_sibling) {
    if (folder_name(c) == name) return c;
  }
  return kNoFolder;
}

uint32_t Snapshot::CopyTree(const Snapshot& from, uint32_t f, uint32_t parent) {
  const SnapshotFolder& src = from.folders_[f];
  const uint32_t id = AddFolder(parent, from.folder_name(f), src.device, src.inode);
  folders_[id].flags = src.flags & ~static_cast<uint32_t>(kFolderGone);
  std::vector<SnapshotRun> runs;
  std::vector<uint32_t> children;
  uint32_t child = src.first_child;
  for (uint32_t k = 0; k < src.run_count; ++k) {
    const SnapshotRun& r = from.runs_[src.first_run + k];
    SnapshotRun copy{entries_.size(), names_.size(), r.count, 0};
    entries_.append(from.entries_.data() + r.first, r.count);
    if (records_) {
      sizes_.append(from.sizes_.data() + r.first, r.count);
      // The run's names lie together: copied in one piece.
      const char* begin = from.names_.data() + r.names;
      const char* end = begin;
      for (uint32_t i = 0; i < r.count; ++i) end += std::char_traits<char>::length(end) + 1;
      names_.append(begin, static_cast<size_t>(end - begin));
    }
    runs.push_back(copy);
    if (child != kNoFolder && k + 1 < src.run_count) {
      children.push_back(CopyTree(from, child, id));
      child = from.folders_[child].next_sibling;
    }
  }
  SetRuns(id, runs, src.count);
  LinkChildren(id, children);
  return id;
}

Snapshot Snapshot::Compacted() const {
  Snapshot out(records_);
  out.ReserveLike(*this);
  if (!folders_.empty()) out.CopyTree(*this, 0, kNoFolder);
  out.live_entries_ = out.entries_.size();
  return out;
}

void Snapshot::Shuffle(uint64_t seed) {
  std::mt19937_64 rng(seed);
  for (size_t f = 0; f < folders_.size(); ++f) {
    const SnapshotFolder& d = folders_[f];
    if (d.flags & kFolderGone) continue;
    for (uint32_t k = 0; k < d.run_count; ++k) {
      const SnapshotRun& r = runs_[d.first_run + k];
      std::vector<size_t> order(r.count);
      for (size_t i = 0; i < order.size(); ++i) order[i] = i;
      for (size_t i = order.size(); i > 1; --i) std::swap(order[i - 1], order[rng() % i]);
      std::vector<SnapshotEntry> entries;
      std::vector<int64_t> sizes;
      std::vector<std::string> names;
      const char* name = names_.data() + r.names;
      for (size_t i = 0; i < r.count; ++i) {
        entries.push_back(entries_[r.first + i]);
        if (!records_) continue;
        sizes.push_back(sizes_[r.first + i]);
        names.emplace_back(name);
        name += names.back().size() + 1;
      }
      char* out = names_.data() + r.names;
      for (size_t i = 0; i < r.count; ++i) {
        entries_[r.first + i] = entries[order[i]];
        if (!records_) continue;
        sizes_[r.first + i] = sizes[order[i]];
        const std::string& n = names[order[i]];
        std::copy(n.begin(), n.end(), out);
        out[n.size()] = '\0';
        out += n.size() + 1;
      }
    }
  }
}

void Snapshot::Save(StateWriter& out) const {
  out.PutValue<uint64_t>(records_ ? 1 : 0);
  out.PutValue<uint64_t>(live_entries_);
  out.PutValue<uint64_t>(garbage_entries_);
  out.PutValue<uint64_t>(garbage_folders_);
  out.PutArray(entries_);
  out.PutArray(sizes_);
  out.PutArray(names_);
  out.PutArray(runs_);
  out.PutArray(folders_);
}

bool Snapshot::Load(StateReader& in) {
  uint64_t records = 0, live = 0, garbage_entries = 0, garbage_folders = 0;
  const bool read = in.GetValue(records) && records <= 1 && in.GetValue(live) &&
                    in.GetValue(garbage_entries) && in.GetValue(garbage_folders) &&
                    in.GetArray(entries_) && in.GetArray(sizes_) && in.GetArray(names_) &&
                    in.GetArray(runs_) && in.GetArray(folders_);
  records_ = records == 1;
  garbage_entries_ = garbage_entries;
  garbage_folders_ = garbage_folders;
  if (!read || !HoldsTogether()) {
    *this = Snapshot(records_);
    return false;
  }
  return true;
}

bool Snapshot::HoldsTogether() {
  const size_t entries = entries_.size();
  const size_t names = names_.size();
  if (records_ ? sizes_.size() != entries : !sizes_.empty()) return false;
  if (names > 0 && names_[names - 1] != '\0') return false;
  for (size_t k = 0; k < runs_.size(); ++k) {
    const SnapshotRun& r = runs_[k];
    if (r.first > entries || r.count > entries - r.first) return false;
    if (!records_ || r.count == 0) continue;
    // Each of its names ends inside the arena.
    size_t at = r.names;
    for (uint32_t i = 0; i < r.count; ++i) {
      if (at >= names) return false;
      const void* end = std::memchr(names_.data() + at, '\0', names - at);
      if (end == nullptr) return false;
      at = static_cast<size_t>(static_cast<const char*>(end) - names_.data()) + 1;
    }
  }
  const size_t folders = folders_.size();
  auto link = [&](uint32_t f) { return f == kNoFolder || f < folders; };
  for (size_t f = 0; f < folders; ++f) {
    const SnapshotFolder& d = folders_[f];
    if (d.name > names || d.name_size > names - d.name) return false;
    if (!link(d.parent) || !link(d.first_child) || !link(d.next_sibling)) return false;
    if (d.first_run > runs_.size() || d.run_count > runs_.size() - d.first_run) return false;
  }
  if (folders == 0) {
    live_entries_ = 0;
    return true;
  }
  if (folders_[0].parent != kNoFolder) return false;
  // The tree from the root: each folder met once, no deeper than a walk
  // goes, each one's count the sum of its runs (a lookup's index is sized by
  // it), none of them dropped.
  std::vector<bool> seen(folders, false);
  std::vector<std::pair<uint32_t, size_t>> stack = {{0, 0}};
  size_t live = 0;
  size_t pushed = 1;
  while (!stack.empty()) {
    const auto [f, depth] = stack.back();
    stack.pop_back();
    if (seen[f] || depth > kMaxFolderDepth + 1) return false;
    seen[f] = true;
    const SnapshotFolder& d = folders_[f];
    if (d.flags & kFolderGone) return false;
    uint64_t sum = 0;
    for (uint32_t k = 0; k < d.run_count; ++k) sum += runs_[d.first_run + k].count;
    if (sum != d.count) return false;
    live += d.count;
    for (uint32_t c = d.first_child; c != kNoFolder; c = folders_[c].next_sibling) {
      // A chain of siblings that runs in a circle ends here; a path is
      // rebuilt by following the parents up.
      if (seen[c] || ++pushed > folders || folders_[c].parent != f) return false;
      stack.emplace_back(c, depth + 1);
    }
  }
  live_entries_ = live;
  return true;
}

namespace {

// The home slot of `id` in a table of `cap` slots (any size, not only
// powers of two, so the table can stay small).
size_t Slot(PathId id, size_t cap) {
  const uint64_t h = Mix64((static_cast<uint64_t>(id.crc) << 32) | id.extra);
  return static_cast<size_t>((static_cast<unsigned __int128>(h) * cap) >> 64);
}

size_t NextSlot(size_t slot, size_t cap) { return slot + 1 == cap ? 0 : slot + 1; }

}  // namespace

FolderMatch::FolderMatch(const Snapshot* snapshot, TakenSet* taken, uint32_t folder)
    : snapshot_(snapshot), taken_(taken), folder_(folder) {
  if (folder_ != kNoFolder) Advance();
}

void FolderMatch::Advance() {
  const SnapshotFolder& d = snapshot_->folder(folder_);
  while (run_ < d.run_count) {
    const SnapshotRun& r = snapshot_->run(d.first_run + run_);
    while (offset_ < r.count && Taken(r.first + offset_)) ++offset_;
    if (offset_ < r.count) return;
    ++run_;
    offset_ = 0;
  }
}

void FolderMatch::BuildIndex() {
  const SnapshotFolder& d = snapshot_->folder(folder_);
  // A fifth of the slots stay free: probe runs stay short. Inserted in
  // snapshot order, entries with equal identity lie along one probe run in
  // that order, so the first one not taken is the first remaining one.
  const size_t cap = d.count + d.count / 4 + 16;
  index_.assign(cap, 0);
  for (uint32_t k = 0; k < d.run_count; ++k) {
    const SnapshotRun& r = snapshot_->run(d.first_run + k);
    for (uint32_t i = 0; i < r.count; ++i) {
      const size_t e = static_cast<size_t>(r.first + i);
      const SnapshotEntry& entry = snapshot_->entry(e);
      size_t s = Slot(entry.id(), cap);
      while (index_[s] != 0) s = NextSlot(s, cap);
      index_[s] = e + 1;
    }
  }
}

ptrdiff_t FolderMatch::Take(PathId id) {
  if (folder_ == kNoFolder) return -1;
  const SnapshotFolder& d = snapshot_->folder(folder_);
  if (run_ >= d.run_count) return -1;
  // The walk normally meets the entries in the order it recorded them.
  const SnapshotRun& r = snapshot_->run(d.first_run + run_);
  const size_t next = static_cast<size_t>(r.first + offset_);
  if (snapshot_->entry(next).id() == id) {
    taken_->Add(next);
    Advance();
    return static_cast<ptrdiff_t>(next);
  }
  if (index_.empty()) BuildIndex();
  const size_t cap = index_.size();
  for (size_t s = Slot(id, cap); index_[s] != 0; s = NextSlot(s, cap)) {
    const size_t e = static_cast<size_t>(index_[s] - 1);
    if (snapshot_->entry(e).id() == id && !Taken(e)) {
      taken_->Add(e);
      Advance();
      return static_cast<ptrdiff_t>(e);
    }
  }
  return -1;
}

}  // namespace sentrel
