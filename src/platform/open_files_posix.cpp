#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <unordered_set>

#include "platform/open_files.h"

namespace sentrel {

using FileKey = std::pair<uint64_t, uint64_t>;

struct OpenFileTable::Impl {
  struct Hash {
    size_t operator()(const FileKey& k) const {
      return std::hash<uint64_t>()(k.first * 0x9E3779B97F4A7C15ull ^ k.second);
    }
  };
  std::unordered_set<FileKey, Hash> open;
};

namespace {

// Returns true to stop the scan.
using Visitor = std::function<bool(const FileKey&)>;

bool IsNumber(const char* s) {
  if (*s == '\0') return false;
  for (; *s; ++s) {
    if (*s < '0' || *s > '9') return false;
  }
  return true;
}

// Every file some other process holds a lock on (/proc/locks). A lock of our
// own does not make a file in use, just as our own descriptors do not.
bool ScanLocks(const Visitor& visit) {
  std::FILE* locks = std::fopen("/proc/locks", "re");
  if (locks == nullptr) return false;
  const long self = static_cast<long>(getpid());
  bool stopped = false;
  char line[512];
  while (!stopped && std::fgets(line, sizeof line, locks) != nullptr) {
    // "1: POSIX  ADVISORY  WRITE 1234 08:01:5678 0 EOF"; blocked waiters
    // ("1: -> POSIX ...") name the same file again. Device numbers are hex.
    char* save = nullptr;
    int field = 0;
    long pid = -1;
    for (char* tok = strtok_r(line, " \t\n", &save); tok != nullptr;
         tok = strtok_r(nullptr, " \t\n", &save)) {
      if (std::strcmp(tok, "->") == 0) continue;
      ++field;
      if (field == 5) pid = std::strtol(tok, nullptr, 10);
      if (field == 6) {
        unsigned maj = 0, min = 0;
        unsigned long long ino = 0;
        if (pid != self && std::sscanf(tok, "%x:%x:%llu", &maj, &min, &ino) == 3) {
          stopped = visit({static_cast<uint64_t>(makedev(maj, min)), static_cast<uint64_t>(ino)});
        }
        break;
      }
    }
  }
  std::fclose(locks);
  return stopped;
}

// Every file some other process has a descriptor open on (/proc/<pid>/fd).
// Processes that are gone or not ours to look at are passed over.
bool ScanDescriptors(const Visitor& visit) {
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return false;
  const long self = static_cast<long>(getpid());
  bool stopped = false;
  while (!stopped) {
    struct dirent* pe = readdir(proc);
    if (pe == nullptr) break;
    if (!IsNumber(pe->d_name) || std::strtol(pe->d_name, nullptr, 10) == self) continue;
    char fd_path[300];
    std::snprintf(fd_path, sizeof fd_path, "/proc/%s/fd", pe->d_name);
    int dfd = open(fd_path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0) continue;
    DIR* fds = fdopendir(dfd);
    if (fds == nullptr) {
      close(dfd);
      continue;
    }
    while (struct dirent* fe = readdir(fds)) {
      if (!IsNumber(fe->d_name)) continue;
      struct stat st;
      // The descriptor entries are links to what is open: follow them.
      if (fstatat(dfd, fe->d_name, &st, 0) == 0 &&
          visit({static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)})) {
        stopped = true;
        break;
      }
    }
    closedir(fds);
  }
  closedir(proc);
  return stopped;
}

}  // namespace

OpenFileTable OpenFileTable::Read() {
  auto impl = std::make_shared<Impl>();
  auto add = [&impl](const FileKey& key) {
    impl->open.insert(key);
    return false;
  };
  ScanDescriptors(add);
  ScanLocks(add);
  OpenFileTable table;
  table.impl_ = std::move(impl);
  return table;
}

bool OpenFileTable::InUse(const std::string&, std::string_view, uint64_t device,
                          uint64_t inode) const {
  return impl_ && impl_->open.count({device, inode}) != 0;
}

size_t OpenFileTable::size() const { return impl_ ? impl_->open.size() : 0; }

bool IsFileInUse(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  if (S_ISDIR(st.st_mode)) return true;
  // One file is asked about, often every 100 ms while waiting for it: stop at
  // the first holder instead of building the whole table. The lock table is
  // short, so it goes first.
  const FileKey wanted{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  auto is_wanted = [&wanted](const FileKey& key) { return key == wanted; };
  return ScanLocks(is_wanted) || ScanDescriptors(is_wanted);
}

}  // namespace sentrel
