#ifndef SENTREL_MONITOR_SNAPSHOT_H_
#define SENTREL_MONITOR_SNAPSHOT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "monitor/pod_array.h"
#include "platform/clock.h"

namespace sentrel {

class StateReader;
class StateWriter;

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
  // `seed` keys the second hash. A snapshot's identities are comparable only
  // with ones made from the same seed.
  explicit PathHasher(uint64_t seed);
  void Update(std::string_view bytes);
  PathId Finish() const;
  // A seed nobody else can know, so that nobody can name a file so that it
  // passes for another one.
  static uint64_t NewSeed();

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

constexpr uint32_t kNoFolder = 0xFFFFFFFFu;

// A run of one folder's entries that lie next to each other in the entry
// arrays. A folder's entries are cut into runs by its subfolders: the walk
// meets a subfolder's content between two of its parent's entries.
struct SnapshotRun {
  uint64_t first = 0;  // index of its first entry
  uint64_t names = 0;  // with records: where its entries' names begin
  uint32_t count = 0;
  uint32_t unused = 0;
};

// One folder a check walked.
struct SnapshotFolder {
  uint64_t name = 0;  // its own name in the name arena; empty for the root
  uint64_t device = 0;
  uint64_t inode = 0;
  uint32_t name_size = 0;
  uint32_t parent = kNoFolder;
  // The subfolders walked, in the order the walk met them.
  uint32_t first_child = kNoFolder;
  uint32_t next_sibling = kNoFolder;
  // Its runs: runs_[first_run, first_run + run_count). Run k comes before
  // child k, the last run after the last child.
  uint32_t first_run = 0;
  uint32_t run_count = 0;
  uint32_t count = 0;  // its own entries
  uint32_t flags = 0;
};

// The entries one check recorded, folder by folder, in walk order, and, when
// asked to keep records, each entry's size and name too (to report deleted
// files by name; full paths are rebuilt only then).
//
// Everything lives in flat arrays (entries, sizes, name offsets, runs,
// folders) and one arena of names, so the whole can be written out and read
// back as it is. A full check builds a new snapshot; a check that looks only
// at some folders replaces their runs by new ones at the end of the arrays,
// and the old ones wait as garbage until Compact.
class Snapshot {
 public:
  enum FolderFlags : uint32_t {
    kFolderGone = 1,  // dropped from the tree; garbage
    // Listed again at every partial check: it held an entry in use, or a
    // folder entry whose folder is not walked (whose time changes unseen).
    kFolderRelist = 2,
  };

  explicit Snapshot(bool with_records = false) : records_(with_records) {}
  Snapshot(Snapshot&&) = default;
  Snapshot& operator=(Snapshot&&) = default;

  bool has_records() const { return records_; }
  bool empty() const { return folders_.empty(); }
  // Entries in the tree (garbage left out).
  size_t size() const { return live_entries_; }
  size_t entry_slots() const { return entries_.size(); }
  size_t folder_slots() const { return folders_.size(); }
  size_t garbage_entries() const { return garbage_entries_; }
  size_t garbage_folders() const { return garbage_folders_; }

  // Room for a full check of about the same tree, and for the partial
  // checks after it.
  void ReserveLike(const Snapshot& other);

  // Adds a folder record, not yet linked to its siblings (see LinkChildren).
  // The root is the first folder added, with no parent.
  uint32_t AddFolder(uint32_t parent, std::string_view name, uint64_t device, uint64_t inode);
  // Makes `children` the subfolders of `parent`, in this order.
  void LinkChildren(uint32_t parent, const std::vector<uint32_t>& children);
  void AppendEntry(const SnapshotEntry& e) { entries_.push_back(e); }
  // With records: the entry, its size and its name, which follows the
  // names of the entries before it in its run.
  void AppendEntry(const SnapshotEntry& e, int64_t size, std::string_view name);
  uint64_t names_end() const { return names_.size(); }
  // Drops the last entry (and its record).
  void PopEntry();
  // Stores a folder's runs, which the walk gathered as it went.
  void SetRuns(uint32_t folder, const std::vector<SnapshotRun>& runs, uint32_t count);
  // Moves the records that a partial check appended for `folder` (`runs`,
  // the last ones in the arrays, with the subfolders `children`) back into
  // the folder's old places, when they fit them exactly: as many runs, each
  // of as many entries and name bytes, between the same subfolders. A log
  // that grows then changes a few pages of the snapshot instead of leaving
  // its folder's old records as garbage, and a saved state writes only
  // those pages. False, and nothing changed, when they do not fit.
  bool ReplaceInPlace(uint32_t folder, const std::vector<SnapshotRun>& runs,
                      const std::vector<uint32_t>& children);
  // Marks `folder` and everything below it gone.
  void DropTree(uint32_t folder);
  // Counts `n` entries that a partial check replaced as garbage.
  void AddGarbage(size_t n) { garbage_entries_ += n; }
  void SetLiveEntries(size_t n) { live_entries_ = n; }
  // Gives back room far beyond what the snapshot may grow into.
  void Trim();
  // The same tree in fresh arrays without garbage.
  Snapshot Compacted() const;

