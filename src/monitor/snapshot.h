#ifndef SENTREL_MONITOR_SNAPSHOT_H_
#define SENTREL_MONITOR_SNAPSHOT_H_

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "monitor/file_data.h"
#include "platform/clock.h"

namespace sentrel {

// The identity of a path in a snapshot: the CRC-32 of its bytes (ISO-HDLC,
// letter case counts) and 32 more bits of a second, seeded hash. With 64
// bits a million-entry tree holds no colliding pair in practice, where 32
// bits alone give about a hundred.
struct PathId {
  uint32_t crc = 0;
  uint32_t extra = 0;
  bool operator==(const PathId&) const = default;
};

// Hashes a path piece by piece, so that a directory's prefix is hashed once
// and each name only continues from it.
class PathHasher {
 public:
  PathHasher();
  void Update(std::string_view bytes);
  PathId Finish() const;

 private:
  uint32_t crc_;
  uint64_t extra_;
};

// One recorded entry. 16 bytes: the path is kept only as its identity, and
// its time as the real instant, so that comparisons see every change of a
// last-write time to the nanosecond, whatever the clocks of the zone did.
struct SnapshotEntry {
  uint32_t crc;
  uint32_t extra;
  Instant time;
  PathId id() const { return {crc, extra}; }
};
static_assert(sizeof(SnapshotEntry) == 16, "a snapshot entry must stay at 16 bytes");

// The entries one check recorded, in walk order, optionally with the full
// record of each (to report deletions by name; a record's shown time is
// made from its entry's instant when it is reported). The next check takes
// entries out of it as it finds them again.
class Snapshot {
 public:
  void Reserve(size_t n, bool with_data);
  void Append(PathId id, Instant time);
  void Append(PathId id, Instant time, FileData data);
  // Gives back the room a growing walk left unused, so that a resting
  // snapshot keeps to about 16 bytes an entry.
  void Trim();
  // Puts the entries (and their records) in another order, as a walk that
  // met them differently would have recorded them.
  void Shuffle(uint64_t seed);
  // Drops the last entry (and its record).
  void PopBack() {
    entries_.pop_back();
    if (data_.size() > entries_.size()) data_.pop_back();
  }
  size_t size() const { return entries_.size(); }
  bool has_data() const { return !data_.empty(); }
  SnapshotEntry& entry(size_t i) { return entries_[i]; }
  size_t data_size() const { return data_.size(); }
  FileData& data(size_t i) { return data_[i]; }

  // Finds the first remaining entry with `id` in snapshot order, marks it
  // taken and returns its index, or -1. When the walk order matches the
  // snapshot's, that is the first remaining entry; otherwise a hash index
  // built on first need keeps each lookup short.
  ptrdiff_t Take(PathId id);
  // Hints that `id` will be looked up soon: first its index slot, then (once
  // that is at hand) its entry. They only ask for memory and change
  // nothing.
  void PrefetchSlot(PathId id) const;
  void PrefetchEntry(PathId id) const;
  size_t remaining() {
    PrepareLookup();
    return remaining_;
  }
  // Indices of the entries never taken, in snapshot order.
  template <typename F>
  void ForEachRemaining(F&& f) {
    PrepareLookup();
    for (size_t i = 0; i < entries_.size(); ++i) {
      if (!IsTaken(i)) f(i);
    }
  }

 private:
  bool IsTaken(size_t i) const { return (taken_[i >> 6] >> (i & 63)) & 1u; }
  void MarkTaken(size_t i);
  void PrepareLookup();
  void BuildIndex();

  std::vector<SnapshotEntry> entries_;
  std::vector<FileData> data_;
  // Lookup state, made only once the snapshot is being compared against,
  // so that a resting snapshot costs its 16 bytes per entry and no more.
  std::vector<uint64_t> taken_;
  size_t cursor_ = 0;     // the first entry not taken
  size_t remaining_ = 0;  // entries not taken
  bool lookup_ready_ = false;
  // Open addressing: CRC in the high half, entry index + 1 in the low half;
  // 0 is a free slot.
  std::vector<uint64_t> index_;
};

}  // namespace sentrel

#endif  // SENTREL_MONITOR_SNAPSHOT_H_
