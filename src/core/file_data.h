#ifndef SENTREL_CORE_FILE_DATA_H_
#define SENTREL_CORE_FILE_DATA_H_

#include <cstdint>
#include <string>
#include <vector>

namespace sentrel {

// What a reported file's state says happened to it.
enum FileState : uint8_t {
  kStateNone = 0,
  kStateAdded = 1,
  kStateChanged = 2,
  kStateDeleted = 3,
  kStateOlder = 4,
};

// One file as handed to the actions: its full path, last-write time (local
// date-time value, days since 1899-12-30), size in bytes, and state.
struct FileData {
  double Time = 0.0;
  int64_t Size = 0;
  std::string Name;
  uint8_t State = kStateNone;

  FileData() = default;
  FileData(std::string name, double time, int64_t size, uint8_t state)
      : Time(time), Size(size), Name(std::move(name)), State(state) {}
};

using FileList = std::vector<FileData>;

}  // namespace sentrel

#endif  // SENTREL_CORE_FILE_DATA_H_
