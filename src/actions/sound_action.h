#ifndef SENTREL_ACTIONS_SOUND_ACTION_H_
#define SENTREL_ACTIONS_SOUND_ACTION_H_

#include <memory>
#include <string>
#include <thread>

#include "actions/action.h"

namespace sentrel {

// Plays a wave file, the standard beep, or both, once or repeated every
// "SndPeriod" milliseconds for "SndInterval" seconds, on a thread of its
// own so that the item goes on at once.
class SoundAction final : public Action {
 public:
  SoundAction();
  // Ends the repetition and the sound still playing.
  ~SoundAction() override;
  void Run(const FileList& files, const RunContext& ctx) override;
  std::string Describe() const override;
  void Review(Diagnostics& notes) const override;

  // Whether a sound thread of this action still runs.
  bool Repeating() const;

 private:
  struct Shared;
  void EndRepetition();

  StringParam* wave_file_;
  BoolParam* beep_;
  IntParam* interval_;
  IntParam* period_;
  std::shared_ptr<Shared> shared_;
  std::thread thread_;
};

}  // namespace sentrel

#endif  // SENTREL_ACTIONS_SOUND_ACTION_H_
