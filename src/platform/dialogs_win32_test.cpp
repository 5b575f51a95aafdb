#include "platform/dialogs.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>

#include "platform/top_windows.h"

namespace sentrel {
namespace {

// A box is open until its stop request: the request is granted once the box
// has been seen among the desktop's windows under its title (or after a
// deadline, so that a box that never shows cannot hold the test).
class SeenBox {
 public:
  explicit SeenBox(std::string title) : title_(std::move(title)) {}
  bool operator()() {
    for (const TopWindow& w : windows_->List()) {
      if (w.title == title_) seen_ = true;
    }
    return seen_ || std::chrono::steady_clock::now() > deadline_;
  }
  bool seen() const { return seen_; }

 private:
  std::string title_;
  std::unique_ptr<WindowSystem> windows_ = OpenWindowSystem();
  std::atomic<bool> seen_{false};
  std::chrono::steady_clock::time_point deadline_ =
      std::chrono::steady_clock::now() + std::chrono::seconds(30);
};

TEST(MessageBoxTest, ShowsItsUtf8TitleAndGivesWayToAStop) {
  DialogRequest info{"Sentrel – Größe geändert", "C:\\Daten\\naïve.txt", ""};
  SeenBox info_seen(info.title);
  EXPECT_EQ(ShowInformation(info, [&] { return info_seen(); }), DialogAnswer::kYes);
  EXPECT_TRUE(info_seen.seen());

  // A question stopped on its way counts as "no": nothing is done unasked.
  DialogRequest question{"Sentrel: delete 3 files?", "Delete C:\\a;b.txt", ""};
  SeenBox question_seen(question.title);
  EXPECT_EQ(AskQuestion(question, [&] { return question_seen(); }), DialogAnswer::kNo);
  EXPECT_TRUE(question_seen.seen());
}

}  // namespace
}  // namespace sentrel
