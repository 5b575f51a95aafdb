#include "platform/sound.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>

#include "temp_dir.h"

namespace sentrel {
namespace {

// A short, silent 8 kHz mono wave file.
void WriteWave(const std::string& path) {
  const uint32_t samples = 800;
  auto u32 = [](std::ofstream& o, uint32_t v) { o.write(reinterpret_cast<const char*>(&v), 4); };
  auto u16 = [](std::ofstream& o, uint16_t v) { o.write(reinterpret_cast<const char*>(&v), 2); };
  std::ofstream o(path, std::ios::binary);
  o.write("RIFF", 4);
  u32(o, 36 + samples);
  o.write("WAVEfmt ", 8);
  u32(o, 16);
  u16(o, 1);
  u16(o, 1);
  u32(o, 8000);
  u32(o, 8000);
  u16(o, 1);
  u16(o, 8);
  o.write("data", 4);
  u32(o, samples);
  o << std::string(samples, '\x80');
}

TEST(WindowsSoundTest, OnlyWaveFilesAreHandedToTheSystem) {
  TempDir dir;
  const std::string wave = dir.Sub("chime.wav");
  WriteWave(wave);
  const std::string text = dir.Write("chime.mp3", "ID3 not a wave");
  dir.MakeDir("folder.wav");
  EXPECT_EQ(NotPlayable(wave), "");
  EXPECT_EQ(NotPlayable(text), "not a wave file");
  EXPECT_EQ(NotPlayable(dir.Sub("folder.wav")), "not a file");
  EXPECT_NE(NotPlayable(dir.Sub("missing.wav")), "");
  WavePlayer player;
  std::string why;
  EXPECT_FALSE(player.Play(text, &why));
  EXPECT_EQ(why, "not a wave file");
  // Played asynchronously: accepted is all the system says.
  EXPECT_TRUE(player.Play(wave, &why)) << why;
  EXPECT_TRUE(player.Played(1000, nullptr));
  player.Stop();
  EXPECT_FALSE(player.Played(1000, nullptr));
}

}  // namespace
}  // namespace sentrel
