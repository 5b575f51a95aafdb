#ifndef SENTREL_PLATFORM_SOUND_H_
#define SENTREL_PLATFORM_SOUND_H_

#include <mutex>
#include <string>

#include "platform/process.h"

namespace sentrel {

// Plays wave files through the sound system (a player program: aplay, else
// paplay, else pw-play; on Windows the system's own asynchronous play, which
// plays one sound of the process at a time), one at a time: each new play
// stops the one this player still plays. Any thread may call it.
class WavePlayer {
 public:
  WavePlayer() = default;
  ~WavePlayer() { Stop(); }
  WavePlayer(const WavePlayer&) = delete;
  WavePlayer& operator=(const WavePlayer&) = delete;

  // Starts playing `path` and returns at once. An empty name or a file
  // that cannot be read only stops the previous sound: silence, never a
  // default sound. Returns whether a player was started.
  bool Play(const std::string& path);
  // Stops the sound that is still playing.
  void Stop();

 private:
  void StopLocked();

  std::mutex mu_;
  SpawnedProcess current_;  // the player program, where one plays the sound
};

// The standard beep: a short tone through the sound system (on Windows the
// system's default beep). Returns false when none could be played, so that
// the caller can ring the terminal bell instead.
bool PlayBell(WavePlayer& player);

}  // namespace sentrel

#endif  // SENTREL_PLATFORM_SOUND_H_
