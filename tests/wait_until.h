#ifndef SENTREL_TESTS_WAIT_UNTIL_H_
#define SENTREL_TESTS_WAIT_UNTIL_H_

#include <chrono>
#include <functional>
#include <thread>

namespace sentrel {

// Polls `done` until it holds or `ms` pass; its last answer. Generous
// deadlines keep tests steady on a loaded machine.
inline bool WaitUntil(const std::function<bool()>& done, int ms = 20000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return done();
}

}  // namespace sentrel

#endif  // SENTREL_TESTS_WAIT_UNTIL_H_
