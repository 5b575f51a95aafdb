#include "actions/file_operation.h"

#include <algorithm>
#include <cstdio>

#include "lang/lang.h"
#include "core/masks.h"
#include "platform/file_ops.h"
#include "platform/file_tree.h"
#include "platform/paths.h"
#include "shell/text_util.h"

namespace sentrel {

uint16_t FileOpFlagsFor(bool files_only, bool allow_undo, bool show_progress, bool yes_to_all,
                        bool single_arg) {
  uint16_t flags = kFofNoConfirmation | kFofNoConfirmMkdir;
  if (files_only) flags |= kFofFilesOnly;
  if (allow_undo) flags |= kFofAllowUndo;
  if (show_progress) {
    if (!yes_to_all) flags &= static_cast<uint16_t>(~kFofNoConfirmation);
  } else if (!single_arg) {
    flags |= kFofSilent | kFofNoErrorUi;
  }
  return flags;
}

std::vector<std::string> SplitOpList(std::string_view text) {
  std::vector<std::string> entries;
  for (OpEntry& e : SplitOpList(MarkedText{std::string(text), {}, false})) {
    entries.push_back(std::move(e.path));
  }
  return entries;
}

std::vector<OpEntry> SplitOpList(const MarkedText& text) {
  auto marked = [&](size_t i) { return i < text.literal.size() && text.literal[i]; };
  std::vector<OpEntry> entries;
  size_t pos = 0;
  while (pos < text.text.size()) {
    size_t end = pos;
    while (end < text.text.size() && (text.text[end] != ';' || marked(end))) ++end;
    if (end == pos) break;
    std::vector<bool> flags(end - pos);
    for (size_t i = pos; i < end; ++i) flags[i - pos] = marked(i);
    entries.emplace_back(text.text.substr(pos, end - pos), std::move(flags));
    pos = end + 1;
  }
  return entries;
}

std::string UserTrashDir() { return UserDataHome() + "/Trash"; }

namespace {

enum class Outcome { kDone, kSkipped, kFailed };

// Whether a character of the entry is a wildcard: "*" or "?" that the user
// wrote, not one that a file's name brought.
bool IsWildcardAt(const OpEntry& e, size_t i) {
  const char c = e.path[i];
  return (c == '*' || c == '?') && !(i < e.literal.size() && e.literal[i]);
}

std::string Join(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  return IsPathSeparator(dir.back()) ? dir + name : dir + kPathSeparator + name;
}

// Trailing separators say nothing about the entry itself ("dir/" is "dir"),
// except at the root.
std::string WithoutTrailingSlash(std::string path) {
  const size_t keep = std::max<size_t>(1, PathRootLength(path));
  while (path.size() > keep && IsPathSeparator(path.back())) path.pop_back();
  return path;
}

std::string ParentDir(const std::string& path) {
  std::string dir = DirectoryOf(path);
  if (dir.empty()) return ".";
  return WithoutTrailingSlash(dir);
}

// Whether `p` is a root ("/"; "C:\", "\\server\share\"): no folder above it.
bool IsRoot(const std::string& p) { return ParentDir(p) == p || p.size() <= PathRootLength(p); }

// Whether `path` is the directory `dir` or lies somewhere inside it.
bool IsSameOrInside(const std::string& path, const EntryInfo& dir) {
  std::string p = AbsolutePath(path);
  for (;;) {
    if (StatTarget(p).SameAs(dir)) return true;
    if (IsRoot(p)) return false;
    p = ParentDir(p);
  }
}

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

std::string TwoDigits(int v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d", v);
  return buf;
}

// The trash keeps the original location as a URL path.
std::string UrlPath(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : path) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
        c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

// At most `max` bytes of `name`, never ending inside a UTF-8 character.
std::string CutName(const std::string& name, size_t max) {
  if (name.size() <= max) return name;
  size_t end = max;
  while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) --end;
  return name.substr(0, end);
}

class Runner final : public TreeListener {
 public:
  Runner(const FileOpRequest& request, const FileOpEnvironment& env)
      : request_(request), env_(env), steps_(env.steps != nullptr ? *env.steps : DiskSteps()) {}

