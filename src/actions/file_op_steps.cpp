#include "actions/file_op_steps.h"

#include "platform/paths.h"
#include "shell/text_util.h"

namespace sentrel {
namespace {

class OnDisk final : public FileOpSteps {
 public:
  bool Describes() const override { return false; }
  bool MakeFolders(const std::string& path, std::string& error) override {
    return MakeDirectories(path, error);
  }
  TreeOutcome Transfer(const std::string& from, const std::string& to, bool move,
                       TreeListener& listener) override {
    return TransferTree(from, to, move, listener);
  }
  TreeOutcome Remove(const std::string& path, TreeListener& listener) override {
    return RemoveTree(path, listener);
  }
  TreeOutcome Trash(const std::string&, TreeListener&,
                    const std::function<TreeOutcome()>& put) override {
    return put();
  }
  RenameOutcome Rename(const std::string& from, const std::string& to, bool replace,
                       std::string& error) override {
    return RenameEntry(from, to, replace, error);
  }
};

constexpr char kMissing[] = "no such file or directory";

// A name in a line of the preview: a line feed in it must not make two.
std::string Name(const std::string& path) { return ShellQuoted(path, kBlankOrQuote); }

}  // namespace

FileOpSteps& DiskSteps() {
  static OnDisk steps;
  return steps;
}

void PreviewSteps::Would(const std::string& what) { out_.Write("would " + what + "\n"); }

// An entry the run would have put in place, or one inside a folder it would
// have put there.
bool PreviewSteps::Planned(const std::string& path) const {
  const std::string p = AbsolutePath(path);
  for (const std::string& q : placed_) {
    if (p.compare(0, q.size(), q) != 0) continue;
    if (p.size() == q.size() || IsPathSeparator(p[q.size()])) return true;
  }
  return false;
}

bool PreviewSteps::MakeFolders(const std::string& path, std::string& error) {
  const std::string abs = AbsolutePath(path);
  if (StatTarget(abs).type == EntryType::kDirectory || folders_.count(abs) != 0) return true;
  if (StatEntry(abs).exists() && gone_.count(abs) == 0) {
    error = "a file of that name is in the way";
    return false;
  }
  folders_.insert(abs);
  Would("create folder " + Name(path));
  return true;
}

TreeOutcome PreviewSteps::Transfer(const std::string& from, const std::string& to, bool move,
                                   TreeListener& listener) {
  const TreeStep step = move ? TreeStep::kMove : TreeStep::kCopy;
  const std::string verb = move ? "move " : "copy ";
  const std::string abs_from = AbsolutePath(from), abs_to = AbsolutePath(to);
  const EntryInfo si = StatEntry(from);
  if (!si.exists() || gone_.count(abs_from) != 0) {
    listener.Failed(step, from, to, kMissing);
    return TreeOutcome::kFailed;
  }
  if (Planned(abs_to)) {
    listener.Failed(step, from, to, "another file of this run was put there");
    return TreeOutcome::kFailed;
  }
  const EntryInfo di = gone_.count(abs_to) != 0 ? EntryInfo() : StatEntry(to);
  std::string note;
  if (di.exists()) {
    if (di.SameAs(si)) {
      if (move) return TreeOutcome::kDone;
      listener.Failed(step, from, to, "source and destination are the same");
      return TreeOutcome::kFailed;
    }
    const bool src_dir = si.type == EntryType::kDirectory;
    const bool dst_dir = di.type == EntryType::kDirectory;
    if (src_dir && (dst_dir || StatTarget(to).type == EntryType::kDirectory)) {
      note = " (into the folder there)";
    } else if (src_dir || dst_dir) {
      listener.Failed(step, from, to, "the destination exists and is of another kind");
      return TreeOutcome::kFailed;
    } else {
      switch (listener.MayReplace(from, to, di)) {
        case ReplaceAnswer::kReplace:
          note = " (replacing it)";
          break;
        case ReplaceAnswer::kSkip:
          return TreeOutcome::kSkipped;
        case ReplaceAnswer::kFail:
          return TreeOutcome::kFailed;
      }
    }
  }
  Would(verb + Name(from) + " -> " + Name(to) + note);
  placed_.insert(abs_to);
  if (move) gone_.insert(abs_from);
  return TreeOutcome::kDone;
}

TreeOutcome PreviewSteps::Remove(const std::string& path, TreeListener& listener) {
  const std::string abs = AbsolutePath(path);
  if (gone_.count(abs) != 0) {
    listener.Failed(TreeStep::kDelete, path, "", kMissing);
    return TreeOutcome::kFailed;
  }
  Would("delete " + Name(path));
  gone_.insert(abs);
  return TreeOutcome::kDone;
}

TreeOutcome PreviewSteps::Trash(const std::string& path, TreeListener& listener,
                                const std::function<TreeOutcome()>&) {
  const std::string abs = AbsolutePath(path);
  if (gone_.count(abs) != 0) {
    listener.Failed(TreeStep::kDelete, path, "", kMissing);
    return TreeOutcome::kFailed;
  }
  Would("move " + Name(path) + " to the trash");
  gone_.insert(abs);
  return TreeOutcome::kDone;
}

RenameOutcome PreviewSteps::Rename(const std::string& from, const std::string& to, bool replace,
                                   std::string&) {
  Would("rename " + Name(from) + " -> " + Name(to) + (replace ? " (replacing it)" : ""));
  gone_.insert(AbsolutePath(from));
  placed_.insert(AbsolutePath(to));
  return RenameOutcome::kDone;
}

}  // namespace sentrel
