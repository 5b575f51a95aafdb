#ifndef SENTREL_ACTIONS_FILE_OP_STEPS_H_
#define SENTREL_ACTIONS_FILE_OP_STEPS_H_

#include <functional>
#include <set>
#include <string>

#include "platform/file_tree.h"
#include "shell/message_sink.h"

namespace sentrel {

// The changes a file operation makes, one call each. The operation works out
// everything before them (what the patterns match, where each entry goes,
// the checks and the refusals) and hands every change to its steps: the
// disk's carry it out, a preview's say what would be done. A preview thus
// never differs from the run in what it decides.
class FileOpSteps {
 public:
  virtual ~FileOpSteps() = default;
  // Whether the steps only describe; the operation then says nothing of
  // its own progress (the description is all there is).
  virtual bool Describes() const = 0;
  virtual bool MakeFolders(const std::string& path, std::string& error) = 0;
  virtual TreeOutcome Transfer(const std::string& from, const std::string& to, bool move,
                               TreeListener& listener) = 0;
  virtual TreeOutcome Remove(const std::string& path, TreeListener& listener) = 0;
  // `put` puts `path` in the trash the way this system keeps one.
  virtual TreeOutcome Trash(const std::string& path, TreeListener& listener,
                            const std::function<TreeOutcome()>& put) = 0;
  virtual RenameOutcome Rename(const std::string& from, const std::string& to, bool replace,
                               std::string& error) = 0;
};

// The steps that change the file system.
FileOpSteps& DiskSteps();

// The steps of a dry run: each change is one "would ..." line on `out`, and
// nothing changes. It remembers where earlier steps of the run would have
// put entries, so that a later one is refused there as the run refuses it.
class PreviewSteps final : public FileOpSteps {
 public:
  explicit PreviewSteps(MessageSink& out) : out_(out) {}
  bool Describes() const override { return true; }
  bool MakeFolders(const std::string& path, std::string& error) override;
  TreeOutcome Transfer(const std::string& from, const std::string& to, bool move,
                       TreeListener& listener) override;
  TreeOutcome Remove(const std::string& path, TreeListener& listener) override;
  TreeOutcome Trash(const std::string& path, TreeListener& listener,
                    const std::function<TreeOutcome()>& put) override;
  RenameOutcome Rename(const std::string& from, const std::string& to, bool replace,
                       std::string& error) override;

 private:
  void Would(const std::string& what);
  bool Planned(const std::string& path) const;

  MessageSink& out_;
  std::set<std::string> folders_;  // folders the run would create
  std::set<std::string> placed_;   // entries the run would put in place
  std::set<std::string> gone_;     // entries the run would take away
};

}  // namespace sentrel

#endif  // SENTREL_ACTIONS_FILE_OP_STEPS_H_
