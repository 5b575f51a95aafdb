#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <cstring>

#include "platform/sound.h"
#include "platform/wide_win32.h"

namespace sentrel {
namespace {

// The system plays one sound of the process at a time; the player that
// started it is the one whose Stop may end it.
std::atomic<const WavePlayer*> g_playing{nullptr};

// A RIFF wave file by its content, whatever its name: anything else would
// not play (or, played, be noise).
bool IsWaveFile(const std::wstring& path) {
  ScopedHandle f(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  char head[12];
  DWORD got = 0;
  return f.valid() && ReadFile(f.get(), head, sizeof head, &got, nullptr) && got == sizeof head &&
         std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WAVE", 4) == 0;
}

}  // namespace

std::string NotPlayable(const std::string& path) {
  if (path.empty()) return "no file named";
  const std::wstring wide = WidePath(path);
  if (IsWaveFile(wide)) return std::string();
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return SystemErrorText(GetLastError());
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return "not a file";
  return "not a wave file";
}

bool WavePlayer::Play(const std::string& path, std::string* why) {
  std::lock_guard<std::mutex> lock(mu_);
  StopLocked();
  const std::string reason = NotPlayable(path);
  if (!reason.empty()) {
    if (why != nullptr) *why = reason;
    return false;
  }
  // Never the default sound in place of a file that cannot be played.
  if (!PlaySoundW(WidePath(path).c_str(), nullptr, SND_FILENAME | SND_ASYNC | SND_NODEFAULT)) {
    if (why != nullptr) *why = "the system could not play it (no sound device?)";
    return false;
  }
  g_playing = this;
  return true;
}

void WavePlayer::Stop() {
  std::lock_guard<std::mutex> lock(mu_);
  StopLocked();
}

void WavePlayer::StopLocked() {
  const WavePlayer* self = this;
  if (g_playing.compare_exchange_strong(self, nullptr)) PlaySoundW(nullptr, nullptr, 0);
}

// The system plays asynchronously and does not tell when a sound ends or
// whether the device took it: a sound it accepted counts as played.
bool WavePlayer::Played(int, const std::function<bool()>&) {
  std::lock_guard<std::mutex> lock(mu_);
  return g_playing.load() == this;
}

bool PlayBell(WavePlayer&, const std::function<bool()>&) { return MessageBeep(MB_OK) != 0; }

}  // namespace sentrel
