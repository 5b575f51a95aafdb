#ifndef SENTREL_PLATFORM_SOUND_H_
#define SENTREL_PLATFORM_SOUND_H_

#include <mutex>
#include <string>

#include "platform/process.h"

namespace sentrel {

// Plays wave files through the sound system (a player program: aplay, else
// paplay, else pw-play), one at a time: each new play stops the one this
// player still plays. Any thread may call it.
class WavePlayer {
 public:
  WavePlayer() = default;
  ~WavePlayer() { Stop(); }
  WavePlayer(const WavePlayer&) = delete;
  WavePlayer& operator=(const WavePlayer&) = delete;

  // Starts playing `path` and returns at once. An empty name or a file
  // that cannot be read only stops the previous sound: silence, never a
  // default sound. Returns whether a player was started; if not, `why`
  // (when given) receives the reason.
  bool Play(const std::string& path, std::string* why = nullptr);
  // Stops the sound that is still playing.
  void Stop();

 private:
  void StopLocked();

  std::mutex mu_;
  SpawnedProcess current_;
};

// The standard beep: a short tone through the sound system. Returns false
// when no player could be started, so that the caller can ring the
// terminal bell instead.
bool PlayBell(WavePlayer& player);

}  // namespace sentrel

#endif  // SENTREL_PLATFORM_SOUND_H_
