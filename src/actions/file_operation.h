#ifndef SENTREL_ACTIONS_FILE_OPERATION_H_
#define SENTREL_ACTIONS_FILE_OPERATION_H_

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "actions/file_op_steps.h"
#include "actions/macros.h"
#include "platform/clock.h"
#include "platform/file_ops.h"
#include "shell/message_sink.h"

namespace sentrel {

// The operations, numbered as the shell's file operation numbers them.
enum FileOpCode : int {
  kFoMove = 1,
  kFoCopy = 2,
  kFoDelete = 3,
  kFoRename = 4,
};

// The option flags, with the shell's values.
enum FileOpFlag : uint16_t {
  kFofSilent = 0x4,            // no progress lines
  kFofNoConfirmation = 0x10,   // overwrite and delete without asking
  kFofAllowUndo = 0x40,        // delete to the trash
  kFofFilesOnly = 0x80,        // wildcards match files, not directories
  kFofNoConfirmMkdir = 0x200,  // create missing target directories
  kFofNoErrorUi = 0x400,       // no error lines
};

// The flags of a file operation action's switches.
uint16_t FileOpFlagsFor(bool files_only, bool allow_undo, bool show_progress, bool yes_to_all,
                        bool single_arg);

// Splits an expanded source or destination text the way a double-NUL list
// of it reads: entries separated by ";", the first empty entry ends the
// list.
std::vector<std::string> SplitOpList(std::string_view text);

// One source entry. Its characters marked literal came from a reported file
// (a macro put them there): they never make a pattern, so a file named "*"
// is that file and not all its neighbours.
struct OpEntry {
  OpEntry(std::string p) : path(std::move(p)) {}  // all of it the user's own text
  OpEntry(const char* p) : path(p) {}
  OpEntry(std::string p, std::vector<bool> marks) : path(std::move(p)), literal(std::move(marks)) {}
  std::string path;
  std::vector<bool> literal;  // one flag per character; missing flags are false
};

// The same split over a marked expansion: only the user's own ";"
// separates entries, never one that came from a file name.
std::vector<OpEntry> SplitOpList(const MarkedText& text);

// Whoever may be asked before a file is overwritten or deleted.
class Confirmer {
 public:
  virtual ~Confirmer() = default;
  // True when the user agrees to `question`.
  virtual bool Confirm(const std::string& question) = 0;
};

struct FileOpRequest {
  int op = kFoCopy;
  std::vector<OpEntry> sources;
  std::vector<std::string> destinations;
  uint16_t flags = kFofNoConfirmation | kFofNoConfirmMkdir;
  // Other operations of the same run go to the same destination: when it
  // does not exist yet, it is made a folder that takes them all.
  bool shared_target = false;
};

// The entries that the operations of one run have put in place. A later
// operation of the run never replaces one of them, nor anything inside a
// folder it moved: two files of one run never end on one name.
class RunLedger {
 public:
  void Add(const EntryInfo& e) { placed_.emplace(e.device, e.inode); }
  bool Has(const EntryInfo& e) const {
    return e.exists() && placed_.count({e.device, e.inode}) != 0;
  }

 private:
  std::set<std::pair<uint64_t, uint64_t>> placed_;
};

struct FileOpEnvironment {
  MessageSink* messages = nullptr;
  // Asked only when the flags want confirmation; none means the answer is no.
  Confirmer* confirmer = nullptr;
  // The trash of "AllowUndo" deletes: its files/ and info/ folders.
  std::string trash_dir;
  Clock* clock = nullptr;
  // The run this operation is part of; none: the operation stands alone.
  RunLedger* ledger = nullptr;
  // What carries the changes out; none: the disk.
  FileOpSteps* steps = nullptr;
};

// What became of the entries of one operation.
struct FileOpSummary {
  int done = 0;     // entries copied, moved, renamed, deleted or trashed
  int skipped = 0;  // declined by the user (or nobody could be asked)
  int failed = 0;   // missing sources and failures
  // The first failure in words ("cannot copy ...: why"), said wherever the
  // flags want lines or not.
  std::string first_failure;
};

// Copies, moves, renames or deletes the entries of the request. Every entry
// is done or left as it was: a source is deleted only once its copy is
// complete and verified, and a destination is replaced only when allowed.
// Each failure is one console line; where the flags want no error lines,
// the operation still ends with one line that says what failed.
FileOpSummary PerformFileOperation(const FileOpRequest& request, const FileOpEnvironment& env);

// The trash folder of the current user ($XDG_DATA_HOME/Trash).
std::string UserTrashDir();

}  // namespace sentrel

#endif  // SENTREL_ACTIONS_FILE_OPERATION_H_
