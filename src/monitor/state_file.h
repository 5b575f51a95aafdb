#ifndef SENTREL_MONITOR_STATE_FILE_H_
#define SENTREL_MONITOR_STATE_FILE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/file_data.h"
#include "monitor/pod_array.h"
#include "platform/durable_file.h"

namespace sentrel {

// The file in which an item with "SaveState" keeps what its checks compare
// with, so that the first check of the next run picks up where the last one
// left off.
//
// Layout (native byte order; a file of another byte order or version is
// refused): a fixed header (magic, version, byte-order mark, item kind, size
// of the settings text), the settings text, the reports whose actions a stop
// cut short (from version 2 on), the kind's own data, and a 64-bit XXH3
// checksum of every byte before it.
constexpr uint32_t kStateFormatVersion = 2;

// Where the state of an item lives: a file in the user's state folder named
// from the configuration file's absolute path, the item's kind and
// "FileName", and `slot` (the how-manieth item of that kind and "FileName"
// in the file it is). The name begins with the last part of "FileName", so
// that a user can tell the files apart.
std::string StateFilePath(const std::string& config_file, int kind, const std::string& file_name,
                          int slot);

struct HashState;

// Where the saves of one state file since its last whole save went, so that
// the next save can write only the pages that changed. Beside the whole
// state lies its journal ("<state>.journal"): a header naming the whole file
// it continues (by checksum and size) and the length of each of its
// segments (a run of values, or one array), then records, each the pages of
// 1024 bytes that changed and the new segment lengths, each checksummed in a
// chain with the one before it. A journal of another whole file is left
// unread; a record cut short, and everything after it, too (that save never
// finished). The journal is folded into a new whole state once it outgrows a
// quarter of it.
class StateJournal {
 public:
  StateJournal();
  // The next save writes the whole state.
  void Forget() { valid_ = false; }
  // What the last save wrote, in bytes, and whether it was the whole state.
  uint64_t last_save_bytes() const { return last_save_bytes_; }
  bool last_save_whole() const { return last_save_whole_; }

 private:
  friend class StateWriter;
  bool valid_ = false;
  // Keys the page hashes, so that nobody can make a changed page pass for
  // the one written before.
  uint64_t seed_;
  std::vector<uint64_t> lengths_;
  std::vector<std::vector<uint64_t>> pages_;
  uint64_t whole_size_ = 0;
  uint64_t journal_size_ = 0;
  uint64_t chain_ = 0;
  uint64_t last_save_bytes_ = 0;
  bool last_save_whole_ = false;
};

std::string JournalPath(const std::string& state_path);

class StateWriter {
 public:
  StateWriter();
  ~StateWriter();
  // Starts a new state for `path` (its folder made, for the owner only,
  // when missing). Nothing is written before Finish.
  bool Open(const std::string& path, uint32_t kind, std::string_view settings,
            std::string& error);
  // Copies `data`.
  void Put(const void* data, size_t size);
  template <typename T>
  void PutValue(const T& v) {
    Put(&v, sizeof v);
  }
  // The array is a segment of its own, and is read where it lies: it must
  // stay as it is until Finish.
  template <typename T>
  void PutArray(const PodArray<T>& a) {
    NewSegment();
    PutValue<uint64_t>(a.size());
    Borrow(a.data(), a.size() * sizeof(T));
    NewSegment();
  }
  // Writes the whole state with its checksum in place of the old one.
  bool Finish(std::string& error);
  // Appends what changed since `journal`'s last save to the journal when
  // that is little, else writes the whole state as Finish does.
  bool Finish(StateJournal& journal, std::string& error);

 private:
  struct Piece {
    const char* data;  // null: in owned_ at `offset`
    size_t offset;
    size_t size;
  };
  using Segment = std::vector<Piece>;
  void NewSegment();
  void Borrow(const void* data, size_t size);
  const char* PieceData(const Piece& p) const { return p.data ? p.data : owned_.data() + p.offset; }
  uint64_t SegmentLength(const Segment& s) const;
  // Calls `page(index, data, size)` for each page of the segment.
  template <typename F>
  void ForEachPage(const Segment& s, F&& page) const;
  bool WriteWhole(StateJournal& journal, std::string& error);
  bool AppendChanges(StateJournal& journal, std::string& error);

  std::string path_;
  std::vector<Segment> segments_;
  std::string owned_;
};

class StateReader {
 public:
  enum class Opened { kReady, kMissing, kRefused, kNotAFile };

  StateReader();
  ~StateReader();
  // Reads the header. kReady: `settings` holds the settings the state was
  // saved under. kRefused: `why` says what is wrong with the file.
  // kNotAFile: something other than a regular file has the name.
  Opened Open(const std::string& path, uint32_t kind, std::string& settings, std::string& why);
  // False once the file holds fewer bytes than asked for.
  bool Get(void* data, size_t size);
  template <typename T>
  bool GetValue(T& v) {
    return Get(&v, sizeof v);
  }
  // An array written by PutArray; a length the rest of the file cannot hold
  // is refused before anything is allocated.
  template <typename T>
  bool GetArray(PodArray<T>& a) {
    uint64_t n = 0;
    if (!GetValue(n) || n > remaining() / sizeof(T)) return false;
    a.Release();
    a.resize(static_cast<size_t>(n));
    return Get(a.data(), static_cast<size_t>(n) * sizeof(T));
  }
  uint64_t remaining() const { return size_ - offset_; }
  uint32_t version() const { return version_; }
  // After the kind's data: true when the checksum matches and nothing
  // follows it. Otherwise `why` says what is wrong.
  bool Finish(std::string& why);
  // Reads the rest without keeping it, then checks as Finish does.
  bool Skip(std::string& why);

 private:
  bool ReadRaw(void* data, size_t size);
  // Applies the journal beside `path` when it continues this whole state:
  // the reads then come from the state it leads to, in memory.
  void ApplyJournal(const std::string& path);

  SequentialFileReader file_;
  std::unique_ptr<HashState> hash_;
  std::vector<char> image_;  // with a journal applied
  bool in_memory_ = false;
  uint64_t size_ = 0;
  uint64_t offset_ = 0;
  uint32_t version_ = 0;
};

// The reports of a check whose actions a stop cut short, kept so that the
// next run hands them to the actions again. Reading refuses names and counts
// the rest of the file cannot hold.
void PutReports(StateWriter& out, const FileList& files);
bool GetReports(StateReader& in, FileList& files);

// The item's settings that differ between two settings texts ("Key=Value"
// lines), as the console line says them: `Mask "*.txt" (now "*.pdf")`.
std::string SettingsDifference(std::string_view saved, std::string_view now);

// Whether the state folder `folder` may be read and written in this run.
// Looked at once per folder and run: a folder that someone else could fill
// or empty is not used at all, and the first caller that finds it so gets
// in `said` the one line that tells the user (the others get nothing).
bool StateFolderUsable(const std::string& folder, std::string& said);

// Saves running in this process. The program waits a little for them on its
// way out, so that an orderly stop never cuts one short.
void StateSaveBegins();
void StateSaveEnds();
// True when none runs, waiting up to `ms` for them to end.
bool WaitForStateSaves(int ms);

}  // namespace sentrel

#endif  // SENTREL_MONITOR_STATE_FILE_H_
