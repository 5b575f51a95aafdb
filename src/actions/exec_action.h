#ifndef SENTREL_ACTIONS_EXEC_ACTION_H_
#define SENTREL_ACTIONS_EXEC_ACTION_H_

#include <string>
#include <vector>

#include "actions/action.h"

namespace sentrel {

// Starts a program, or opens a document or address with the desktop's
// handler, passing it the reported files in its expanded parameters: once
// for all files, per batch of "MaxFiles", or per file; optionally waiting for
// each start to end.
class ExecAction final : public Action {
 public:
  ExecAction();
  void Run(const FileList& files, const RunContext& ctx) override;
  std::string Describe() const override;
  void Review(Diagnostics& notes) const override;

  const StringParam& Command() const { return *command_; }
  const StringParam& Parameters() const { return *params_; }  // "Params"
  const StringParam& Dir() const { return *dir_; }
  const IntParam& Show() const { return *show_; }
  const BoolParam& Wait() const { return *wait_; }
  const BoolParam& MultiArgs() const { return *multi_args_; }
  const IntParam& MaxFiles() const { return *max_files_; }

 private:
  StringParam* command_;
  StringParam* params_;
  StringParam* dir_;
  IntParam* show_;
  BoolParam* wait_;
  BoolParam* multi_args_;
  IntParam* max_files_;
};

// The "Show" value that hides the program: it gets no console.
inline constexpr int kShowHidden = 3;

// Whether a "Command" text names an address (a scheme such as "https:" or
// "mailto:") rather than a file.
bool LooksLikeAddress(const std::string& command);

// The argument vector that carries out "Command" (after its environment
// references are replaced) with the split parameters: the program itself
// when it is one; otherwise the desktop's opener with the document or
// address, which takes no parameters.
std::vector<std::string> CommandLineFor(const std::string& command, const std::string& dir,
                                        std::vector<std::string> params);

}  // namespace sentrel

#endif  // SENTREL_ACTIONS_EXEC_ACTION_H_