  FileOpSummary Run() {
    switch (request_.op) {
      case kFoCopy:
      case kFoMove:
        TransferAll(request_.op == kFoMove);
        break;
      case kFoDelete:
        DeleteAll();
        break;
      case kFoRename:
        Rename();
        break;
      default:
        break;
    }
    // No error lines wanted: still, a failure is never silent.
    if (hidden_failures_ > 0 && env_.messages != nullptr) {
      std::string line = first_hidden_;
      if (hidden_failures_ > 1) {
        const int more = hidden_failures_ - 1;
        line += " (and " + std::to_string(more) +
                (more == 1 ? " more failure)" : " more failures)");
      }
      env_.messages->Write(line + "\n");
    }
    return summary_;
  }

  // TreeListener: what the tree operations report and ask.
  void Placed(const std::string& from, const std::string& to, const EntryInfo& placed) override {
    if (env_.ledger != nullptr) env_.ledger->Add(placed);
    Progress(request_.op == kFoCopy ? kLngCopy : kLngMove, from, to);
  }

  void Failed(TreeStep step, const std::string& path, const std::string& other,
              const std::string& why) override {
    switch (step) {
      case TreeStep::kCopy:
        Fail("copy " + Quoted(path) + " to " + Quoted(other), why);
        break;
      case TreeStep::kMove:
        Fail("move " + Quoted(path) + " to " + Quoted(other), why);
        break;
      case TreeStep::kRead:
        Fail("read " + Quoted(path), why);
        break;
      case TreeStep::kRemoveAfterCopy:
        Fail("remove " + Quoted(path) + " after copying it", why);
        break;
      case TreeStep::kRemoveAfterMove:
        Fail("remove " + Quoted(path) + " after moving its content", why);
        break;
      case TreeStep::kDelete:
        Fail("delete " + Quoted(path), why);
        break;
    }
  }

  ReplaceAnswer MayReplace(const std::string& from, const std::string& to,
                           const EntryInfo& existing) override {
    if (PlacedByThisRun(to, existing)) {
      Fail(std::string(request_.op == kFoCopy ? "copy " : "move ") + Quoted(from) + " to " +
               Quoted(to),
           "another file of this run was put there");
      return ReplaceAnswer::kFail;
    }
    if (!Confirmed(Quoted(to) + " already exists. Replace it with " + Quoted(from) + "?")) {
      return ReplaceAnswer::kSkip;
    }
    return ReplaceAnswer::kReplace;
  }

 private:
  bool Flag(uint16_t f) const { return (request_.flags & f) != 0; }

  void Progress(int label, const std::string& from, const std::string& to = std::string()) {
    if (Flag(kFofSilent) || env_.messages == nullptr || steps_.Describes()) return;
    // A language file drops the blank that ends the built-in label.
    std::string line = Strings().TextAt(label);
    if (!line.empty() && line.back() != ' ') line += ' ';
    line += from;
    if (!to.empty()) line += " -> " + to;
    env_.messages->Write(line + "\n");
  }

  // Counts a failure and says what it was. A source that is not there is
  // said only where error lines are wanted: nothing was lost or left half
  // done.
  Outcome Fail(const std::string& what, const std::string& why, bool missing_source = false) {
    const std::string line = "Cannot " + what + ": " + why;
    if (summary_.failed++ == 0) summary_.first_failure = "cannot " + what + ": " + why;
    if (!Flag(kFofNoErrorUi)) {
      if (env_.messages != nullptr) env_.messages->Write(line + "\n");
    } else if (!missing_source) {
      if (hidden_failures_++ == 0) first_hidden_ = line;
    }
    return Outcome::kFailed;
  }

  bool Confirmed(const std::string& question) {
    if (Flag(kFofNoConfirmation)) return true;
    // Where nobody can be asked, the answer is no.
    return env_.confirmer != nullptr && env_.confirmer->Confirm(question);
  }

  void Count(Outcome o) {
    if (o == Outcome::kDone) ++summary_.done;
    if (o == Outcome::kSkipped) ++summary_.skipped;
  }

  static Outcome From(TreeOutcome o) {
    switch (o) {
      case TreeOutcome::kDone: return Outcome::kDone;
      case TreeOutcome::kSkipped: return Outcome::kSkipped;
      case TreeOutcome::kFailed: break;
    }
    return Outcome::kFailed;
  }

