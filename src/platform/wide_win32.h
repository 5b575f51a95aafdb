#ifndef SENTREL_PLATFORM_WIDE_WIN32_H_
#define SENTREL_PLATFORM_WIDE_WIN32_H_

// What every Windows file of the platform side shares: text inside Sentrel
// is UTF-8, the system is called through its wide (W) functions.

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sentrel {

// UTF-8 to UTF-16 and back. Bytes that are not UTF-8 become U+FFFD.
std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view wide);

// A path for the wide file calls: "/" written as "\", and a path too long
// for the classic limit, or one with a name ending in a dot or a blank, made
// absolute and given the "\\?\" prefix (or "\\?\UNC\" for a share), so that
// no length is refused and the call reaches exactly the name on disk.
std::wstring WidePath(std::string_view utf8_path);

// `path` made absolute against the current folder, "." and ".." taken out,
// every other name kept exactly (the system's own full path would strip
// trailing dots and blanks). "\\?\" and "\\.\" paths come back as written.
std::wstring FullPathKeepingNames(std::wstring path);

// How long the root of `path` is, in characters of either width: "C:\" 3,
// "C:" 2, "\\server\share\" (or "\\?\C:\") up to the separator after
// the second name, "\" 1, a relative path 0.
template <typename C>
size_t RootLengthOf(std::basic_string_view<C> path) {
  const auto separator = [](C c) { return c == C('\\') || c == C('/'); };
  if (path.size() >= 2 && path[1] == C(':')) {
    return path.size() >= 3 && separator(path[2]) ? 3 : 2;
  }
  if (path.size() >= 2 && separator(path[0]) && separator(path[1])) {
    size_t at = 2;
    for (int names = 0; names < 2 && at < path.size(); ++names) {
      while (at < path.size() && !separator(path[at])) ++at;
      if (at < path.size()) ++at;
    }
    return at;
  }
  return !path.empty() && separator(path[0]) ? 1 : 0;
}

// Whether a name in `path` ends in a dot or a blank ("." and ".." aside):
// the system strips those from a path without the "\\?\" prefix.
bool HasNameTheSystemWouldTrim(std::wstring_view path);

// The command line that gives a program `argv` as it is, by the rules
// Windows programs read theirs with.
std::wstring CommandLineOf(const std::vector<std::string>& argv);

// CreateProcessW, asked once more when it answers ERROR_INTERNAL_ERROR.
// Wine answers so, now and then on a busy machine, for a child that ended
// before it was ready to run, so the second start cannot run a program
// twice; Windows does not give that error for a start.
BOOL CreateProcessRetried(const wchar_t* program, wchar_t* command_line, BOOL inherit,
                          DWORD flags, void* environment, const wchar_t* directory,
                          STARTUPINFOW* startup, PROCESS_INFORMATION* info);

// The system's message for an error number, in one line.
std::string SystemErrorText(DWORD error);

// A file time (100 ns steps since 1601, UTC) as seconds and nanoseconds
// since 1970.
void FileTimeToUnix(const FILETIME& ft, int64_t& seconds, int64_t& nanoseconds);

// Closes a handle when it goes.
class ScopedHandle {
 public:
  ScopedHandle() = default;
  explicit ScopedHandle(HANDLE h) : h_(h) {}
  ~ScopedHandle() { Reset(); }
  ScopedHandle(ScopedHandle&& o) noexcept : h_(o.h_) { o.h_ = INVALID_HANDLE_VALUE; }
  ScopedHandle& operator=(ScopedHandle&& o) noexcept {
    if (this != &o) {
      Reset();
      h_ = o.h_;
      o.h_ = INVALID_HANDLE_VALUE;
    }
    return *this;
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;

  bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  HANDLE get() const { return h_; }
  HANDLE release() {
    HANDLE h = h_;
    h_ = INVALID_HANDLE_VALUE;
    return h;
  }
  void Reset(HANDLE h = INVALID_HANDLE_VALUE) {
    if (valid()) CloseHandle(h_);
    h_ = h;
  }

 private:
  HANDLE h_ = INVALID_HANDLE_VALUE;
};

}  // namespace sentrel

#endif  // SENTREL_PLATFORM_WIDE_WIN32_H_
