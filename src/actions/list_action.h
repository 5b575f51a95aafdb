#ifndef SENTREL_ACTIONS_LIST_ACTION_H_
#define SENTREL_ACTIONS_LIST_ACTION_H_

#include "actions/action.h"

namespace sentrel {

// Writes the reported files to a text file, one expanded "ListParams" line
// each, replacing or extending the file; optionally deletes the file once all
// actions of the run are done.
class ListAction final : public Action {
 public:
  ListAction();
  void Run(const FileList& files, const RunContext& ctx) override;
  std::string Describe() const override;
  void AfterRun(const RunContext& ctx) override;
  void Review(Diagnostics& notes) const override;

  const StringParam& ListName() const { return *list_name_; }
  const StringParam& ListParams() const { return *list_params_; }
  const BoolParam& ListAppend() const { return *list_append_; }
  const BoolParam& ListDelete() const { return *list_delete_; }

 private:
  // A dry run's line for a run over `files`.
  void DescribeList(const FileList& files, const RunContext& ctx) const;

  StringParam* list_name_;
  StringParam* list_params_;
  BoolParam* list_append_;
  BoolParam* list_delete_;
};

}  // namespace sentrel

#endif  // SENTREL_ACTIONS_LIST_ACTION_H_
