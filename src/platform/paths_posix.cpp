#include <dirent.h>
#include <errno.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/paths.h"

namespace sentrel {
namespace {

std::string HomeDirectory() {
  const char* home = getenv("HOME");
  if (home != nullptr && *home != '\0') return home;
  struct passwd pw;
  struct passwd* result = nullptr;
  std::vector<char> buf(16384);
  if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &result) == 0 &&
      result != nullptr && result->pw_dir != nullptr) {
    return result->pw_dir;
  }
  return "/";
}

std::string XdgDir(const char* var, const char* fallback_below_home) {
  const char* v = getenv(var);
  // The base-directory rules ignore relative values.
  if (v != nullptr && v[0] == '/') return v;
  std::string home = HomeDirectory();
  if (!home.empty() && home.back() == '/') home.pop_back();
  return home + "/" + fallback_below_home;
}

}  // namespace

const char kPathSeparator = '/';

bool IsPathSeparator(char c) { return c == '/'; }

size_t FindLastSeparator(std::string_view path) { return path.rfind('/'); }

std::string NativeSeparators(std::string_view path) { return std::string(path); }

size_t PathRootLength(std::string_view path) {
  return !path.empty() && path.front() == '/' ? 1 : 0;
}

bool IsAbsolutePath(std::string_view path) { return !path.empty() && path.front() == '/'; }

std::string ProgramPath() {
  std::vector<char> buf(4096);
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < buf.size()) return std::string(buf.data(), n);
    buf.resize(buf.size() * 2);
  }
}

std::string CurrentDirectory() {
  std::vector<char> buf(4096);
  for (;;) {
    if (getcwd(buf.data(), buf.size()) != nullptr) return std::string(buf.data());
    if (errno != ERANGE) return std::string();
    buf.resize(buf.size() * 2);
  }
}

std::string FindFileIgnoringCase(const std::string& folder, const std::string& name) {
  const std::string exact = folder + name;
  struct stat st;
  if (stat(exact.c_str(), &st) == 0) return exact;
  // Only the last part of the name is looked for; a folder in it must be
  // spelled as it is.
  const size_t slash = name.rfind('/');
  const std::string dir = folder + name.substr(0, slash == std::string::npos ? 0 : slash + 1);
  const std::string leaf = name.substr(slash == std::string::npos ? 0 : slash + 1);
  auto same = [&](const char* entry) {
    size_t i = 0;
    for (; entry[i] != '\0' && i < leaf.size(); ++i) {
      char a = entry[i], b = leaf[i];
      if (a >= 'A' && a <= 'Z') a = static_cast<char>(a + 32);
      if (b >= 'A' && b <= 'Z') b = static_cast<char>(b + 32);
      if (a != b) return false;
    }
    return entry[i] == '\0' && i == leaf.size();
  };
  std::string best;
  if (DIR* d = opendir(dir.empty() ? "." : dir.c_str())) {
    // Of several spellings, the first in byte order, so that the choice does
    // not depend on the order the directory happens to list them in.
    while (const struct dirent* e = readdir(d)) {
      if (same(e->d_name) && (best.empty() || best > e->d_name)) best = e->d_name;
    }
    closedir(d);
  }
  return best.empty() ? exact : dir + best;
}

std::string UserConfigHome() { return XdgDir("XDG_CONFIG_HOME", ".config"); }
std::string UserDataHome() { return XdgDir("XDG_DATA_HOME", ".local/share"); }
std::string UserStateHome() { return XdgDir("XDG_STATE_HOME", ".local/state"); }
std::string UserStateFolder() { return UserStateHome() + "/sentrel"; }

std::FILE* OpenFile(const std::string& path, const char* mode) {
  return std::fopen(path.c_str(), mode);
}

std::string UserConfigFolder() { return UserConfigHome() + "/sentrel"; }

std::string SystemConfigFolder() { return "/etc/sentrel"; }

std::string SharedDataFolder() {
  const std::string program = ProgramPath();
  if (program.empty()) return std::string();
  // The build gives the way from the executable's folder to the shared
  // folder ("../share/sentrel"); the executable's path is free of links, so
  // ".." can be taken away by text.
  const std::filesystem::path bin = std::filesystem::path(program).parent_path();
  std::string text = (bin / SENTREL_SHARED_FROM_BIN).lexically_normal().string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

std::FILE* OpenLogStream(const std::string& path) { return OpenFile(path, "ab"); }
bool NamesConsole(const std::string&) { return false; }

}  // namespace sentrel
