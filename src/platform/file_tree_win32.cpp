// Tree operations by path. Every entry is looked at before it is entered:
// a folder inside the tree that is a link or a junction (a reparse point)
// is removed or refused as the link itself, never walked into.
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "platform/file_tree.h"
#include "platform/paths.h"
#include "platform/wide_win32.h"

namespace sentrel {
namespace {

constexpr const char* kMissing = "no such file or directory";
constexpr const char* kChanged = "it changed meanwhile";

std::string Join(const std::string& dir, const std::string& name) {
  return !dir.empty() && IsPathSeparator(dir.back()) ? dir + name : dir + "\\" + name;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = FindLastSeparator(path);
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// A short hidden name for a file that is not complete yet. It does not
// carry the final name: that may already be as long as a name can be.
std::string TempName() {
  static thread_local std::mt19937_64 rng{std::random_device{}()};
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string name = ".sentrel-";
  for (int i = 0; i < 8; ++i) name += kChars[rng() % (sizeof kChars - 1)];
  return name;
}

bool IsDirectoryLink(const std::wstring& path) {
  const DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT) &&
         (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool SameContent(const std::wstring& a, const std::wstring& b, std::string& error) {
  ScopedHandle x(CreateFileW(a.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  ScopedHandle y(CreateFileW(b.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!x.valid() || !y.valid()) {
    error = SystemErrorText(GetLastError());
    return false;
  }
  constexpr DWORD kChunk = 1 << 16;
  std::unique_ptr<char[]> p(new char[kChunk]), q(new char[kChunk]);
  for (;;) {
    DWORD n = 0, m = 0;
    if (!ReadFile(x.get(), p.get(), kChunk, &n, nullptr) ||
        !ReadFile(y.get(), q.get(), kChunk, &m, nullptr)) {
      error = SystemErrorText(GetLastError());
      return false;
    }
    if (n != m || std::memcmp(p.get(), q.get(), n) != 0) {
      error = "the copy differs from the original";
      return false;
    }
    if (n == 0) return true;
  }
}

// Gives a folder made for a copy the times of the original, once its
// content is in.
void TakeTimes(const std::wstring& dir, const std::wstring& like) {
  ScopedHandle source(CreateFileW(like.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  ScopedHandle target(CreateFileW(dir.c_str(), FILE_WRITE_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  FILETIME created, accessed, written;
  if (source.valid() && target.valid() &&
      GetFileTime(source.get(), &created, &accessed, &written)) {
    SetFileTime(target.get(), &created, &accessed, &written);
  }
}

class Walker {
 public:
  explicit Walker(TreeListener& listener) : listener_(listener) {}

  // Copies or moves `src` to `dst`. `top`: `dst` is the entry the caller
  // named, which may be a link to the folder it means.
  TreeOutcome Transfer(const std::string& src, const std::string& dst, bool move, bool top) {
    const TreeStep step = move ? TreeStep::kMove : TreeStep::kCopy;
    const EntryInfo si = StatEntry(src);
    if (!si.exists()) return Fail(step, src, dst, kMissing);
    const EntryInfo di = StatEntry(dst);
    if (di.SameAs(si)) {
      if (move) return TreeOutcome::kDone;
      return Fail(step, src, dst, "source and destination are the same");
    }
    const bool src_dir = si.type == EntryType::kDirectory;
    bool replace = false;
    if (di.exists()) {
      const bool dst_dir = di.type == EntryType::kDirectory;
      if (src_dir && (dst_dir || (top && StatTarget(dst).type == EntryType::kDirectory))) {
        return Merge(src, si, dst, move, /*created=*/false, top);
      }
      if (src_dir || dst_dir) {
        return Fail(step, src, dst, "the destination exists and is of another kind");
      }
      switch (listener_.MayReplace(src, dst, di)) {
        case ReplaceAnswer::kReplace:
          replace = true;
          break;
        case ReplaceAnswer::kSkip:
          return TreeOutcome::kSkipped;
        case ReplaceAnswer::kFail:
          return TreeOutcome::kFailed;
      }
    }
    const std::wstring wsrc = WidePath(src), wdst = WidePath(dst);
    if (move) {
      if (MoveFileExW(wsrc.c_str(), wdst.c_str(), replace ? MOVEFILE_REPLACE_EXISTING : 0)) {
        listener_.Placed(src, dst, StatEntry(dst));
        return TreeOutcome::kDone;
      }
      const DWORD e = GetLastError();
      if (e == ERROR_ALREADY_EXISTS || e == ERROR_FILE_EXISTS) {
        return Fail(step, src, dst, "the destination appeared meanwhile");
      }
      // Another volume: copied below, then the original removed.
      if (e != ERROR_NOT_SAME_DEVICE) return Fail(step, src, dst, SystemErrorText(e));
    }
    if (src_dir) {
      // Made with the attributes of the original, as a template gives them.
      const bool made = CreateDirectoryExW(wsrc.c_str(), wdst.c_str(), nullptr) != 0;
      if (!made) {
        const DWORD e = GetLastError();
        if (e != ERROR_ALREADY_EXISTS || StatEntry(dst).type != EntryType::kDirectory) {
          return Fail(step, src, dst, SystemErrorText(e));
        }
      }
      return Merge(src, si, dst, move, made, /*top=*/false);
    }
    std::string error;
    EntryInfo placed;
    bool ok = false;
    if (si.type == EntryType::kFile) {
      ok = CopyFile(wsrc, dst, replace, /*verify=*/move, placed, error);
    } else if (si.type == EntryType::kSymlink) {
      // Making links needs a privilege most users lack; what a link leads
      // to is not copied in its place either.
      error = "links and junctions are not copied";
    } else {
      error = "not a regular file, directory or link";
    }
    if (!ok) return Fail(step, src, dst, error);
    listener_.Placed(src, dst, placed);
    if (!move) return TreeOutcome::kDone;
    // Another file may have taken the original's name while it was copied
    // (a save by rename does that): it is not the one copied, and stays.
    const EntryInfo now = StatEntry(src);
    if (now.exists() && (!now.SameAs(si) || now.size != si.size)) {
      return Fail(TreeStep::kRemoveAfterCopy, src, "", kChanged);
    }
    if (!RemoveFile(src, error)) return Fail(TreeStep::kRemoveAfterCopy, src, "", error);
    return TreeOutcome::kDone;
  }

  TreeOutcome Remove(const std::string& path) {
    const EntryInfo st = StatEntry(path);
    if (!st.exists()) return Fail(TreeStep::kDelete, path, "", kMissing);
    const std::wstring wide = WidePath(path);
    std::string error;
    if (st.type != EntryType::kDirectory) {
      // A link to a folder, or a junction, goes as the link itself.
      if (IsDirectoryLink(wide)) {
        if (RemoveDirectoryW(wide.c_str())) return TreeOutcome::kDone;
        return Fail(TreeStep::kDelete, path, "", SystemErrorText(GetLastError()));
      }
      if (RemoveFile(path, error)) return TreeOutcome::kDone;
      return Fail(TreeStep::kDelete, path, "", error);
    }
    std::vector<std::string> names;
    if (!ListDirectory(path, names, error)) return Fail(TreeStep::kRead, path, "", error);
    bool ok = true;
    for (const std::string& n : names) ok = Remove(Join(path, n)) == TreeOutcome::kDone && ok;
    if (!ok) return TreeOutcome::kFailed;
    if (!RemoveDirectoryW(wide.c_str())) {
      return Fail(TreeStep::kDelete, path, "", SystemErrorText(GetLastError()));
    }
    return TreeOutcome::kDone;
  }

 private:
  TreeOutcome Fail(TreeStep step, const std::string& path, const std::string& other,
                   const std::string& why) {
    listener_.Failed(step, path, other, why);
    return TreeOutcome::kFailed;
  }

  // Brings the content of the folder `src` into the existing folder `dst`.
  // A moved folder is removed only when all its content went. A folder made
  // for the copy takes the original's times once its content is in, and
  // goes again when nothing could go in.
  TreeOutcome Merge(const std::string& src, const EntryInfo& si, const std::string& dst, bool move,
                    bool created, bool top) {
    bool any_failed = false;
    std::vector<std::string> names;
    std::string error;
    const EntryInfo now = StatEntry(src);
    if (now.type != EntryType::kDirectory || !now.SameAs(si)) {
      Fail(TreeStep::kRead, src, "", kChanged);
      any_failed = true;
    } else if (!ListDirectory(src, names, error)) {
      Fail(TreeStep::kRead, src, "", error);
      any_failed = true;
    } else if (!top && StatEntry(dst).type != EntryType::kDirectory) {
      Fail(move ? TreeStep::kMove : TreeStep::kCopy, src, dst, kChanged);
      any_failed = true;
    }
    bool all_done = !any_failed;
    if (!any_failed) {
      for (const std::string& n : names) {
        const TreeOutcome o = Transfer(Join(src, n), Join(dst, n), move, /*top=*/false);
        all_done = all_done && o == TreeOutcome::kDone;
        any_failed = any_failed || o == TreeOutcome::kFailed;
      }
    }
    const std::wstring wdst = WidePath(dst);
    // A folder made for content that all failed would stand for a copy that
    // never happened; only an empty one can go.
    if (created && any_failed && RemoveDirectoryW(wdst.c_str())) created = false;
    if (created) TakeTimes(wdst, WidePath(src));
    if (move && all_done && !RemoveDirectoryW(WidePath(src).c_str())) {
      return Fail(TreeStep::kRemoveAfterMove, src, "", SystemErrorText(GetLastError()));
    }
    if (any_failed) return TreeOutcome::kFailed;
    return all_done ? TreeOutcome::kDone : TreeOutcome::kSkipped;
  }

  // Copies a file's content, attributes and times. The data goes to a
  // temporary name beside `dst` first and takes the final name only once it
  // is complete (and, with `verify`, read back equal to the original). With
  // `verify` or `replace` the data is flushed to disk first.
  bool CopyFile(const std::wstring& src, const std::string& dst, bool replace, bool verify,
                EntryInfo& placed, std::string& error) {
    if (!replace && StatEntry(dst).exists()) {
      error = "the destination already exists";
      return false;
    }
    const std::string folder = FolderOf(dst);
    std::wstring temp;
    for (int attempt = 0;; ++attempt) {
      temp = WidePath(Join(folder, TempName()));
      if (CopyFileExW(src.c_str(), temp.c_str(), nullptr, nullptr, nullptr,
                      COPY_FILE_FAIL_IF_EXISTS)) {
        break;
      }
      const DWORD e = GetLastError();
      if ((e != ERROR_FILE_EXISTS && e != ERROR_ALREADY_EXISTS) || attempt == 99) {
        error = SystemErrorText(e);
        return false;
      }
    }
    auto discard = [&](const std::string& why) {
      SetFileAttributesW(temp.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileW(temp.c_str());
      error = why;
      return false;
    };
    // The data must be on disk before anything relies on the copy: a move
    // deletes its original next, a replaced file is gone once the new one
    // has its name. A plain new copy leaves the original in place and skips
    // it.
    if (verify || replace) {
      ScopedHandle out(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!out.valid() || !FlushFileBuffers(out.get())) return discard(SystemErrorText(GetLastError()));
    }
    if (verify) {
      std::string why;
      if (!SameContent(src, temp, why)) return discard(why);
    }
    if (!MoveFileExW(temp.c_str(), WidePath(dst).c_str(),
                     replace ? MOVEFILE_REPLACE_EXISTING : 0)) {
      const DWORD e = GetLastError();
      return discard(e == ERROR_ALREADY_EXISTS || e == ERROR_FILE_EXISTS
                         ? std::string("the destination already exists")
                         : SystemErrorText(e));
    }
    placed = StatEntry(dst);
    return true;
  }

  TreeListener& listener_;
};

}  // namespace

TreeOutcome TransferTree(const std::string& from, const std::string& to, bool move,
                         TreeListener& listener) {
  return Walker(listener).Transfer(from, to, move, /*top=*/true);
}

TreeOutcome RemoveTree(const std::string& path, TreeListener& listener) {
  return Walker(listener).Remove(path);
}

}  // namespace sentrel
