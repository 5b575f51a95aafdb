#include "actions/kill_action.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/process.h"
#include "platform/top_windows.h"
#include "shell/message_sink.h"
#include "temp_dir.h"
#include "wait_until.h"

namespace sentrel {
namespace {

// The desktop's real windows, made by a helper program; titles carry a tag
// of this run, since other programs' windows share the desktop.
class KillActionTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (SpawnedProcess& p : helpers_) {
      p.Terminate(true);
      p.Wait(nullptr, 5000);
    }
  }

  // Starts a program with one window per title (the last one on top) and
  // waits until they are made.
  SpawnedProcess& OpenWindows(const std::vector<std::string>& titles, bool ignore_close = false) {
    std::vector<std::string> argv = {std::string(SENTREL_TEST_HELPER_DIR) + "/titled_windows",
                                     "--log", log_};
    if (ignore_close) argv.push_back("--ignore-close");
    for (const std::string& t : titles) argv.push_back(t + tag_);
    ProcessOptions options;
    options.null_streams = true;
    const size_t before = Count("ready");
    helpers_.push_back(StartProcess(argv, options));
    EXPECT_TRUE(WaitUntil([&] { return Count("ready") > before || helpers_.back().HasExited(); }));
    EXPECT_FALSE(helpers_.back().HasExited()) << helpers_.back().exit_status();
    return helpers_.back();
  }

  void Kill(const std::string& mask, bool close_all, bool forced) {
    auto action = CreateAction(kKillAction);
    OfferLine(action->Params(), "killTitleMask=" + mask + tag_ + "\n");
    OfferLine(action->Params(), std::string("killCloseAll=") + (close_all ? "1" : "0") + "\n");
    OfferLine(action->Params(), std::string("killForcedKill=") + (forced ? "1" : "0") + "\n");
    Services services;
    services.messages = &sink_;
    std::atomic<bool> stop{false};
    Wakeup wakeup;
    RunContext ctx(services, stop, wakeup);
    action->Run(FileList(), ctx);
  }

  size_t Count(const std::string& word) {
    const std::string text = ReadFileText(log_);
    size_t n = 0;
    for (size_t pos = text.find(word); pos != std::string::npos; pos = text.find(word, pos + 1)) ++n;
    return n;
  }
  ::testing::AssertionResult Logged(const std::string& line) {
    if (WaitUntil([&] { return ReadFileText(log_).find(line + tag_ + "\n") != std::string::npos; })) {
      return ::testing::AssertionSuccess();
    }
    std::string windows;
    for (const TopWindow& w : OpenWindowSystem()->List()) windows += " [" + w.title + "]";
    return ::testing::AssertionFailure() << "not logged: " << line << "\nlog:\n"
                                         << ReadFileText(log_) << "windows, topmost first:" << windows;
  }

  TempDir dir_;
  std::string log_ = dir_.Sub("windows.log");
  std::string tag_ = " #" + std::to_string(std::random_device()() % 1000000);
  std::vector<SpawnedProcess> helpers_;
  CapturingSink sink_;
};

TEST_F(KillActionTest, AsksTheTopmostMatchToCloseAndWithCloseAllEveryMatchInWindowOrder) {
  OpenWindows({"Alpha Editor", "Beta Editor", "Other"});
  Kill("*editor", false, false);
  ASSERT_TRUE(Logged("closed Beta Editor"));
  Kill("Other", false, false);
  ASSERT_TRUE(Logged("closed Other"));
  // Requests are answered in the order they came: had Alpha been asked as
  // well, its line would stand before "Other".
  EXPECT_EQ(Count("closed Alpha"), 0u);

  OpenWindows({"One Editor", "Two Editor"});
  Kill("*Editor", true, false);
  ASSERT_TRUE(Logged("closed One Editor"));
  ASSERT_TRUE(Logged("closed Alpha Editor"));
  const std::string log = ReadFileText(log_);
  EXPECT_LT(log.find("closed Two Editor"), log.find("closed One Editor"));
}

TEST_F(KillActionTest, ForcedKillEndsTheOwningProcess) {
  SpawnedProcess& stubborn = OpenWindows({"Stubborn"}, /*ignore_close=*/true);
  Kill("stub*", false, false);
  ASSERT_TRUE(Logged("closed Stubborn"));
  EXPECT_FALSE(stubborn.HasExited());
  Kill("stub*", false, true);
  EXPECT_EQ(stubborn.Wait(nullptr, 15000), SpawnedProcess::WaitResult::kExited);
}

}  // namespace
}  // namespace sentrel
