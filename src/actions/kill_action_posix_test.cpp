#include "actions/kill_action.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "platform/process.h"
#include "temp_dir.h"
#include "xvfb.h"

namespace sentrel {
namespace {

using testing::HelperPath;
using testing::ReadText;

Services WithSink(MessageSink* sink) {
  Services s;
  s.messages = sink;
  return s;
}

class KillActionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!xvfb.ok()) GTEST_SKIP() << "no Xvfb";
  }
  void TearDown() override {
    for (SpawnedProcess& p : helpers) {
      p.Terminate(true);
      p.Wait(nullptr, 5000);
    }
  }

  // Starts a program with one window per title (the last one on top) and
  // waits until they are shown.
  SpawnedProcess& OpenWindows(std::vector<std::string> titles, bool ignore_close = false) {
    std::vector<std::string> argv = {HelperPath("x_windows"), "--display", xvfb.display(),
                                     "--log", log};
    if (ignore_close) argv.push_back("--ignore-close");
    argv.insert(argv.end(), titles.begin(), titles.end());
    ProcessOptions options;
    options.null_streams = true;
    const size_t before = Count("ready");
    helpers.push_back(StartProcess(argv, options));
    EXPECT_TRUE(WaitUntil([&] { return Count("ready") > before || helpers.back().HasExited(); }));
    EXPECT_FALSE(helpers.back().HasExited()) << helpers.back().exit_status();
    return helpers.back();
  }

  std::unique_ptr<Action> MakeKill(const std::string& mask, bool close_all, bool forced) {
    auto action = CreateAction(kKillAction);
    auto* kill = static_cast<KillAction*>(action.get());
    std::string display = xvfb.display();
    kill->SetWindowSource([display] { return OpenX11Windows(display); });
    OfferLine(action->Params(), "killTitleMask=" + mask + "\n");
    OfferLine(action->Params(), std::string("killCloseAll=") + (close_all ? "1" : "0") + "\n");
    OfferLine(action->Params(), std::string("killForcedKill=") + (forced ? "1" : "0") + "\n");
    return action;
  }

  void Run(Action& action) {
    RunContext ctx(services, stop, stop_wakeup);
    action.Run(FileList(), ctx);
  }

  size_t Count(const std::string& word) {
    std::string text = ReadText(log);
    size_t n = 0;
    for (size_t pos = text.find(word); pos != std::string::npos; pos = text.find(word, pos + 1)) ++n;
    return n;
  }

  bool Logged(const std::string& line) {
    return WaitUntil([&] { return ReadText(log).find(line + "\n") != std::string::npos; });
  }

  testing::Xvfb xvfb;
  TempDir tree;
  std::string log = tree.Sub("x.log");
  std::vector<SpawnedProcess> helpers;
  CapturingSink sink;
  Services services = WithSink(&sink);
  std::atomic<bool> stop{false};
  Wakeup stop_wakeup;
};

TEST_F(KillActionTest, ListsWindowsTopmostFirstWithTheirTitles) {
  OpenWindows({"Alpha Editor", "Beta Editor", "Other"});
  auto windows = OpenX11Windows(xvfb.display());
  ASSERT_TRUE(windows);
  std::vector<std::string> titles;
  for (const TopWindow& w : windows->List()) titles.push_back(w.title);
  EXPECT_EQ(titles, (std::vector<std::string>{"Other", "Beta Editor", "Alpha Editor"}));
}

TEST_F(KillActionTest, AsksOnlyTheTopmostMatchToCloseUnlessCloseAll) {
  OpenWindows({"Alpha Editor", "Beta Editor", "Other"});
  Run(*MakeKill("*editor", false, false));
  ASSERT_TRUE(Logged("closed Beta Editor"));
  // The helper answers requests in the order they came: had Alpha been
  // asked as well, its line would stand before this one.
  Run(*MakeKill("Other", false, false));
  ASSERT_TRUE(Logged("closed Other"));
  EXPECT_EQ(ReadText(log), "ready\nclosed Beta Editor\nclosed Other\n");

  OpenWindows({"One Editor", "Two Editor"});
  Run(*MakeKill("*Editor", true, false));
  // Every match, in window order; the first program's "Alpha Editor" too.
  ASSERT_TRUE(Logged("closed One Editor"));
  ASSERT_TRUE(Logged("closed Alpha Editor"));
  EXPECT_LT(ReadText(log).find("closed Two Editor"), ReadText(log).find("closed One Editor"));
}

TEST_F(KillActionTest, ForcedKillEndsTheOwningProcess) {
  SpawnedProcess& stubborn = OpenWindows({"Stubborn"}, /*ignore_close=*/true);
  Run(*MakeKill("stub*", false, false));
  ASSERT_TRUE(Logged("closed Stubborn"));
  EXPECT_FALSE(stubborn.HasExited());

  Run(*MakeKill("stub*", false, true));
  EXPECT_EQ(stubborn.Wait(nullptr, 15000), SpawnedProcess::WaitResult::kExited);
  EXPECT_EQ(stubborn.exit_status(), 128 + 9);
}

TEST_F(KillActionTest, AnInvalidMaskEndsOnlyThisAction) {
  OpenWindows({"[abc"});
  Run(*MakeKill("[abc", true, true));
  EXPECT_NE(sink.Text().find("'[abc' is an invalid mask at (5)"), std::string::npos);
  Run(*MakeKill("[[]abc", false, false));
  EXPECT_TRUE(Logged("closed [abc"));
}

// Without a display, the user's own processes stand for windows.
TEST(KillWithoutDisplay, SignalsTheProcessWhoseCommandLineMatches) {
  const std::string unique = "6" + std::to_string(getpid() % 1000) + ".25";
  auto start = [&] {
    ProcessOptions options;
    options.null_streams = true;
    return StartProcess({"sleep", unique}, options);
  };
  SpawnedProcess polite = start();
  SpawnedProcess forced = start();
  ASSERT_TRUE(polite.valid() && forced.valid());

  // A new process shows its command line once it has started the program.
  auto windows = OpenProcessWindows();
  ASSERT_TRUE(WaitUntil([&] {
    int seen = 0;
    for (const TopWindow& w : windows->List()) {
      EXPECT_NE(w.id, 1u);
      EXPECT_NE(w.id, static_cast<uint64_t>(getpid()));
      if (w.title == "sleep " + unique) ++seen;
    }
    return seen == 2;
  }));

  CapturingSink sink;
  Services services = WithSink(&sink);
  std::atomic<bool> stop{false};
  Wakeup wakeup;
  RunContext ctx(services, stop, wakeup);
  auto make = [&](bool forced_kill) {
    auto action = CreateAction(kKillAction);
    static_cast<KillAction*>(action.get())->SetWindowSource([] { return OpenProcessWindows(); });
    OfferLine(action->Params(), "killTitleMask=sleep " + unique + "\n");
    if (forced_kill) OfferLine(action->Params(), "killForcedKill=1\n");
    return action;
  };
  // The newest matching process is the topmost "window".
  make(false)->Run(FileList(), ctx);
  EXPECT_EQ(forced.Wait(nullptr, 15000), SpawnedProcess::WaitResult::kExited);
  EXPECT_EQ(forced.exit_status(), 128 + 15);
  EXPECT_FALSE(polite.HasExited());
  make(true)->Run(FileList(), ctx);
  EXPECT_EQ(polite.Wait(nullptr, 15000), SpawnedProcess::WaitResult::kExited);
  EXPECT_EQ(polite.exit_status(), 128 + 9);
}

}  // namespace
}  // namespace sentrel
