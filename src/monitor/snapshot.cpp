#include "monitor/snapshot.h"

#include <array>
#include <random>

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

// The second hash is seeded once per process: snapshots live only in memory,
// and a seed nobody knows keeps anyone from naming a file so that it passes
// for another one.
uint64_t ProcessSeed() {
  static const uint64_t seed = [] {
    std::random_device rd;
    return (static_cast<uint64_t>(rd()) << 32) ^ rd() ^ 0xCBF29CE484222325ull;
  }();
  return seed;
}

uint64_t Mix64(uint64_t x) {
  x ^= x >> 33;
  x *= 0xFF51AFD7ED558CCDull;
  x ^= x >> 33;
  x *= 0xC4CEB9FE1A85EC53ull;
  x ^= x >> 33;
  return x;
}

}  // namespace

PathHasher::PathHasher() : crc_(0xFFFFFFFFu), extra_(ProcessSeed()) {}

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

void Snapshot::Reserve(size_t n, bool with_data) {
  entries_.reserve(n);
  if (with_data) data_.reserve(n);
}

void Snapshot::Append(PathId id, Instant time) { entries_.push_back({id.crc, id.extra, time}); }

void Snapshot::Append(PathId id, Instant time, FileData data) {
  // Records and entries stay index-aligned: a snapshot has either a record
  // for every entry or none at all.
  data_.resize(entries_.size());
  entries_.push_back({id.crc, id.extra, time});
  data_.push_back(std::move(data));
}

void Snapshot::Trim() {
  if (entries_.capacity() > entries_.size() + entries_.size() / 8 + 64) entries_.shrink_to_fit();
  if (data_.capacity() > data_.size() + data_.size() / 8 + 64) data_.shrink_to_fit();
}

void Snapshot::Shuffle(uint64_t seed) {
  std::mt19937_64 rng(seed);
  for (size_t i = entries_.size(); i > 1; --i) {
    const size_t j = static_cast<size_t>(rng() % i);
    std::swap(entries_[i - 1], entries_[j]);
    if (data_.size() == entries_.size()) std::swap(data_[i - 1], data_[j]);
  }
}

void Snapshot::PrepareLookup() {
  if (lookup_ready_) return;
  lookup_ready_ = true;
  taken_.assign((entries_.size() + 63) / 64, 0);
  remaining_ = entries_.size();
}

void Snapshot::MarkTaken(size_t i) {
  taken_[i >> 6] |= uint64_t{1} << (i & 63);
  --remaining_;
  while (cursor_ < entries_.size() && IsTaken(cursor_)) ++cursor_;
}

namespace {

// The home slot of `id` in a table of `cap` slots (any size, not only
// powers of two, so the table can stay small).
size_t Slot(PathId id, size_t cap) {
  const uint64_t h = Mix64((static_cast<uint64_t>(id.crc) << 32) | id.extra);
  return static_cast<size_t>((static_cast<unsigned __int128>(h) * cap) >> 64);
}

size_t Next(size_t slot, size_t cap) { return slot + 1 == cap ? 0 : slot + 1; }

}  // namespace

void Snapshot::BuildIndex() {
  // A fifth of the slots stay free: probe runs stay short, and a probe
  // mostly walks within one cache line.
  const size_t cap = entries_.size() + entries_.size() / 4 + 16;
  index_.assign(cap, 0);
  // Inserted in snapshot order: entries with equal identity then lie along
  // one probe run in that order, so the first one not taken is the first
  // remaining one in the snapshot too. Each slot holds the entry's CRC
  // beside its index, so that a probe past another entry does not have to
  // fetch that entry.
  for (size_t i = 0; i < entries_.size(); ++i) {
    size_t s = Slot(entries_[i].id(), cap);
    while (index_[s] != 0) s = Next(s, cap);
    index_[s] = (static_cast<uint64_t>(entries_[i].crc) << 32) | static_cast<uint32_t>(i + 1);
  }
}

void Snapshot::PrefetchSlot(PathId id) const {
  if (index_.empty()) return;
  __builtin_prefetch(&index_[Slot(id, index_.size())]);
}

void Snapshot::PrefetchEntry(PathId id) const {
  if (index_.empty()) return;
  const size_t cap = index_.size();
  for (size_t s = Slot(id, cap); index_[s] != 0; s = Next(s, cap)) {
    if (static_cast<uint32_t>(index_[s] >> 32) == id.crc) {
      __builtin_prefetch(&entries_[static_cast<uint32_t>(index_[s]) - 1]);
      return;
    }
  }
}

ptrdiff_t Snapshot::Take(PathId id) {
  PrepareLookup();
  if (remaining_ == 0) return -1;
  // The walk normally meets the entries in the order it recorded them.
  if (entries_[cursor_].id() == id) {
    const size_t i = cursor_;
    MarkTaken(i);
    return static_cast<ptrdiff_t>(i);
  }
  if (index_.empty()) BuildIndex();
  const size_t cap = index_.size();
  for (size_t s = Slot(id, cap); index_[s] != 0; s = Next(s, cap)) {
    if (static_cast<uint32_t>(index_[s] >> 32) != id.crc) continue;
    const size_t i = static_cast<uint32_t>(index_[s]) - 1;
    if (entries_[i].id() == id && !IsTaken(i)) {
      MarkTaken(i);
      return static_cast<ptrdiff_t>(i);
    }
  }
  return -1;
}

}  // namespace sentrel