  // Whether `existing` at `path`, or a folder it lies in, was put there by
  // an earlier operation of this run.
  bool PlacedByThisRun(const std::string& path, const EntryInfo& existing) const {
    if (env_.ledger == nullptr) return false;
    if (env_.ledger->Has(existing)) return true;
    std::string p = AbsolutePath(path);
    while (!IsRoot(p)) {
      p = ParentDir(p);
      if (env_.ledger->Has(StatEntry(p))) return true;
    }
    return false;
  }

  // The source entries with their wildcards replaced by what they match.
  // Only the user's own "*" and "?" are wildcards; in a pattern, characters
  // that came from a file's name match only themselves.
  std::vector<std::string> ExpandSources(bool& had_wildcard) {
    std::vector<std::string> out;
    had_wildcard = false;
    for (OpEntry entry : request_.sources) {
      entry.path = WithoutTrailingSlash(entry.path);
      const size_t name_at = DirectoryOf(entry.path).size();
      std::string pattern;
      bool wildcard = false;
      for (size_t i = name_at; i < entry.path.size(); ++i) {
        const char c = entry.path[i];
        if (IsWildcardAt(entry, i)) {
          wildcard = true;
          pattern += c;
        } else if ((c == '*' || c == '?' || c == '[') && i < entry.literal.size() &&
                   entry.literal[i]) {
          pattern += std::string("[") + c + "]";
        } else {
          pattern += c;
        }
      }
      if (!wildcard) {
        out.push_back(entry.path);
        continue;
      }
      had_wildcard = true;
      std::string dir = entry.path.substr(0, name_at);
      std::vector<std::string> names;
      std::string error;
      try {
        TMask mask(pattern);
        if (!ListDirectory(dir.empty() ? "." : dir, names, error)) {
          Fail("read " + Quoted(dir.empty() ? "." : dir), error);
          continue;
        }
        std::sort(names.begin(), names.end());
        for (const std::string& n : names) {
          if (!mask.Matches(n)) continue;
          std::string path = dir + n;
          if (Flag(kFofFilesOnly) && StatEntry(path).type == EntryType::kDirectory) continue;
          out.push_back(path);
        }
      } catch (const InvalidMask& e) {
        Fail("use " + Quoted(entry.path), e.what());
      }
    }
    return out;
  }

  void TransferAll(bool move) {
    if (request_.destinations.empty()) return;
    bool had_wildcard = false;
    std::vector<std::string> sources = ExpandSources(had_wildcard);
    const std::string& raw_target = request_.destinations.front();
    std::string target = WithoutTrailingSlash(raw_target);
    const EntryInfo ti = StatTarget(target);
    const bool into_dir = ti.type == EntryType::kDirectory || sources.size() > 1 ||
                          had_wildcard || (!raw_target.empty() && IsPathSeparator(raw_target.back())) ||
                          (request_.shared_target && !StatEntry(target).exists());
    const std::string what = move ? "move " : "copy ";
    bool target_ready = false;
    for (const std::string& src : sources) {
      if (!StatEntry(src).exists()) {
        Fail(what + Quoted(src), "no such file or directory", /*missing_source=*/true);
        continue;
      }
      std::string error;
      std::string dst;
      if (into_dir) {
        if (!target_ready && !steps_.MakeFolders(target, error)) {
          Fail("create " + Quoted(target), error);
          return;
        }
        target_ready = true;
        dst = Join(target, FileNameOf(src));
      } else {
        std::string parent = DirectoryOf(target);
        if (!parent.empty() && !steps_.MakeFolders(WithoutTrailingSlash(parent), error)) {
          Fail("create " + Quoted(parent), error);
          continue;
        }
        dst = target;
      }
      Count(Transfer(src, dst, move));
    }
  }

  // Copies or moves one entry (a directory with its content) to `dst`.
  Outcome Transfer(const std::string& src, const std::string& dst, bool move) {
    EntryInfo si = StatEntry(src);
    if (!si.exists()) {
      return Fail((move ? "move " : "copy ") + Quoted(src) + " to " + Quoted(dst),
                  "no such file or directory", /*missing_source=*/true);
    }
    if (si.type == EntryType::kDirectory && IsSameOrInside(dst, si)) {
      return Fail((move ? "move " : "copy ") + Quoted(src) + " to " + Quoted(dst),
                  "the destination is inside the source directory");
    }
    return From(steps_.Transfer(src, dst, move, *this));
  }

