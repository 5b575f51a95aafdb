#include "actions/file_operation.h"

#include <algorithm>
#include <cstdio>

#include "lang/lang.h"
#include "monitor/masks.h"
#include "platform/file_ops.h"
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
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find(';', pos);
    if (end == std::string_view::npos) end = text.size();
    if (end == pos) break;
    entries.emplace_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  return entries;
}

std::string UserTrashDir() { return UserDataHome() + "/Trash"; }

namespace {

enum class Outcome { kDone, kSkipped, kFailed };

bool HasWildcard(std::string_view name) {
  return name.find_first_of("*?") != std::string_view::npos;
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

// Whether `path` is the directory `dir` or lies somewhere inside it.
bool IsSameOrInside(const std::string& path, const EntryInfo& dir) {
  std::string p = AbsolutePath(path);
  for (;;) {
    if (StatTarget(p).SameAs(dir)) return true;
    const std::string parent = ParentDir(p);
    if (parent == p || p.size() <= PathRootLength(p)) return false;
    p = parent;
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

class Runner {
 public:
  Runner(const FileOpRequest& request, const FileOpEnvironment& env)
      : request_(request), env_(env) {}

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
    return summary_;
  }

 private:
  bool Flag(uint16_t f) const { return (request_.flags & f) != 0; }

  void Progress(int label, const std::string& from, const std::string& to = std::string()) {
    if (Flag(kFofSilent) || env_.messages == nullptr) return;
    // A language file drops the blank that ends the built-in label.
    std::string line = Strings().TextAt(label);
    if (!line.empty() && line.back() != ' ') line += ' ';
    line += from;
    if (!to.empty()) line += " -> " + to;
    env_.messages->Write(line + "\n");
  }

  Outcome Fail(const std::string& what, const std::string& why) {
    ++summary_.failed;
    if (!Flag(kFofNoErrorUi) && env_.messages != nullptr) {
      env_.messages->Write("Cannot " + what + ": " + why + "\n");
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

  // The source entries with their wildcards replaced by what they match.
  std::vector<std::string> ExpandSources(bool& had_wildcard) {
    std::vector<std::string> out;
    had_wildcard = false;
    for (const std::string& raw : request_.sources) {
      std::string entry = WithoutTrailingSlash(raw);
      std::string name = FileNameOf(entry);
      if (!HasWildcard(name)) {
        out.push_back(entry);
        continue;
      }
      had_wildcard = true;
      std::string dir = DirectoryOf(entry);
      std::vector<std::string> names;
      std::string error;
      try {
        TMask mask(name);
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
        Fail("use " + Quoted(entry), e.what());
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
    const bool into_dir = StatTarget(target).type == EntryType::kDirectory ||
                          sources.size() > 1 || had_wildcard ||
                          (!raw_target.empty() && IsPathSeparator(raw_target.back()));
    const std::string what = move ? "move " : "copy ";
    bool target_ready = false;
    for (const std::string& src : sources) {
      if (!StatEntry(src).exists()) {
        Fail(what + Quoted(src), "no such file or directory");
        continue;
      }
      std::string error;
      std::string dst;
      if (into_dir) {
        if (!target_ready && !MakeDirectories(target, error)) {
          Fail("create " + Quoted(target), error);
          return;
        }
        target_ready = true;
        dst = Join(target, FileNameOf(src));
      } else {
        std::string parent = DirectoryOf(target);
        if (!parent.empty() && !MakeDirectories(WithoutTrailingSlash(parent), error)) {
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
    const std::string what = (move ? "move " : "copy ") + Quoted(src) + " to " + Quoted(dst);
    EntryInfo si = StatEntry(src);
    if (!si.exists()) return Fail(what, "no such file or directory");
    EntryInfo di = StatEntry(dst);
    if (di.SameAs(si)) {
      if (move) return Outcome::kDone;
      return Fail(what, "source and destination are the same");
    }
    const bool src_dir = si.type == EntryType::kDirectory;
    if (src_dir && IsSameOrInside(dst, si)) {
      return Fail(what, "the destination is inside the source directory");
    }
    bool replace = false;
    if (di.exists()) {
      const bool dst_dir = StatTarget(dst).type == EntryType::kDirectory;
      if (src_dir && dst_dir) return Merge(src, dst, move);
      if (src_dir || di.type == EntryType::kDirectory) {
        return Fail(what, "the destination exists and is of another kind");
      }
      if (!Confirmed(Quoted(dst) + " already exists. Replace it with " + Quoted(src) + "?")) {
        return Outcome::kSkipped;
      }
      replace = true;
    }

    std::string error;
    if (move) {
      switch (RenameEntry(src, dst, replace, error)) {
        case RenameOutcome::kDone:
          Progress(kLngMove, src, dst);
          return Outcome::kDone;
        case RenameOutcome::kExists:
          return Fail(what, "the destination appeared meanwhile");
        case RenameOutcome::kFailed:
          return Fail(what, error);
        case RenameOutcome::kCrossDevice:
          break;  // copied below, then the source removed
      }
    }
    if (src_dir) {
      if (!MakeDirectoryLike(dst, src, error)) return Fail(what, error);
      return Merge(src, dst, move, /*created=*/true);
    }
    bool ok = false;
    if (si.type == EntryType::kFile) {
      ok = CopyRegularFile(src, dst, replace, /*verify=*/move, error);
    } else if (si.type == EntryType::kSymlink) {
      ok = CopySymlink(src, dst, replace, error);
    } else {
      error = "not a regular file, directory or link";
    }
    if (!ok) return Fail(what, error);
    Progress(move ? kLngMove : kLngCopy, src, dst);
    if (!move) return Outcome::kDone;
    // Another file may have taken the source's name while it was copied (a
    // save by rename does that): it is not the one copied, and stays.
    EntryInfo now = StatEntry(src);
    if (now.exists() && (!now.SameAs(si) || now.size != si.size)) {
      return Fail("remove " + Quoted(src) + " after copying it", "it changed meanwhile");
    }
    if (!RemoveFile(src, error)) {
      return Fail("remove " + Quoted(src) + " after copying it", error);
    }
    return Outcome::kDone;
  }

  // Brings the content of directory `src` into the existing directory
  // `dst`. A moved directory is removed only when all its content went. A
  // directory made for the copy takes the source's permissions and times
  // once its content is in, and goes again when nothing could go in.
  Outcome Merge(const std::string& src, const std::string& dst, bool move,
                bool created = false) {
    std::vector<std::string> names;
    std::string error;
    bool any_failed = !ListDirectory(src, names, error);
    if (any_failed) Fail("read " + Quoted(src), error);
    bool all_done = !any_failed;
    for (const std::string& n : names) {
      Outcome o = Transfer(Join(src, n), Join(dst, n), move);
      all_done = all_done && o == Outcome::kDone;
      any_failed = any_failed || o == Outcome::kFailed;
    }
    // A folder made for content that all failed would stand for a copy that
    // never happened; only an empty one can go.
    if (created && any_failed && RemoveEmptyDirectory(dst, error)) created = false;
    if (created) FinishDirectoryLike(dst, src);
    if (move && all_done && !RemoveEmptyDirectory(src, error)) {
      return Fail("remove " + Quoted(src) + " after moving its content", error);
    }
    if (any_failed) return Outcome::kFailed;
    return all_done ? Outcome::kDone : Outcome::kSkipped;
  }

  void DeleteAll() {
    bool had_wildcard = false;
    std::vector<std::string> sources = ExpandSources(had_wildcard);
    std::vector<std::string> present;
    for (const std::string& src : sources) {
      if (StatEntry(src).exists()) {
        present.push_back(src);
      } else {
        Fail("delete " + Quoted(src), "no such file or directory");
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
    Outcome o = RemoveTree(path);
    if (o == Outcome::kDone) Progress(kLngDelete, path);
    return o;
  }

  Outcome RemoveTree(const std::string& path) {
    std::string error;
    if (StatEntry(path).type == EntryType::kDirectory) {
      std::vector<std::string> names;
      if (!ListDirectory(path, names, error)) return Fail("read " + Quoted(path), error);
      bool ok = true;
      for (const std::string& n : names) ok = RemoveTree(Join(path, n)) == Outcome::kDone && ok;
      if (!ok) return Outcome::kFailed;
      if (!RemoveEmptyDirectory(path, error)) return Fail("delete " + Quoted(path), error);
      return Outcome::kDone;
    }
    if (!RemoveFile(path, error)) return Fail("delete " + Quoted(path), error);
    return Outcome::kDone;
  }

  // Moves an entry into the trash with the .trashinfo that lets a file
  // manager put it back. Nothing is ever removed for good on this path.
  Outcome Trash(const std::string& path) {
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
    if (env_.trash_dir.empty()) return Fail(what, "no trash folder");
    EntryInfo si = StatEntry(abs);
    if (si.type == EntryType::kDirectory && IsSameOrInside(env_.trash_dir, si)) {
      return Fail(what, "the trash is inside it");
    }
    const std::string files = env_.trash_dir + "/files";
    const std::string info = env_.trash_dir + "/info";
    if (!MakeDirectories(files, error) || !MakeDirectories(info, error)) return Fail(what, error);

    std::string content = "[Trash Info]\nPath=" + UrlPath(abs) +
                          "\nDeletionDate=" + DeletionDate() + "\n";
    const std::string name = FileNameOf(abs);
    std::string slot, info_path;
    for (int n = 1;; ++n) {
      slot = n == 1 ? name : name + "." + std::to_string(n);
      info_path = info + "/" + slot + ".trashinfo";
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
        o = Transfer(abs, dst, /*move=*/true);
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
    std::string src = WithoutTrailingSlash(request_.sources.front());
    std::string dst = WithoutTrailingSlash(request_.destinations.front());
    const std::string what = "rename " + Quoted(src) + " to " + Quoted(dst);
    if (HasWildcard(FileNameOf(src))) {
      Fail(what, "a rename takes one name without wildcards");
      return;
    }
    // A bare name is a new name in the source's own directory.
    if (FindLastSeparator(dst) == std::string::npos) dst = DirectoryOf(src) + dst;
    EntryInfo si = StatEntry(src);
    if (!si.exists()) {
      Fail(what, "no such file or directory");
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
      if (!Confirmed(Quoted(dst) + " already exists. Replace it with " + Quoted(src) + "?")) {
        ++summary_.skipped;
        return;
      }
      replace = true;
    }
    std::string error;
    if (RenameEntry(src, dst, replace, error) != RenameOutcome::kDone) {
      Fail(what, error.empty() ? "the destination exists" : error);
      return;
    }
    Progress(kLngRename, src, dst);
    ++summary_.done;
  }

  const FileOpRequest& request_;
  const FileOpEnvironment& env_;
  FileOpSummary summary_;
};

}  // namespace

FileOpSummary PerformFileOperation(const FileOpRequest& request, const FileOpEnvironment& env) {
  return Runner(request, env).Run();
}

}  // namespace sentrel
