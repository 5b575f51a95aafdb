// The sound action through ALSA, with a pipe for its sound device.
#include "actions/sound_action.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "platform/process.h"
#include "platform/sound.h"
#include "temp_dir.h"
#include "xvfb.h"

namespace sentrel {
namespace {

// A 16-bit mono wave of `samples` equal samples, so that what reaches the
// sink tells which file it came from.
void WriteWave(const std::string& path, uint16_t sample, int samples) {
  std::ofstream out(path, std::ios::binary);
  auto put = [&](uint32_t v, int n) {
    for (int i = 0; i < n; ++i) out.put(static_cast<char>(v >> (8 * i)));
  };
  out << "RIFF";
  put(36 + samples * 2, 4);
  out << "WAVEfmt ";
  put(16, 4);
  put(1, 2);
  put(1, 2);
  put(8000, 4);
  put(16000, 4);
  put(2, 2);
  put(16, 2);
  out << "data";
  put(samples * 2, 4);
  for (int i = 0; i < samples; ++i) put(sample, 2);
}

// The sound system of these tests: ALSA's default device writes what it
// plays into a pipe that the test reads, and the reader can hold back so
// that a long sound is still playing when the next one starts.
class SoundActionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!IsExecutableProgram("aplay")) GTEST_SKIP() << "no aplay";
    sink_path = dir.Sub("sink.raw");
    ASSERT_EQ(::mkfifo(sink_path.c_str(), 0600), 0);
    // Read and write: the pipe never reports an end while players come and go.
    fd = ::open(sink_path.c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    dir.Write("asound.conf", "pcm.!default {\n  type file\n  slave.pcm { type null }\n  file \"" +
                                 sink_path + "\"\n  format \"raw\"\n}\n");
    ::setenv("ALSA_CONFIG_PATH", dir.Sub("asound.conf").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", dir.Sub("cache").c_str(), 1);
    services.messages = &console;
    reader = std::thread([this] {
      char buf[4096];
      while (!quit) {
        if (hold) {
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
          continue;
        }
        struct pollfd p = {fd, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) continue;
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
          std::lock_guard<std::mutex> lock(mu);
          heard.append(buf, static_cast<size_t>(n));
        }
      }
    });
  }
  void TearDown() override {
    action.reset();  // stops whatever still plays
    quit = true;
    hold = false;
    if (reader.joinable()) reader.join();
    if (fd >= 0) ::close(fd);
    ::unsetenv("ALSA_CONFIG_PATH");
    ::unsetenv("XDG_CACHE_HOME");
  }

  void Make(const std::string& lines) {
    action = CreateAction(kSoundAction);
    size_t pos = 0;
    while (pos < lines.size()) {
      size_t end = lines.find('\n', pos);
      OfferLine(action->Params(), lines.substr(pos, end - pos + 1));
      pos = end + 1;
    }
  }
  SoundAction& sound() { return *static_cast<SoundAction*>(action.get()); }
  void Run(const FileList& files = FileList()) { action->Run(files, ctx); }