  void DeleteAll() {
    bool had_wildcard = false;
    std::vector<std::string> sources = ExpandSources(had_wildcard);
    std::vector<std::string> present;
    for (const std::string& src : sources) {
      if (StatEntry(src).exists()) {
        present.push_back(src);
      } else {
        Fail("delete " + Quoted(src), "no such file or directory", /*missing_source=*/true);
      }
    }
    if (present.empty()) return;
    const bool to_trash = Flag(kFofAllowUndo);
    std::string question = to_trash ? "Move " : "Permanently delete ";
    question += present.size() == 1 ? Quoted(present.front())
                                    : "these " + std::to_string(present.size()) + " items";
    question += to_trash ? " to the trash?" : "?";
    if (!Confirmed(question)) {
      summary_.skipped += static_cast<int>(present.size());
      return;
    }
    for (const std::string& src : present) {
      Count(to_trash ? Trash(src) : Remove(src));
    }
  }

  Outcome Remove(const std::string& path) {
    Outcome o = From(steps_.Remove(path, *this));
    if (o == Outcome::kDone) Progress(kLngDelete, path);
    return o;
  }

  Outcome Trash(const std::string& path) {
    const std::string why = WhyNotTrashed(path);
    if (!why.empty()) return Fail("move " + Quoted(path) + " to the trash", why);
    return From(steps_.Trash(path, *this, [&] {
      switch (PutInTrash(path)) {
        case Outcome::kDone: return TreeOutcome::kDone;
        case Outcome::kSkipped: return TreeOutcome::kSkipped;
        case Outcome::kFailed: break;
      }
      return TreeOutcome::kFailed;
    }));
  }

  // What refuses an entry a place in the trash before anything moves:
  // asked in a dry run too, so that the preview refuses what the run would.
  std::string WhyNotTrashed(const std::string& path) const {
    const std::string abs = AbsolutePath(path);
    std::string error;
    switch (CheckSystemTrash(abs, error)) {
      case TrashOutcome::kDone: return "";
      case TrashOutcome::kFailed: return error;
      case TrashOutcome::kNotHere: break;
    }
    if (env_.trash_dir.empty()) return "no trash folder";
    EntryInfo si = StatEntry(abs);
    if (si.type == EntryType::kDirectory && IsSameOrInside(env_.trash_dir, si)) {
      return "the trash is inside it";
    }
    return "";
  }

  // Moves an entry into the trash with the .trashinfo that lets a file
  // manager put it back. Nothing is ever removed for good on this path.
  Outcome PutInTrash(const std::string& path) {
    const std::string what = "move " + Quoted(path) + " to the trash";
    std::string abs = AbsolutePath(path);
    std::string error;
    switch (MoveToSystemTrash(abs, error)) {
      case TrashOutcome::kDone:
        Progress(kLngDelete, path);
        return Outcome::kDone;
      case TrashOutcome::kFailed:
        return Fail(what, error);
      case TrashOutcome::kNotHere:
        break;  // the user's trash is ours to keep
    }
    if (env_.trash_dir.empty()) return Fail(what, "no trash folder");  // asked before
    const EntryInfo si = StatEntry(abs);
    const std::string files = env_.trash_dir + "/files";
    const std::string info = env_.trash_dir + "/info";
    // The trash holds what its owner deleted: nobody else may look in.
    if (!MakeDirectories(files, error, /*owner_only=*/true) ||
        !MakeDirectories(info, error, /*owner_only=*/true)) {
      return Fail(what, error);
    }

    std::string content = "[Trash Info]\nPath=" + UrlPath(abs) +
                          "\nDeletionDate=" + DeletionDate() + "\n";
    const std::string name = FileNameOf(abs);
    // A name as long as the file system allows has no room for
    // ".trashinfo": the entry then takes a shorter one (its Path keeps the
    // whole original).
    static const std::string kInfoExt = ".trashinfo";
    const size_t max_name = std::min(MaxNameLength(files), MaxNameLength(info));
    std::string slot, info_path;
    for (int n = 1;; ++n) {
      const std::string suffix = n == 1 ? "" : "." + std::to_string(n);
      const size_t room = max_name > kInfoExt.size() + suffix.size() + 1
                              ? max_name - kInfoExt.size() - suffix.size()
                              : 1;
      slot = CutName(name, room) + suffix;
      info_path = info + "/" + slot + kInfoExt;
      if (StatEntry(files + "/" + slot).exists()) continue;
      if (CreateNewFile(info_path, content, error)) break;
      if (StatEntry(info_path).exists() && n < 10000) continue;
      return Fail(what, error);
    }
    const std::string dst = files + "/" + slot;
    Outcome o;
    switch (RenameEntry(abs, dst, false, error)) {
      case RenameOutcome::kDone:
        o = Outcome::kDone;
        break;
      case RenameOutcome::kCrossDevice: {
        // Another file system: a verified copy into the trash, and only then
        // the original goes.
        const bool slot_free = !StatEntry(dst).exists();
        o = From(TransferTree(abs, dst, /*move=*/true, *this));
        // An original that could not be removed (a read-only mount) is
        // still whole in its place: a copy in the trash would be a second
        // one, waiting to be put back over it. A directory may have gone
        // in part, and keeps in the trash what went.
        if (o != Outcome::kDone && slot_free && si.type != EntryType::kDirectory &&
            StatEntry(abs).SameAs(si)) {
          std::string ignored;
          RemoveFile(dst, ignored);
        }
        break;
      }
      default:
        o = Fail(what, error.empty() ? "the trash entry exists" : error);
        break;
    }
    if (o == Outcome::kDone) {
      Progress(kLngDelete, path);
    } else if (!StatEntry(dst).exists()) {
      std::string ignored;
      RemoveFile(info_path, ignored);
    }
    return o;
  }

