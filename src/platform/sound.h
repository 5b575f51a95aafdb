#ifndef SENTREL_PLATFORM_SOUND_H_
#define SENTREL_PLATFORM_SOUND_H_

#include <functional>
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

  // Starts playing `path` and returns at once. An empty name, a file that
  // cannot be read and a file that is not a wave file (noise, if a player
  // took its bytes for samples) only stop the previous sound: silence,
  // never a default sound. Returns whether a player was started; if not,
  // `why` (when given) receives the reason.
  bool Play(const std::string& path, std::string* why = nullptr);
  // Waits until the sound started last has ended, at most `ms` or until
  // `stop` answers true. False when its player failed (no sound device),
  // true when it played or still plays.
  bool Played(int ms, const std::function<bool()>& stop);
  // Stops the sound that is still playing.
  void Stop();

 private:
  void StopLocked();

  std::mutex mu_;
  SpawnedProcess current_;
};

// Why `path` cannot be played ("not a wave file", "No such file or
// directory"); empty when it can.
std::string NotPlayable(const std::string& path);

// The standard beep: a short tone through the sound system, waited for
// until it has sounded (or `stop` answers true). Returns false when it could
// not sound (no player, no sound device), so that the caller can ring the
// terminal bell instead.
bool PlayBell(WavePlayer& player, const std::function<bool()>& stop);

}  // namespace sentrel

#endif  // SENTREL_PLATFORM_SOUND_H_
