#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/open_files.h"

namespace sentrel {
namespace {

bool IsNumber(const char* s) {
  if (*s == '\0') return false;
  for (; *s; ++s) {
    if (*s < '0' || *s > '9') return false;
  }
  return true;
}

}  // namespace

OpenFileTable OpenFileTable::Read() {
  OpenFileTable table;
  const long self = static_cast<long>(getpid());
  DIR* proc = opendir("/proc");
  if (proc != nullptr) {
    while (struct dirent* pe = readdir(proc)) {
      if (!IsNumber(pe->d_name) || std::strtol(pe->d_name, nullptr, 10) == self) continue;
      char fd_path[300];
      std::snprintf(fd_path, sizeof fd_path, "/proc/%s/fd", pe->d_name);
      int dfd = open(fd_path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (dfd < 0) continue;  // gone, or not ours to look at
      DIR* fds = fdopendir(dfd);
      if (fds == nullptr) {
        close(dfd);
        continue;
      }
      while (struct dirent* fe = readdir(fds)) {
        if (!IsNumber(fe->d_name)) continue;
        struct stat st;
        // The descriptor entries are links to what is open: follow them.
        if (fstatat(dfd, fe->d_name, &st, 0) == 0) {
          table.open_.emplace(static_cast<uint64_t>(st.st_dev),
                              static_cast<uint64_t>(st.st_ino));
        }
      }
      closedir(fds);
    }
    closedir(proc);
  }
  if (FILE* locks = std::fopen("/proc/locks", "re")) {
    char line[512];
    while (std::fgets(line, sizeof line, locks) != nullptr) {
      // "1: POSIX  ADVISORY  WRITE 1234 08:01:5678 0 EOF"; blocked waiters
      // ("1: -> POSIX ...") name the same file again.
      char* save = nullptr;
      int field = 0;
      for (char* tok = strtok_r(line, " \t\n", &save); tok != nullptr;
           tok = strtok_r(nullptr, " \t\n", &save)) {
        if (std::strcmp(tok, "->") == 0) continue;
        if (++field == 6) {
          unsigned maj = 0, min = 0;
          unsigned long long ino = 0;
          if (std::sscanf(tok, "%x:%x:%llu", &maj, &min, &ino) == 3) {
            table.open_.emplace(static_cast<uint64_t>(makedev(maj, min)),
                                static_cast<uint64_t>(ino));
          }
          break;
        }
      }
    }
    std::fclose(locks);
  }
  return table;
}

bool OpenFileTable::Contains(uint64_t device, uint64_t inode) const {
  return open_.count({device, inode}) != 0;
}

bool IsFileInUse(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  if (S_ISDIR(st.st_mode)) return true;
  return OpenFileTable::Read().Contains(static_cast<uint64_t>(st.st_dev),
                                        static_cast<uint64_t>(st.st_ino));
}

}  // namespace sentrel
