#include "platform/sound.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/file_ops.h"

namespace sentrel {
namespace {

bool ReadableFile(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
         ::access(path.c_str(), R_OK) == 0;
}

// A wave file begins with a RIFF header (or its big-endian and 64-bit
// forms) of the WAVE type. Whatever else a player would read as raw samples.
bool IsWaveFile(const std::string& path) {
  if (!ReadableFile(path)) return false;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  char head[12];
  const bool whole = ::read(fd, head, sizeof head) == static_cast<ssize_t>(sizeof head);
  ::close(fd);
  if (!whole || std::memcmp(head + 8, "WAVE", 4) != 0) return false;
  return std::memcmp(head, "RIFF", 4) == 0 || std::memcmp(head, "RIFX", 4) == 0 ||
         std::memcmp(head, "RF64", 4) == 0;
}

}  // namespace

std::string NotPlayable(const std::string& path) {
  if (IsWaveFile(path)) return std::string();
  struct stat st;
  if (path.empty()) return "no file named";
  if (::stat(path.c_str(), &st) != 0) return std::strerror(errno);
  if (!S_ISREG(st.st_mode)) return "not a file";
  if (!ReadableFile(path)) return "not readable (permission denied)";
  return "not a wave file";
}

namespace {

void PutLe(std::vector<uint8_t>& out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// A short two-tone chime, 16-bit mono at 22050 Hz, fading out.
std::vector<uint8_t> BellWave() {
  constexpr int kRate = 22050;
  constexpr int kSamples = kRate * 180 / 1000;
  std::vector<uint8_t> data;
  for (int i = 0; i < kSamples; ++i) {
    double t = static_cast<double>(i) / kRate;
    double fade = 1.0 - static_cast<double>(i) / kSamples;
    double v = (std::sin(2 * M_PI * 880 * t) + 0.5 * std::sin(2 * M_PI * 1320 * t)) / 1.5;
    PutLe(data, static_cast<uint16_t>(static_cast<int16_t>(v * fade * fade * 12000)), 2);
  }
  std::vector<uint8_t> wav = {'R', 'I', 'F', 'F'};
  PutLe(wav, static_cast<uint32_t>(36 + data.size()), 4);
  for (char c : std::string("WAVEfmt ")) wav.push_back(static_cast<uint8_t>(c));
  PutLe(wav, 16, 4);
  PutLe(wav, 1, 2);  // PCM
  PutLe(wav, 1, 2);  // mono
  PutLe(wav, kRate, 4);
  PutLe(wav, kRate * 2, 4);
  PutLe(wav, 2, 2);
  PutLe(wav, 16, 2);
  for (char c : std::string("data")) wav.push_back(static_cast<uint8_t>(c));
  PutLe(wav, static_cast<uint32_t>(data.size()), 4);
  wav.insert(wav.end(), data.begin(), data.end());
  return wav;
}

// The bell's wave lives in the user's cache folder, written once.
std::string BellPath() {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  std::string dir;
  if (cache != nullptr && cache[0] == '/') {
    dir = cache;
  } else {
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home == '\0') return std::string();
    dir = std::string(home) + "/.cache";
  }
  dir += "/sentrel";
  const std::string path = dir + "/bell.wav";
  if (ReadableFile(path)) return path;
  std::string error;
  if (!MakeDirectories(dir, error)) return std::string();
  std::vector<uint8_t> wav = BellWave();
  const std::string temp = path + "." + std::to_string(::getpid());
  ::unlink(temp.c_str());
  if (!CreateNewFile(temp, std::string(wav.begin(), wav.end()), error)) return std::string();
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    return std::string();
  }
  return path;
}

}  // namespace

bool WavePlayer::Play(const std::string& path, std::string* why) {
  std::lock_guard<std::mutex> lock(mu_);
  StopLocked();
  const std::string reason = NotPlayable(path);
  if (!reason.empty()) {
    if (why != nullptr) *why = reason;
    return false;
  }
  ProcessOptions options;
  options.null_streams = true;
  const std::vector<std::vector<std::string>> players = {
      {"aplay", "-q", "-t", "wav", path}, {"paplay", path}, {"pw-play", path}};
  for (const auto& argv : players) {
    current_ = StartProcess(argv, options);
    if (current_.valid()) return true;
  }
  if (why != nullptr) *why = "no sound player (aplay, paplay, pw-play) could be started";
  return false;
}

bool WavePlayer::Played(int ms, const std::function<bool()>& stop) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!current_.valid()) return current_.exit_status() == 0;
  if (current_.Wait(stop, ms) != SpawnedProcess::WaitResult::kExited) return true;
  return current_.exit_status() == 0;
}

void WavePlayer::Stop() {
  std::lock_guard<std::mutex> lock(mu_);
  StopLocked();
}

void WavePlayer::StopLocked() {
  if (!current_.valid()) return;
  if (current_.HasExited()) {
    current_ = SpawnedProcess();
    return;
  }
  current_.Terminate();
  // A player stuck writing to its device ignores the polite request.
  if (current_.Wait(nullptr, 300) != SpawnedProcess::WaitResult::kExited) {
    current_.Terminate(true);
    current_.Detach();
  }
  current_ = SpawnedProcess();
}

bool PlayBell(WavePlayer& player, const std::function<bool()>& stop) {
  // Kept for the life of the process: sound threads may still ring while
  // it ends.
  static std::mutex* mu = new std::mutex;
  static std::string* known = new std::string;
  std::string path;
  {
    std::lock_guard<std::mutex> lock(*mu);
    if (known->empty() || !ReadableFile(*known)) *known = BellPath();
    path = *known;
  }
  // A player without a sound device gives up at once; a working one takes
  // the chime's length.
  return player.Play(path) && player.Played(2000, stop);
}

}  // namespace sentrel
