#ifndef SENTREL_TESTS_CONSOLE_PROGRAM_FIXTURE_H_
#define SENTREL_TESTS_CONSOLE_PROGRAM_FIXTURE_H_

// Test support: the sentrel program started as a child process, with a
// configuration file and a settings folder of the test's own.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "temp_dir.h"

namespace sentrel {

inline const std::string kBanner = std::string("Sentrel ") + SENTREL_VERSION + " [console version]\n\n";

// The program's standard output without the line that says when the first
// checks were done (its time varies, and it may come before or after a key).
inline std::string WithoutFirstChecksLine(std::string out) {
  const size_t at = out.find("\nWatching ");
  if (at != std::string::npos) out.erase(at + 1, out.find('\n', at + 1) - at);
  return out;
}

class ConsoleProgramTest : public ::testing::Test {
 protected:
  ConsoleProgramTest() {
    // A private settings store, so that the user's own settings play no part.
    env_ = {"XDG_CONFIG_HOME=" + home_.str(), "LC_ALL=C"};
  }
  std::string Config(const std::string& text) { return dir_.Write("my.mon", text); }

  TempDir dir_, home_;
  std::vector<std::string> env_;
};

}  // namespace sentrel

#endif  // SENTREL_TESTS_CONSOLE_PROGRAM_FIXTURE_H_
