#include <windows.h>
#include <mmsystem.h>

#include <atomic>

#include "platform/sound.h"
#include "platform/wide_win32.h"

namespace sentrel {
namespace {

// The system plays one sound of the process at a time; the player that
// started it is the one whose Stop may end it.
std::atomic<const WavePlayer*> g_playing{nullptr};

bool ReadableFile(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

bool WavePlayer::Play(const std::string& path) {
  std::lock_guard<std::mutex> lock(mu_);
  StopLocked();
  const std::wstring wide = WidePath(path);
  if (path.empty() || !ReadableFile(wide)) return false;
  // Never the default sound in place of a file that cannot be played.
  if (!PlaySoundW(wide.c_str(), nullptr, SND_FILENAME | SND_ASYNC | SND_NODEFAULT)) return false;
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

bool PlayBell(WavePlayer&) { return MessageBeep(MB_OK) != 0; }

}  // namespace sentrel