  std::string DeletionDate() {
    LocalTime t = env_.clock != nullptr ? env_.clock->Now() : SystemClock().Now();
    return std::to_string(t.year) + "-" + TwoDigits(t.month) + "-" + TwoDigits(t.day) + "T" +
           TwoDigits(t.hour) + ":" + TwoDigits(t.minute) + ":" + TwoDigits(t.second);
  }

  void Rename() {
    if (request_.sources.size() != 1 || request_.destinations.empty()) return;
    const OpEntry& entry = request_.sources.front();
    std::string src = WithoutTrailingSlash(entry.path);
    std::string dst = WithoutTrailingSlash(request_.destinations.front());
    const std::string what = "rename " + Quoted(src) + " to " + Quoted(dst);
    for (size_t i = DirectoryOf(src).size(); i < src.size(); ++i) {
      if (IsWildcardAt(entry, i)) {
        Fail(what, "a rename takes one name without wildcards");
        return;
      }
    }
    // A bare name is a new name in the source's own directory.
    if (FindLastSeparator(dst) == std::string::npos) dst = DirectoryOf(src) + dst;
    EntryInfo si = StatEntry(src);
    if (!si.exists()) {
      Fail(what, "no such file or directory", /*missing_source=*/true);
      return;
    }
    if (!StatTarget(ParentDir(src)).SameAs(StatTarget(ParentDir(dst)))) {
      Fail(what, "the new name must be in the same directory");
      return;
    }
    EntryInfo di = StatEntry(dst);
    if (di.SameAs(si) && AbsolutePath(src) == AbsolutePath(dst)) {
      ++summary_.done;  // already has that name
      return;
    }
    bool replace = false;
    if (di.exists() && !di.SameAs(si)) {
      if (si.type == EntryType::kDirectory || di.type == EntryType::kDirectory) {
        Fail(what, "the destination exists");
        return;
      }
      if (PlacedByThisRun(dst, di)) {
        Fail(what, "another file of this run was put there");
        return;
      }
      if (!Confirmed(Quoted(dst) + " already exists. Replace it with " + Quoted(src) + "?")) {
        ++summary_.skipped;
        return;
      }
      replace = true;
    }
    std::string error;
    if (steps_.Rename(src, dst, replace, error) != RenameOutcome::kDone) {
      Fail(what, error.empty() ? "the destination exists" : error);
      return;
    }
    if (env_.ledger != nullptr) env_.ledger->Add(StatEntry(dst));
    Progress(kLngRename, src, dst);
    ++summary_.done;
  }

  const FileOpRequest& request_;
  const FileOpEnvironment& env_;
  FileOpSteps& steps_;
  FileOpSummary summary_;
  int hidden_failures_ = 0;
  std::string first_hidden_;
};

}  // namespace

FileOpSummary PerformFileOperation(const FileOpRequest& request, const FileOpEnvironment& env) {
  return Runner(request, env).Run();
}

}  // namespace sentrel
