// Tree operations through folder descriptors: every entry below the one
// named by path is reached with openat, fstatat, mkdirat, renameat2 and
// unlinkat relative to its parent folder, and folders are opened with
// O_NOFOLLOW, so no link met inside a tree is ever followed.
#include "platform/file_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "platform/posix_files.h"

namespace sentrel {
namespace {

using posix::Fd;
using posix::InfoOf;
using posix::ReadFull;
using posix::Reason;
using posix::WriteAll;

constexpr const char* kMissing = "no such file or directory";
constexpr const char* kChanged = "it changed meanwhile";

// An entry named inside an open folder, with the path it is shown as.
struct At {
  int dir;
  std::string name;
  std::string path;
};

std::string Join(const std::string& dir, const std::string& name) {
  return !dir.empty() && dir.back() == '/' ? dir + name : dir + "/" + name;
}

bool Same(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Opens the folder that holds the entry `path` names, and gives the entry's
// name in it.
bool OpenParent(const std::string& path, Fd& dir, std::string& name, std::string& error) {
  const size_t slash = path.find_last_of('/');
  const std::string parent = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : path.substr(0, slash);
  name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty() || name == "." || name == "..") {
    error = "the path names no entry of a folder";
    return false;
  }
  dir = Fd(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir.ok()) {
    error = Reason(errno);
    return false;
  }
  return true;
}

// The names in the open folder `dir`, without "." and "..".
bool ListAt(int dir, std::vector<std::string>& names, int& err) {
  const int fd = ::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* d = fd < 0 ? nullptr : ::fdopendir(fd);
  if (d == nullptr) {
    err = errno;
    if (fd >= 0) ::close(fd);
    return false;
  }
  errno = 0;
  while (struct dirent* e = ::readdir(d)) {
    const char* n = e->d_name;
    if (std::strcmp(n, ".") != 0 && std::strcmp(n, "..") != 0) names.emplace_back(n);
    errno = 0;
  }
  err = errno;
  ::closedir(d);
  return err == 0;
}

// A short hidden name for a file that is not complete yet. It does not
// carry the final name: that may already be as long as a name can be.
std::string TempName(const char* kind) {
  static thread_local std::mt19937_64 rng{std::random_device{}()};
  static constexpr char kChars[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::string name = std::string(".sentrel-") + kind;
  for (int i = 0; i < 8; ++i) name += kChars[rng() % (sizeof kChars - 1)];
  return name;
}

// Renames within one folder or between two, refusing to replace an entry
// unless `replace`.
int RenameAt(int from_dir, const std::string& from, int to_dir, const std::string& to,
             bool replace) {
  if (replace) return ::renameat(from_dir, from.c_str(), to_dir, to.c_str());
  int rc = ::renameat2(from_dir, from.c_str(), to_dir, to.c_str(), RENAME_NOREPLACE);
  if (rc != 0 && (errno == EINVAL || errno == ENOSYS)) {
    // A file system without the no-replace flag: check, then rename. The
    // window between the two is the best this file system allows.
    struct stat st;
    if (::fstatat(to_dir, to.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
      errno = EEXIST;
      return -1;
    }
    rc = ::renameat(from_dir, from.c_str(), to_dir, to.c_str());
  }
  return rc;
}

bool SameContent(int a, int b, std::string& error) {
  constexpr size_t kChunk = 1 << 16;
  std::unique_ptr<char[]> x(new char[kChunk]), y(new char[kChunk]);
  if (::lseek(a, 0, SEEK_SET) < 0 || ::lseek(b, 0, SEEK_SET) < 0) {
    error = Reason(errno);
    return false;
  }
  for (;;) {
    ssize_t n = ReadFull(a, x.get(), kChunk);
    ssize_t m = ReadFull(b, y.get(), kChunk);
    if (n < 0 || m < 0) {
      error = Reason(errno);
      return false;
    }
    if (n != m || std::memcmp(x.get(), y.get(), static_cast<size_t>(n)) != 0) {
      error = "the copy differs from the original";
      return false;
    }
    if (n == 0) return true;
  }
}

class Walker {
 public:
  explicit Walker(TreeListener& listener) : listener_(listener) {}

  // Copies or moves `src` to `dst`. `top`: `dst` is the entry the caller
  // named, which may be a link to the folder it means.
  TreeOutcome Transfer(const At& src, const At& dst, bool move, bool top) {
    const TreeStep step = move ? TreeStep::kMove : TreeStep::kCopy;
    struct stat ss;
    if (::fstatat(src.dir, src.name.c_str(), &ss, AT_SYMLINK_NOFOLLOW) != 0) {
      return Fail(step, src.path, dst.path, errno == ENOENT ? kMissing : Reason(errno));
    }
    struct stat ds;
    const bool dst_exists = ::fstatat(dst.dir, dst.name.c_str(), &ds, AT_SYMLINK_NOFOLLOW) == 0;
    if (dst_exists && Same(ds, ss)) {
      if (move) return TreeOutcome::kDone;
      return Fail(step, src.path, dst.path, "source and destination are the same");
    }
    const bool src_dir = S_ISDIR(ss.st_mode);
    bool replace = false;
    if (dst_exists) {
      const bool dst_dir = S_ISDIR(ds.st_mode);
      if (src_dir && (dst_dir || (top && LeadsToFolder(dst)))) {
        return Merge(src, ss, dst, move, /*created=*/false, top);
      }
      if (src_dir || dst_dir) {
        return Fail(step, src.path, dst.path, "the destination exists and is of another kind");
      }
      switch (listener_.MayReplace(src.path, dst.path, InfoOf(ds))) {
        case ReplaceAnswer::kReplace:
          replace = true;
          break;
        case ReplaceAnswer::kSkip:
          return TreeOutcome::kSkipped;
        case ReplaceAnswer::kFail:
          return TreeOutcome::kFailed;
      }
    }

    if (move) {
      if (RenameAt(src.dir, src.name, dst.dir, dst.name, replace) == 0) {
        listener_.Placed(src.path, dst.path, InfoOf(ss));
        return TreeOutcome::kDone;
      }
      if (errno == EEXIST) {
        return Fail(step, src.path, dst.path, "the destination appeared meanwhile");
      }
      // Another file system: copied below, then the original removed.
      if (errno != EXDEV) return Fail(step, src.path, dst.path, Reason(errno));
    }
    if (src_dir) {
      // Owner access is kept while the content goes in.
      const bool made = ::mkdirat(dst.dir, dst.name.c_str(), (ss.st_mode & 07777) | 0700) == 0;
      if (!made) {
        const int err = errno;
        struct stat now;
        if (err != EEXIST ||
            ::fstatat(dst.dir, dst.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISDIR(now.st_mode)) {
          return Fail(step, src.path, dst.path, Reason(err));
        }
      }
      return Merge(src, ss, dst, move, made, /*top=*/false);
    }
    EntryInfo placed;
    std::string error;
    bool ok = false;
    if (S_ISREG(ss.st_mode)) {
      ok = CopyFile(src, ss, dst, replace, /*verify=*/move, placed, error);
    } else if (S_ISLNK(ss.st_mode)) {
      ok = CopyLink(src, dst, replace, placed, error);
    } else {
      error = "not a regular file, directory or link";
    }
    if (!ok) return Fail(step, src.path, dst.path, error);
    listener_.Placed(src.path, dst.path, placed);
    if (!move) return TreeOutcome::kDone;
    // Another file may have taken the original's name while it was copied
    // (a save by rename does that): it is not the one copied, and stays.
    struct stat now;
    if (::fstatat(src.dir, src.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
        (!Same(now, ss) || now.st_size != ss.st_size)) {
      return Fail(TreeStep::kRemoveAfterCopy, src.path, "", kChanged);
    }
    if (::unlinkat(src.dir, src.name.c_str(), 0) != 0) {
      return Fail(TreeStep::kRemoveAfterCopy, src.path, "", Reason(errno));
    }
    return TreeOutcome::kDone;
  }

  TreeOutcome Remove(const At& at) {
    struct stat st;
    if (::fstatat(at.dir, at.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      return Fail(TreeStep::kDelete, at.path, "", errno == ENOENT ? kMissing : Reason(errno));
    }
    if (!S_ISDIR(st.st_mode)) {
      if (::unlinkat(at.dir, at.name.c_str(), 0) == 0) return TreeOutcome::kDone;
      // A folder put in its place meanwhile is removed as a folder.
      if (errno != EISDIR) return Fail(TreeStep::kDelete, at.path, "", Reason(errno));
    }
    Fd dir(::openat(at.dir, at.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!dir.ok()) {
      // A link (or file) put in the folder's place: that entry is what
      // goes, never what a link leads to.
      if ((errno == ELOOP || errno == ENOTDIR) && ::unlinkat(at.dir, at.name.c_str(), 0) == 0) {
        return TreeOutcome::kDone;
      }
      return Fail(TreeStep::kDelete, at.path, "", Reason(errno));
    }
    std::vector<std::string> names;
    int err = 0;
    if (!ListAt(dir.get(), names, err)) return Fail(TreeStep::kRead, at.path, "", Reason(err));
    bool ok = true;
    for (const std::string& n : names) {
      ok = Remove({dir.get(), n, Join(at.path, n)}) == TreeOutcome::kDone && ok;
    }
    if (!ok) return TreeOutcome::kFailed;
    if (::unlinkat(at.dir, at.name.c_str(), AT_REMOVEDIR) != 0) {
      return Fail(TreeStep::kDelete, at.path, "", Reason(errno));
    }
    return TreeOutcome::kDone;
  }

 private:
  TreeOutcome Fail(TreeStep step, const std::string& path, const std::string& other,
                   const std::string& why) {
    listener_.Failed(step, path, other, why);
    return TreeOutcome::kFailed;
  }

  static bool LeadsToFolder(const At& at) {
    struct stat st;
    return ::fstatat(at.dir, at.name.c_str(), &st, 0) == 0 && S_ISDIR(st.st_mode);
  }

  // Brings the content of the folder `src` into the existing folder `dst`.
  // A moved folder is removed only when all its content went. A folder made
  // for the copy takes the original's permissions and times once its
  // content is in, and goes again when nothing could go in.
  TreeOutcome Merge(const At& src, const struct stat& ss, const At& dst, bool move, bool created,
                    bool top) {
    bool any_failed = false;
    std::vector<std::string> names;
    Fd from(::openat(src.dir, src.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat now;
    int err = 0;
    if (!from.ok()) {
      Fail(TreeStep::kRead, src.path, "",
           errno == ELOOP || errno == ENOTDIR ? kChanged : Reason(errno));
      any_failed = true;
    } else if (::fstat(from.get(), &now) != 0 || !Same(now, ss)) {
      Fail(TreeStep::kRead, src.path, "", kChanged);
      any_failed = true;
    } else if (!ListAt(from.get(), names, err)) {
      Fail(TreeStep::kRead, src.path, "", Reason(err));
      any_failed = true;
    }
    Fd to;
    if (!any_failed) {
      to = Fd(::openat(dst.dir, dst.name.c_str(),
                       O_RDONLY | O_DIRECTORY | O_CLOEXEC | (top ? 0 : O_NOFOLLOW)));
      if (!to.ok()) {
        Fail(move ? TreeStep::kMove : TreeStep::kCopy, src.path, dst.path, Reason(errno));
        any_failed = true;
      }
    }
    bool all_done = !any_failed;
    if (!any_failed) {
      for (const std::string& n : names) {
        TreeOutcome o = Transfer({from.get(), n, Join(src.path, n)},
                                 {to.get(), n, Join(dst.path, n)}, move, /*top=*/false);
        all_done = all_done && o == TreeOutcome::kDone;
        any_failed = any_failed || o == TreeOutcome::kFailed;
      }
    }
    // A folder made for content that all failed would stand for a copy that
    // never happened; only an empty one can go.
    if (created && any_failed && ::unlinkat(dst.dir, dst.name.c_str(), AT_REMOVEDIR) == 0) {
      created = false;
    }
    if (created && to.ok()) {
      ::fchmod(to.get(), ss.st_mode & 07777);
      struct timespec times[2] = {ss.st_atim, ss.st_mtim};
      ::futimens(to.get(), times);
    }
    if (move && all_done && ::unlinkat(src.dir, src.name.c_str(), AT_REMOVEDIR) != 0) {
      return Fail(TreeStep::kRemoveAfterMove, src.path, "", Reason(errno));
    }
    if (any_failed) return TreeOutcome::kFailed;
    return all_done ? TreeOutcome::kDone : TreeOutcome::kSkipped;
  }

  // Copies a regular file's content, permissions and times. The data goes
  // to a temporary name beside `dst` first and takes the final name only
  // once it is complete (and, with `verify`, read back equal to the
  // original). With `verify` or `replace` the data is flushed to disk first.
  bool CopyFile(const At& src, const struct stat& ss, const At& dst, bool replace, bool verify,
                EntryInfo& placed, std::string& error) {
    // Non-blocking: a pipe put in the file's place must not hang the open.
    Fd in(::openat(src.dir, src.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!in.ok()) {
      error = errno == ELOOP ? kChanged : Reason(errno);
      return false;
    }
    struct stat st;
    if (::fstat(in.get(), &st) != 0) {
      error = Reason(errno);
      return false;
    }
    if (!S_ISREG(st.st_mode) || !Same(st, ss)) {
      error = kChanged;
      return false;
    }
    struct stat existing;
    if (!replace &&
        ::fstatat(dst.dir, dst.name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
      error = "the destination already exists";
      return false;
    }
    std::string temp;
    Fd out;
    for (int attempt = 0; attempt < 100 && !out.ok(); ++attempt) {
      temp = TempName("");
      out = Fd(::openat(dst.dir, temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
      if (!out.ok() && errno != EEXIST) {
        error = Reason(errno);
        return false;
      }
    }
    if (!out.ok()) {
      error = Reason(EEXIST);
      return false;
    }
    auto discard = [&](const std::string& why) {
      error = why;
      out.Close();
      ::unlinkat(dst.dir, temp.c_str(), 0);
      return false;
    };

    constexpr size_t kChunk = 1 << 16;
    std::unique_ptr<char[]> buf(new char[kChunk]);
    for (;;) {
      ssize_t n = ::read(in.get(), buf.get(), kChunk);
      if (n < 0) {
        if (errno == EINTR) continue;
        return discard(Reason(errno));
      }
      if (n == 0) break;
      if (!WriteAll(out.get(), buf.get(), static_cast<size_t>(n))) return discard(Reason(errno));
    }
    if (::fchmod(out.get(), st.st_mode & 07777) != 0) return discard(Reason(errno));
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (::futimens(out.get(), times) != 0) return discard(Reason(errno));
    // The data must be on disk before anything relies on the copy: a move
    // deletes its original next, a replaced file is gone once the new one
    // has its name. A plain new copy leaves the original in place and skips
    // it.
    if ((verify || replace) && ::fsync(out.get()) != 0) return discard(Reason(errno));
    if (verify) {
      std::string why;
      if (!SameContent(in.get(), out.get(), why)) return discard(why);
    }
    struct stat written;
    if (::fstat(out.get(), &written) != 0) return discard(Reason(errno));
    if (out.Close() != 0) return discard(Reason(errno));
    if (RenameAt(dst.dir, temp, dst.dir, dst.name, replace) != 0) {
      return discard(errno == EEXIST ? "the destination already exists" : Reason(errno));
    }
    placed = InfoOf(written);
    return true;
  }

  // Recreates a symbolic link with the same target.
  bool CopyLink(const At& src, const At& dst, bool replace, EntryInfo& placed,
                std::string& error) {
    std::vector<char> target(4096);
    ssize_t n;
    for (;;) {
      n = ::readlinkat(src.dir, src.name.c_str(), target.data(), target.size());
      if (n < 0) {
        error = errno == EINVAL ? kChanged : Reason(errno);
        return false;
      }
      if (static_cast<size_t>(n) < target.size()) break;
      target.resize(target.size() * 2);
    }
    const std::string link(target.data(), static_cast<size_t>(n));
    std::string name = dst.name;
    if (replace) {
      // Made under a temporary name, then renamed over the old entry.
      for (int attempt = 0;; ++attempt) {
        name = TempName("link");
        if (::symlinkat(link.c_str(), dst.dir, name.c_str()) == 0) break;
        if (errno != EEXIST || attempt == 99) {
          error = Reason(errno);
          return false;
        }
      }
      if (RenameAt(dst.dir, name, dst.dir, dst.name, true) != 0) {
        error = Reason(errno);
        ::unlinkat(dst.dir, name.c_str(), 0);
        return false;
      }
    } else if (::symlinkat(link.c_str(), dst.dir, dst.name.c_str()) != 0) {
      error = errno == EEXIST ? "the destination already exists" : Reason(errno);
      return false;
    }
    struct stat st;
    if (::fstatat(dst.dir, dst.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) placed = InfoOf(st);
    return true;
  }

  TreeListener& listener_;
};

}  // namespace

TreeOutcome TransferTree(const std::string& from, const std::string& to, bool move,
                         TreeListener& listener) {
  Fd from_dir, to_dir;
  std::string from_name, to_name, error;
  if (!OpenParent(from, from_dir, from_name, error) || !OpenParent(to, to_dir, to_name, error)) {
    listener.Failed(move ? TreeStep::kMove : TreeStep::kCopy, from, to, error);
    return TreeOutcome::kFailed;
  }
  return Walker(listener).Transfer({from_dir.get(), from_name, from},
                                   {to_dir.get(), to_name, to}, move, /*top=*/true);
}

TreeOutcome RemoveTree(const std::string& path, TreeListener& listener) {
  Fd dir;
  std::string name, error;
  if (!OpenParent(path, dir, name, error)) {
    listener.Failed(TreeStep::kDelete, path, "", error);
    return TreeOutcome::kFailed;
  }
  return Walker(listener).Remove({dir.get(), name, path});
}

}  // namespace sentrel
