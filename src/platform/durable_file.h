#ifndef SENTREL_PLATFORM_DURABLE_FILE_H_
#define SENTREL_PLATFORM_DURABLE_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace sentrel {

// Writes a file that replaces `path` whole or not at all: the content goes to
// a temporary file beside it (readable by its owner only), is flushed to the
// disk, and only then takes the name. A process killed, or a machine that
// loses power, midway leaves the old file under the name, or the whole new
// one; never a mix. A writer destroyed before Commit leaves the old file.
class DurableFileWriter {
 public:
  DurableFileWriter() = default;
  ~DurableFileWriter();
  DurableFileWriter(const DurableFileWriter&) = delete;
  DurableFileWriter& operator=(const DurableFileWriter&) = delete;

  bool Open(const std::string& path, std::string& error);
  // Appends; false (with the reason kept for Commit) once a write failed.
  bool Write(const void* data, size_t size);
  bool Commit(std::string& error);

 private:
  void Discard();

  std::string path_;
  std::string temp_;
  int fd_ = -1;
  int error_ = 0;
};

// Reads a file from its start, piece by piece.
class SequentialFileReader {
 public:
  SequentialFileReader() = default;
  ~SequentialFileReader();
  SequentialFileReader(const SequentialFileReader&) = delete;
  SequentialFileReader& operator=(const SequentialFileReader&) = delete;

  // False when there is nothing to read (`missing` tells whether the file
  // is simply not there) or it cannot be opened (`error` says why).
  bool Open(const std::string& path, bool& missing, std::string& error);
  uint64_t size() const { return size_; }
  // Exactly `size` bytes, or false.
  bool Read(void* data, size_t size);

 private:
  int fd_ = -1;
  uint64_t size_ = 0;
};

// Removes what saves of `path` that were cut short left behind.
void RemoveLeftoverTemporaries(const std::string& path);

}  // namespace sentrel

#endif  // SENTREL_PLATFORM_DURABLE_FILE_H_
