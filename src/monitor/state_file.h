#ifndef SENTREL_MONITOR_STATE_FILE_H_
#define SENTREL_MONITOR_STATE_FILE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "monitor/pod_array.h"
#include "platform/durable_file.h"

namespace sentrel {

// The file in which an item with "SaveState" keeps what its checks compare
// with, so that the first check of the next run picks up where the last one
// left off.
//
// Layout (native byte order; a file of another byte order or version is
// refused): a fixed header (magic, version, byte-order mark, item kind, size
// of the settings text), the settings text, the kind's own data, and a
// 64-bit XXH3 checksum of every byte before it.
constexpr uint32_t kStateFormatVersion = 1;

// Where the state of an item lives: a file in the user's state folder named
// from the configuration file's absolute path, the item's kind and
// "FileName", and `slot` (the how-manieth item of that kind and "FileName"
// in the file it is). The name begins with the last part of "FileName", so
// that a user can tell the files apart.
std::string StateFilePath(const std::string& config_file, int kind, const std::string& file_name,
                          int slot);

struct HashState;

class StateWriter {
 public:
  StateWriter();
  ~StateWriter();
  // Starts a new state file at `path` (its folder made, for the owner
  // only, when missing).
  bool Open(const std::string& path, uint32_t kind, std::string_view settings,
            std::string& error);
  void Put(const void* data, size_t size);
  template <typename T>
  void PutValue(const T& v) {
    Put(&v, sizeof v);
  }
  template <typename T>
  void PutArray(const PodArray<T>& a) {
    PutValue<uint64_t>(a.size());
    Put(a.data(), a.size() * sizeof(T));
  }
  // Writes the checksum and puts the file in place of the old one.
  bool Finish(std::string& error);

 private:
  DurableFileWriter file_;
  std::unique_ptr<HashState> hash_;
};

class StateReader {
 public:
  enum class Opened { kReady, kMissing, kRefused };

  StateReader();
  ~StateReader();
  // Reads the header. kReady: `settings` holds the settings the state was
  // saved under. kRefused: `why` says what is wrong with the file.
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
  // After the kind's data: true when the checksum matches and nothing
  // follows it. Otherwise `why` says what is wrong.
  bool Finish(std::string& why);
  // Reads the rest without keeping it, then checks as Finish does.
  bool Skip(std::string& why);

 private:
  SequentialFileReader file_;
  std::unique_ptr<HashState> hash_;
  uint64_t size_ = 0;
  uint64_t offset_ = 0;
};

// The item's settings that differ between two settings texts ("Key=Value"
// lines), as the console line says them: `Mask "*.txt" (now "*.pdf")`.
std::string SettingsDifference(std::string_view saved, std::string_view now);

// Saves running in this process. The program waits a little for them on its
// way out, so that an orderly stop never cuts one short.
void StateSaveBegins();
void StateSaveEnds();
// True when none runs, waiting up to `ms` for them to end.
bool WaitForStateSaves(int ms);

}  // namespace sentrel

#endif  // SENTREL_MONITOR_STATE_FILE_H_