  SnapshotFolder& folder(uint32_t f) { return folders_[f]; }
  const SnapshotFolder& folder(uint32_t f) const { return folders_[f]; }
  std::string_view folder_name(uint32_t f) const {
    return {names_.data() + folders_[f].name, folders_[f].name_size};
  }
  const SnapshotRun& run(uint32_t r) const { return runs_[r]; }
  uint32_t run_slots() const { return static_cast<uint32_t>(runs_.size()); }
  uint32_t AddRuns(const std::vector<SnapshotRun>& runs);
  SnapshotEntry& entry(size_t i) { return entries_[i]; }
  const SnapshotEntry& entry(size_t i) const { return entries_[i]; }
  int64_t record_size(size_t i) const { return sizes_[i]; }
  void set_record_size(size_t i, int64_t size) { sizes_[i] = size; }
  // The folder's path: `root` followed by the names down to it, each
  // followed by "/".
  std::string FolderPath(uint32_t f, const std::string& root) const;
  // The walked subfolder of `parent` named `name`, or kNoFolder. `hint` (a
  // child of `parent`, or kNoFolder) is tried first: the walk normally meets
  // subfolders in the order it recorded them.
  uint32_t FindChild(uint32_t parent, std::string_view name, uint32_t hint) const;

  // Calls `entry(index, name)` for the folder's own entries (the name only
  // with records) and `child(folder)` for its walked subfolders, in walk
  // order.
  template <typename E, typename C>
  void ForEachInWalkOrder(uint32_t f, E&& entry, C&& child) const {
    const SnapshotFolder& d = folders_[f];
    uint32_t c = d.first_child;
    for (uint32_t k = 0; k < d.run_count; ++k) {
      const SnapshotRun r = runs_[d.first_run + k];
      // A run's names follow each other, each ended by a zero byte.
      const char* name = records_ ? names_.data() + r.names : nullptr;
      for (uint32_t i = 0; i < r.count; ++i) {
        std::string_view n;
        if (name != nullptr) {
          n = std::string_view(name);
          name += n.size() + 1;
        }
        entry(static_cast<size_t>(r.first + i), n);
      }
      if (c != kNoFolder) {
        child(c);
        c = folders_[c].next_sibling;
      }
    }
    for (; c != kNoFolder; c = folders_[c].next_sibling) child(c);
  }

  // Puts every folder's entries (and records) in another order, as a walk
  // that met them differently would have recorded them.
  void Shuffle(uint64_t seed);

  // Writes the snapshot as it lies in memory (its garbage too), array by
  // array, with no copy of its own.
  void Save(StateWriter& out) const;
  // Reads what Save wrote. False, and an empty snapshot, when the data does
  // not hold together: every index must lead inside its array and the
  // folders must form one tree, so that nothing read can lead a check
  // astray.
  bool Load(StateReader& in);

 private:
  uint32_t CopyTree(const Snapshot& from, uint32_t f, uint32_t parent);
  bool HoldsTogether();

  bool records_ = false;
  PodArray<SnapshotEntry> entries_;
  PodArray<int64_t> sizes_;  // with records
  PodArray<char> names_;     // every name followed by a zero byte
  PodArray<SnapshotRun> runs_;
  PodArray<SnapshotFolder> folders_;
  size_t live_entries_ = 0;
  size_t garbage_entries_ = 0;
  size_t garbage_folders_ = 0;
};

// Which entries of a snapshot a check found again, by index; the rest were
// deleted. Holds one bit per entry, and only while a check runs.
class TakenSet {
 public:
  explicit TakenSet(size_t n) { bits_.resize((n + 63) / 64); }
  bool Has(size_t i) const { return i / 64 < bits_.size() && ((bits_[i / 64] >> (i % 64)) & 1u); }
  void Add(size_t i) { bits_[i / 64] |= uint64_t{1} << (i % 64); }

 private:
  PodArray<uint64_t> bits_;
};

// The entries one folder of the previous snapshot holds, as the walk meets
// the folder again: each lookup takes the first entry not taken yet with
// the identity asked for. When the walk's order matches the snapshot's,
// that is the next entry in line; otherwise a hash index over the folder,
// built on first need, keeps each lookup short.
class FolderMatch {
 public:
  // `folder` may be kNoFolder: a folder that is new, where nothing matches.
  FolderMatch(const Snapshot* snapshot, TakenSet* taken, uint32_t folder);
  // The index of the entry taken, or -1.
  ptrdiff_t Take(PathId id);

 private:
  bool Taken(size_t i) const { return taken_->Has(i); }
  void Advance();
  void BuildIndex();

  const Snapshot* snapshot_;
  TakenSet* taken_;
  uint32_t folder_;
  uint32_t run_ = 0;     // the cursor: run and position in it of the first
  uint32_t offset_ = 0;  // entry not taken
  std::vector<uint64_t> index_;  // open addressing: entry index + 1, 0 for a free slot
};

}  // namespace sentrel

#endif  // SENTREL_MONITOR_SNAPSHOT_H_
