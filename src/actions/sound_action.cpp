#include "actions/sound_action.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>

#include "actions/macros.h"
#include "lang/lang.h"
#include "platform/sound.h"

namespace sentrel {

// What the sound thread shares with its action.
struct SoundAction::Shared {
  std::mutex mu;
  std::condition_variable cv;
  bool stop = false;
  bool running = false;
  WavePlayer wave;
  WavePlayer bell;
};

namespace {

// How long a bell on the console may wait for the console to take it.
constexpr int kConsoleBellMs = 100;

struct LoopSettings {
  std::string name;
  bool beep = false;
  int interval_s = 0;
  int period_ms = 100;
  const std::atomic<bool>* item_stop = nullptr;
  MessageSink* console = nullptr;
  ActionReport report;
};

// What a dry run says instead of playing: the sound and how it repeats.
void DescribeSound(const LoopSettings& s, const RunContext& ctx) {
  std::string what;
  if (!s.name.empty()) what = "play " + s.name;
  if (s.beep) what += what.empty() ? "beep" : " and beep";
  if (what.empty()) return;
  if (s.interval_s > 0) {
    what += " every " + std::to_string(s.period_ms) + " ms for " + std::to_string(s.interval_s) +
            " s";
  }
  ctx.Would(what);
}

}  // namespace

SoundAction::SoundAction() : Action(kLngSound), shared_(std::make_shared<Shared>()) {
  wave_file_ = AddParam<StringParam>("WaveFile", "");
  beep_ = AddParam<BoolParam>("Beep", false);
  interval_ = AddParam<IntParam>("SndInterval", 0, 0, 2147483647);
  period_ = AddParam<IntParam>("SndPeriod", 100, 100, 2147483647);
}

SoundAction::~SoundAction() {
  EndRepetition();
  shared_->wave.Stop();
  shared_->bell.Stop();
}

bool SoundAction::Repeating() const {
  std::lock_guard<std::mutex> lock(shared_->mu);
  return shared_->running;
}

void SoundAction::EndRepetition() {
  {
    std::lock_guard<std::mutex> lock(shared_->mu);
    shared_->stop = true;
  }
  shared_->cv.notify_all();
  if (thread_.joinable()) thread_.join();
}

void SoundAction::Run(const FileList& files, const RunContext& ctx) {
  if (LeftOutWithoutDesktop(ctx)) return;
  LoopSettings s;
  ExpandForBatch(files, s.name, wave_file_->Value(), 0, 0, ctx.services());
  s.beep = beep_->Value();
  s.interval_s = interval_->Value();
  s.period_ms = period_->Value();
  s.item_stop = &ctx.stop_flag();
  s.console = ctx.services().messages;
  s.report = ctx.ReportFor(*this);
  if (ctx.DryRun()) {
    DescribeSound(s, ctx);
    return;
  }

  // A new run takes over from a repetition that still goes on: its next
  // play replaces the sound, and only the new run's timing counts.
  EndRepetition();
  {
    std::lock_guard<std::mutex> lock(shared_->mu);
    shared_->stop = false;
    shared_->running = true;
  }
  std::shared_ptr<Shared> shared = shared_;
  try {
    thread_ = std::thread([shared, s] {
      using Clock = std::chrono::steady_clock;
      const auto t0 = Clock::now();
      // The action's stop (a new run, destruction) and the item's end both
      // end the repetition; each wait is short, and a stop wakes it at once.
      auto stopped = [&] {
        return shared->stop || s.item_stop->load(std::memory_order_acquire);
      };
      auto stop_requested = [&] {
        std::lock_guard<std::mutex> lock(shared->mu);
        return stopped();
      };
      bool reported = false;
      for (;;) {
        {
          std::lock_guard<std::mutex> lock(shared->mu);
          if (stopped()) break;
        }
        const auto started = Clock::now();
        std::string why;
        // A repetition that cannot play says so once.
        if (!shared->wave.Play(s.name, &why) && !s.name.empty() && !reported) {
          s.report.Failed("cannot play \"" + s.name + "\": " + why);
          reported = true;
        }
        // A bell that cannot sound (no player, no sound device) rings on the
        // console instead: a beep is always heard somewhere. A console that
        // nobody reads does not take it, and a late bell means nothing: it
        // is dropped rather than left to hold the item (which joins this
        // thread at its next run).
        if (s.beep && !PlayBell(shared->bell, stop_requested)) {
          s.console->WriteWithin("\a", kConsoleBellMs);
        }
        if (s.interval_s > 0) {
          // "SndPeriod" runs from the start of one play to the next, in
          // steps of at most 100 ms so that the item's end is seen in time.
          const auto next = started + std::chrono::milliseconds(s.period_ms);
          std::unique_lock<std::mutex> lock(shared->mu);
          while (!stopped() && Clock::now() < next) {
            const auto step = std::min(next, Clock::now() + std::chrono::milliseconds(100));
            shared->cv.wait_until(lock, step, [&] { return shared->stop; });
          }
        }
        const double elapsed =
            std::chrono::duration<double>(Clock::now() - t0).count();
        if (static_cast<double>(s.interval_s) <= elapsed) break;
      }
      // The item ended: what still plays ends with it.
      if (s.item_stop->load(std::memory_order_acquire)) {
        shared->wave.Stop();
        shared->bell.Stop();
      }
      std::lock_guard<std::mutex> lock(shared->mu);
      shared->running = false;
    });
  } catch (const std::system_error&) {
    // No thread: nothing is played.
    std::lock_guard<std::mutex> lock(shared_->mu);
    shared_->running = false;
  }
}

void SoundAction::Review(Diagnostics& notes) const {
  // A name with macros is only known when the action runs.
  const std::string& name = wave_file_->Value();
  if (name.empty() || name.find('%') != std::string::npos) return;
  const std::string why = NotPlayable(name);
  if (!why.empty()) {
    Note(notes, *wave_file_, "WaveFile: \"" + name + "\" cannot be played: " + why);
  }
}

std::string SoundAction::Describe() const { return wave_file_->Value(); }

}  // namespace sentrel
