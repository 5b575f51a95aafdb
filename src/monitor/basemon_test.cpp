#include "monitor/basemon.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "fake_clock.h"
#include "lang/lang.h"
#include "wait_until.h"

namespace sentrel {
namespace {

// 2026-12-06 was a Sunday.
constexpr double kSundayNoon = 46362.5;

// An item kind whose check result the test decides.
class ScriptedItem final : public BaseMonitoring {
 public:
  explicit ScriptedItem(Services& services, bool paused = false)
      : BaseMonitoring(paused, services) {}

  uint8_t Check() override {
    if (!ReportedFiles.empty()) leftover_records++;
    if (TakeRebaseline()) rebaselines++;
    checks++;
    if (throw_next.exchange(false)) throw std::runtime_error("check failed");
    uint8_t r = next.load();
    if (r == 1) ReportedFiles.emplace_back("/watched/a.txt", 0.0, 1, kStateAdded);
    return r;
  }
  void AddAction(std::unique_ptr<Action> a) { mutable_actions().push_back(std::move(a)); }

  std::atomic<int> checks{0};
  std::atomic<int> rebaselines{0};
  std::atomic<int> leftover_records{0};
  std::atomic<uint8_t> next{0};
  std::atomic<bool> throw_next{false};
};

class CountingAction final : public Action {
 public:
  explicit CountingAction(std::function<void()> on_run = nullptr)
      : Action(kLngCreateList), on_run_(std::move(on_run)) {}
  void Run(const FileList& files, const RunContext&) override {
    runs++;
    last_count = static_cast<int>(files.size());
    if (on_run_) on_run_();
  }
  void AfterRun(const RunContext&) override { after_runs++; }
  std::string Describe() const override { return "counting"; }

  std::atomic<int> runs{0};
  std::atomic<int> after_runs{0};
  std::atomic<int> last_count{-1};

 private:
  std::function<void()> on_run_;
};

class LoopTest : public ::testing::Test {
 protected:
  LoopTest() : clock_(kSundayNoon) { services_.clock = &clock_; }
  ~LoopTest() override { Stop(); }

  std::shared_ptr<ScriptedItem> MakeItem(const std::vector<std::string>& lines) {
    auto item = std::make_shared<ScriptedItem>(services_);
    item->ParseBlock(lines);
    return item;
  }
  void Start(const std::shared_ptr<ScriptedItem>& item) {
    item_ = item;
    BaseMonitoring::Start(item, tracker_);
  }
  void Stop() {
    if (item_) item_->RequestTerminate();
    EXPECT_TRUE(tracker_->WaitIdle(20000));
  }