  std::string Heard() {
    std::lock_guard<std::mutex> lock(mu);
    return heard;
  }
  // Whether a running process has `word` among its arguments.
  static bool SomeProcessNames(const std::string& word) {
    std::error_code ec;
    for (std::filesystem::directory_iterator it("/proc", ec), end; !ec && it != end;
         it.increment(ec)) {
      // A process that ends while it is read fails the read (ESRCH), which
      // the stream library throws: such a process is gone, as wished.
      try {
        std::ifstream in(it->path() / "cmdline", std::ios::binary);
        std::string args((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (args.find(word) != std::string::npos) return true;
      } catch (const std::exception&) {
      }
    }
    return false;
  }
  size_t CountBytes(char b) {
    std::string h = Heard();
    return static_cast<size_t>(std::count(h.begin(), h.end(), b));
  }

  TempDir dir;
  std::string sink_path;
  int fd = -1;
  std::thread reader;
  std::atomic<bool> quit{false}, hold{false};
  std::mutex mu;
  std::string heard;
  CapturingSink console;
  Services services;
  std::atomic<bool> stop{false};
  Wakeup stop_wakeup;
  RunContext ctx{services, stop, stop_wakeup};
  std::unique_ptr<Action> action;  // after the flags its thread reads
};

TEST_F(SoundActionTest, PlaysTheExpandedWaveFileOnceAndAMissingFileIsSilence) {
  WriteWave(dir.Sub("alert.wav"), 0x1212, 4000);
  Make("WaveFile=%Path/nothing.wav\n");
  Run({FileData(dir.Sub("a.txt"), 0, 1, kStateAdded)});
  EXPECT_TRUE(WaitUntil([&] { return !sound().Repeating(); }));

  Make("WaveFile=%Path/alert.wav\n");
  Run({FileData(dir.Sub("a.txt"), 0, 1, kStateAdded)});
  ASSERT_TRUE(WaitUntil([&] { return CountBytes(0x12) == 8000; }));
  EXPECT_TRUE(WaitUntil([&] { return !sound().Repeating(); }));
  EXPECT_EQ(Heard(), std::string(8000, 0x12));
}

TEST_F(SoundActionTest, ANewPlayReplacesTheSoundStillPlaying) {
  WriteWave(dir.Sub("long.wav"), 0x1111, 400000);
  WriteWave(dir.Sub("short.wav"), 0x2222, 4000);
  // The sink does not listen yet: the long sound fills the pipe and then
  // waits, still playing, when the next play comes.
  hold = true;
  Make("WaveFile=" + dir.Sub("long.wav") + "\n");
  Run();
  ASSERT_TRUE(WaitUntil([&] {
    int queued = 0;
    return ::ioctl(fd, FIONREAD, &queued) == 0 && queued > 0;
  }));
  OfferLine(action->Params(), "WaveFile=" + dir.Sub("short.wav") + "\n");
  Run();
  // Only once the first player is gone may the sink listen again: a player
  // still alive would pour the rest of the long sound into it at once.
  ASSERT_TRUE(WaitUntil([&] { return !SomeProcessNames(dir.Sub("long.wav")); }));
  hold = false;
  ASSERT_TRUE(WaitUntil([&] { return CountBytes(0x22) == 8000; }));
  EXPECT_LT(CountBytes(0x11), 800000u);
  std::string h = Heard();
  // The short sound follows the part of the long one that was played.
  EXPECT_EQ(h.find_last_of('\x11') + 1, h.find('\x22'));
}

TEST_F(SoundActionTest, RepeatsForTheIntervalAndEndsWithTheItem) {
  WriteWave(dir.Sub("tick.wav"), 0x3333, 400);
  // Plays at about 0 and 500 ms; the measured time may add one more.
  Make("WaveFile=" + dir.Sub("tick.wav") + "\nSndInterval=1\nSndPeriod=500\n");
  Run();
  ASSERT_TRUE(WaitUntil([&] { return !sound().Repeating(); }));
  const size_t plays = CountBytes(0x33) / 800;
  EXPECT_GE(plays, 2u);
  EXPECT_LE(plays, 3u);

  Make("WaveFile=" + dir.Sub("tick.wav") + "\nSndInterval=3600\n");
  Run();
  ASSERT_TRUE(WaitUntil([&] { return CountBytes(0x33) > plays * 800; }));
  stop = true;  // the item is asked to end
  EXPECT_TRUE(WaitUntil([&] { return !sound().Repeating(); }, 5000));
}

TEST_F(SoundActionTest, BeepSoundsTheBellWithoutAWave) {
  Make("Beep=1\n");
  Run();
  EXPECT_TRUE(WaitUntil([&] { return Heard().size() > 4000; }));
  EXPECT_EQ(console.Text(), "");
}

TEST_F(SoundActionTest, OnlyWaveFilesPlayAndABeepWithoutASoundDeviceRingsTheTerminal) {
  // An mp3, say: a player would take its bytes for samples, minutes of noise.
  dir.Write("noise.mp3", "ID3" + std::string(3000, 'U'));
  WriteWave(dir.Sub("wave.mp3"), 0x4444, 400);
  WavePlayer player;
  EXPECT_FALSE(player.Play(dir.Sub("noise.mp3")));
  EXPECT_TRUE(player.Play(dir.Sub("wave.mp3")));  // the content counts, not the name
  EXPECT_TRUE(WaitUntil([&] { return CountBytes(0x44) == 800; }));

  dir.Write("broken.conf", "pcm.!default {\n  type hw\n  card 99\n}\n");
  ::setenv("ALSA_CONFIG_PATH", dir.Sub("broken.conf").c_str(), 1);
  Make("Beep=1\n");
  Run();
  ASSERT_TRUE(WaitUntil([&] { return !sound().Repeating(); }));
  EXPECT_EQ(console.Text(), "\a");
}

}  // namespace
}  // namespace sentrel
