#ifndef SENTREL_ACTIONS_FILE_OPERATION_H_
#define SENTREL_ACTIONS_FILE_OPERATION_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
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

// Whoever may be asked before a file is overwritten or deleted.
class Confirmer {
 public:
  virtual ~Confirmer() = default;
  // True when the user agrees to `question`.
  virtual bool Confirm(const std::string& question) = 0;
};

struct FileOpRequest {
  int op = kFoCopy;
  std::vector<std::string> sources;
  std::vector<std::string> destinations;
  uint16_t flags = kFofNoConfirmation | kFofNoConfirmMkdir;
};

struct FileOpEnvironment {
  MessageSink* messages = nullptr;
  // Asked only when the flags want confirmation; none means the answer is no.
  Confirmer* confirmer = nullptr;
  // The trash of "AllowUndo" deletes: its files/ and info/ folders.
  std::string trash_dir;
  Clock* clock = nullptr;
};

// What became of the entries of one operation.
struct FileOpSummary {
  int done = 0;     // entries copied, moved, renamed, deleted or trashed
  int skipped = 0;  // declined by the user (or nobody could be asked)
  int failed = 0;   // missing sources and failures
};

// Copies, moves, renames or deletes the entries of the request. Every entry
// is done or left as it was: a source is deleted only once its copy is
// complete and verified, and a destination is replaced only when allowed.
FileOpSummary PerformFileOperation(const FileOpRequest& request, const FileOpEnvironment& env);

// The trash folder of the current user ($XDG_DATA_HOME/Trash).
std::string UserTrashDir();

}  // namespace sentrel

#endif  // SENTREL_ACTIONS_FILE_OPERATION_H_
