#ifndef SENTREL_ACTIONS_FILEOP_ACTION_H_
#define SENTREL_ACTIONS_FILEOP_ACTION_H_

#include <cstdint>
#include <optional>
#include <string>

#include "actions/action.h"
#include "actions/file_operation.h"

namespace sentrel {

// Copies, moves, renames or deletes files named by expanded "OpSource" and
// "OpDestination" texts, once for all reported files or once per file.
class FileOpAction final : public Action {
 public:
  FileOpAction();
  void Run(const FileList& files, const RunContext& ctx) override;
  std::string Describe() const override;

  // The file operation that "OpIndex" selects.
  int Operation() const;
  // The option flags the switches give.
  uint16_t Flags() const;

  // Where "AllowUndo" deletes go; the user's trash unless a test says
  // otherwise.
  void SetTrashDir(std::string dir) { trash_dir_ = std::move(dir); }
  // Where confirmation questions appear; the session's unless a test says
  // otherwise (an empty text: nobody can be asked).
  void SetDisplay(std::string display) { display_ = std::move(display); }

 private:
  IntParam* op_index_;
  StringParam* op_source_;
  StringParam* op_destination_;
  BoolParam* allow_undo_;
  BoolParam* show_progress_;
  BoolParam* yes_to_all_;
  BoolParam* files_only_;
  BoolParam* single_arg_;
  std::string trash_dir_;
  std::optional<std::string> display_;
};

}  // namespace sentrel

#endif  // SENTREL_ACTIONS_FILEOP_ACTION_H_
