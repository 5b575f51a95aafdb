#ifndef SENTREL_PLATFORM_DURABLE_FILE_H_
#define SENTREL_PLATFORM_DURABLE_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

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

// Writes `size` bytes at `offset` of the regular file `path` (made when
// missing, for its owner only), cuts off whatever followed them, and
// flushes the file to the disk before returning. A process killed midway
// leaves the bytes before `offset` as they were.
bool WriteDurablyAt(const std::string& path, uint64_t offset, const void* data, size_t size,
                    std::string& error);

// Reads a file from its start, piece by piece.
class SequentialFileReader {
 public:
  SequentialFileReader() = default;
  ~SequentialFileReader();
  SequentialFileReader(const SequentialFileReader&) = delete;
  SequentialFileReader& operator=(const SequentialFileReader&) = delete;

  // False when there is nothing to read (`missing` tells whether the file
  // is simply not there) or it cannot be opened (`error` says why). Never
  // waits: a pipe or a device in the file's place is refused unopened, and
  // so is a link.
  bool Open(const std::string& path, bool& missing, std::string& error);
  // After a failed Open: something that is not a regular file has the name.
  bool not_a_file() const { return not_a_file_; }
  uint64_t size() const { return size_; }
  // Exactly `size` bytes, or false.
  bool Read(void* data, size_t size);

 private:
  int fd_ = -1;
  uint64_t size_ = 0;
  bool not_a_file_ = false;
};

// Removes what saves of `path` that were cut short left behind: regular
// files of the names a save gives its temporary file, nothing else.
void RemoveLeftoverTemporaries(const std::string& path);
// Whether `name` (no folder) is one a save of the file named `file_name`
// gives its temporary file: "<file_name>.<digits>-<digits>.tmp".
bool IsTemporaryNameOf(const std::string& name, const std::string& file_name);

// Whether `folder` may hold the user's saved state: a real folder (not a
// link) that this user owns and nobody else can write, or none yet (it is
// then made so). Otherwise `problem` says what is wrong and `fix` what the
// user can do about it.
bool IsPrivateFolder(const std::string& folder, std::string& problem, std::string& fix);

}  // namespace sentrel

#endif  // SENTREL_PLATFORM_DURABLE_FILE_H_