  FakeClock clock_;
  CapturingSink sink_;
  Services services_;
  std::shared_ptr<ThreadTracker> tracker_ = std::make_shared<ThreadTracker>();
  std::shared_ptr<ScriptedItem> item_;
};

TEST_F(LoopTest, ChecksAtStartThenOncePerInterval) {
  auto item = MakeItem({"Interval=60\n"});
  Start(item);
  clock_.RunFor(0);
  EXPECT_EQ(item->checks, 1);
  EXPECT_EQ(item->rebaselines, 1);  // the first check starts afresh
  clock_.RunFor(59999);
  EXPECT_EQ(item->checks, 1);
  clock_.RunFor(1);
  EXPECT_EQ(item->checks, 2);
  clock_.RunFor(120000);
  EXPECT_EQ(item->checks, 4);
  EXPECT_EQ(item->rebaselines, 1);
}

TEST_F(LoopTest, IdleItemSleepsUntilSomethingIsDue) {
  auto item = MakeItem({"Interval=3600\n"});
  Start(item);
  clock_.RunFor(0);
  const int waits = clock_.Waits();
  clock_.RunFor(3600000);
  EXPECT_EQ(item->checks, 2);
  // A look at the clocks once a minute, not ten wake-ups a second.
  EXPECT_LE(clock_.Waits() - waits, 61);
}

TEST_F(LoopTest, UnreadableIntervalChecksEverySecond) {
  auto item = MakeItem({"Interval=0\n"});
  EXPECT_EQ(item->Interval().Value(), 1);
  Start(item);
  clock_.RunFor(3000);
  EXPECT_EQ(item->checks, 4);
}

TEST_F(LoopTest, CheckRequestRunsACheckWithoutWaitingForTheInterval) {
  auto item = MakeItem({"Interval=3600\n"});
  Start(item);
  clock_.RunFor(0);
  ASSERT_EQ(item->checks, 1);
  item->RequestCheck();
  EXPECT_TRUE(WaitUntil([&] { return item->checks == 2; }));
  // The early check starts a new interval.
  clock_.RunFor(3599000);
  EXPECT_EQ(item->checks, 2);
}

TEST_F(LoopTest, RunOnceRunsActionsOnlyWhenTheResultTurnsPositive) {
  auto item = MakeItem({"Interval=1\n", "RunOnce=1\n"});
  auto* action = new CountingAction;
  item->AddAction(std::unique_ptr<Action>(action));
  item->next = 1;
  Start(item);
  clock_.RunFor(2000);  // three positive checks
  EXPECT_EQ(item->checks, 3);
  EXPECT_EQ(action->runs, 1);
  EXPECT_EQ(action->last_count, 1);
  item->next = 0;
  clock_.RunFor(1000);
  item->next = 1;
  clock_.RunFor(1000);
  EXPECT_EQ(action->runs, 2);
  EXPECT_EQ(item->leftover_records, 0);  // the records never outlive their pass
}

TEST_F(LoopTest, WithoutRunOnceEveryPositiveCheckRunsTheActions) {
  auto item = MakeItem({"Interval=1\n"});
  auto* action = new CountingAction;
  item->AddAction(std::unique_ptr<Action>(action));
  item->next = 1;
  Start(item);
  clock_.RunFor(2000);
  EXPECT_EQ(action->runs, 3);
  EXPECT_EQ(action->after_runs, 3);
}

TEST_F(LoopTest, FailingCheckCountsAsNegativeAndTheItemGoesOn) {
  auto item = MakeItem({"Interval=1\n"});
  auto* action = new CountingAction;
  item->AddAction(std::unique_ptr<Action>(action));
  item->throw_next = true;
  item->next = 1;
  Start(item);
  clock_.RunFor(1000);
  EXPECT_EQ(item->checks, 2);
  EXPECT_EQ(action->runs, 1);
}

TEST_F(LoopTest, NoCheckOutsideTheWindowAndOneAtOnceWhenItOpens) {
  // Sunday is not allowed; Monday is.
  auto item = MakeItem({"Interval=3600\n", "Days=0111111\n"});
  Start(item);
  clock_.RunFor(0);
  EXPECT_EQ(item->checks, 0);
  EXPECT_EQ(item->Status(), kStatusOutsideWindow);
  item->RequestCheck();  // requests wait for the window
  clock_.RunFor(5000);
  EXPECT_EQ(item->checks, 0);
  clock_.RunFor(12 * 3600 * 1000);  // past midnight into Monday
  EXPECT_EQ(item->checks, 1);
  EXPECT_EQ(item->Status(), kStatusReady);
}

TEST_F(LoopTest, WorkHoursRangeOpensAndClosesTheWindowOnTime) {
  auto item = MakeItem({"Interval=3600\n", "WorkHours=1\n", "TimeInterval=13:00:00 - 13:30:00\n"});
  Start(item);
  clock_.RunFor(0);
  EXPECT_EQ(item->checks, 0);
  clock_.RunFor(3600 * 1000 - 1);
  EXPECT_EQ(item->checks, 0);
  clock_.RunFor(2);
  EXPECT_EQ(item->checks, 1);
  clock_.RunFor(1800 * 1000);
  EXPECT_EQ(item->Status(), kStatusOutsideWindow);
}

TEST_F(LoopTest, ActionsStopAtTerminationAndListCleanupIsSkipped) {
  auto item = MakeItem({"Interval=1\n"});
  ScriptedItem* raw = item.get();
  auto* first = new CountingAction([raw] { raw->RequestTerminate(); });
  auto* second = new CountingAction;
  item->AddAction(std::unique_ptr<Action>(first));
  item->AddAction(std::unique_ptr<Action>(second));
  item->next = 1;
  Start(item);
  EXPECT_TRUE(tracker_->WaitIdle(20000));
  EXPECT_EQ(first->runs, 1);
  EXPECT_EQ(second->runs, 0);
  EXPECT_EQ(first->after_runs, 0);
}

TEST_F(LoopTest, DisabledActionNeitherRunsNorCleansUp) {
  auto item = MakeItem({"Interval=1\n"});
  auto* action = new CountingAction;
  action->EnabledParam().Set(false);
  item->AddAction(std::unique_ptr<Action>(action));
  item->next = 1;
  Start(item);
  clock_.RunFor(1000);
  EXPECT_EQ(action->runs, 0);
  EXPECT_EQ(action->after_runs, 0);
}

TEST(LoopRealClockTest, IdleItemEndsPromptlyOnStop) {
  Services services;
  auto tracker = std::make_shared<ThreadTracker>();
  auto item = std::make_shared<ScriptedItem>(services);
  item->ParseBlock({"Interval=3600\n"});
  BaseMonitoring::Start(item, tracker);
  ASSERT_TRUE(WaitUntil([&] { return item->checks == 1; }));
  item->RequestTerminate();
  EXPECT_TRUE(tracker->WaitIdle(20000));
  EXPECT_EQ(item.use_count(), 1);  // the thread let go of it
}

TEST(LoopRealClockTest, RestartAsksForABaselineCheck) {
  Services services;
  auto tracker = std::make_shared<ThreadTracker>();
  auto item = std::make_shared<ScriptedItem>(services);
  item->ParseBlock({"Interval=3600\n"});
  BaseMonitoring::Start(item, tracker);
  ASSERT_TRUE(WaitUntil([&] { return item->checks == 1; }));
  item->Restart();
  EXPECT_TRUE(WaitUntil([&] { return item->rebaselines == 2; }));
  item->RequestTerminate();
  EXPECT_TRUE(tracker->WaitIdle(20000));
}

}  // namespace
}  // namespace sentrel
