#include "actions/action.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "actions/exec_action.h"
#include "actions/fileop_action.h"
#include "actions/list_action.h"
#include "actions/popup_action.h"
#include "actions/sound_action.h"
#include "lang/lang.h"
#include "monitor/basemon.h"
#include "environment.h"
#include "record_args.h"
#include "temp_dir.h"
#include "wait_until.h"

namespace sentrel {
namespace {

// Lines as the configuration loader hands them over.
std::vector<std::string> Block(std::initializer_list<const char*> lines) {
  std::vector<std::string> out;
  for (const char* l : lines) out.push_back(std::string(l) + "\n");
  return out;
}

const std::string& CommandOf(const Action& a) {
  return dynamic_cast<const ExecAction&>(a).Command().Value();
}

class LoadBlockTest : public ::testing::Test {
 protected:
  void Load(std::initializer_list<const char*> lines) {
    LoadBlock(Block(lines), item_params_, actions_);
  }
  std::vector<int> Kinds() const {
    std::vector<int> kinds;
    for (const auto& a : actions_) kinds.push_back(a->Kind());
    return kinds;
  }
  std::vector<bool> Enabled() const {
    std::vector<bool> enabled;
    for (const auto& a : actions_) enabled.push_back(a->Enabled());
    return enabled;
  }

  StringParam file_name_{"FileName", ""};
  IntParam interval_{"Interval", 60, 1, 2147483647};
  ParamList item_params_{&file_name_, &interval_};
  ActionList actions_;
};

TEST_F(LoadBlockTest, EachActionLineOpensAnActionThatTheFollowingLinesSet) {
  Load({"FileName=/data", "Action=1", "Command=a", "Interval=5", "Action=1", "Command=b",
        "DelayBefore=250"});
  ASSERT_EQ(Kinds(), (std::vector<int>{kExecAction, kExecAction}));
  EXPECT_EQ(CommandOf(*actions_[0]), "a");
  EXPECT_EQ(CommandOf(*actions_[1]), "b");
  EXPECT_EQ(actions_[0]->DelayBefore(), 0);
  EXPECT_EQ(actions_[1]->DelayBefore(), 250);
  EXPECT_EQ(file_name_.Value(), "/data");
  EXPECT_EQ(interval_.Value(), 5);  // the item's own values stay with the item
  EXPECT_EQ(actions_[0]->Caption(), Strings().TextAt(kLngExecute));
}

TEST_F(LoadBlockTest, LinesBeforeTheFirstActionAreLostAndBadKindsMakeListActions) {
  Load({"Command=lost", "Action=1", "Action=7", "Action=letters", "Action=-1", "Action=5"});
  EXPECT_EQ(Kinds(), (std::vector<int>{kExecAction, kListAction, kListAction, kListAction,
                                       kKillAction}));
  EXPECT_EQ(CommandOf(*actions_[0]), "");
  EXPECT_NE(dynamic_cast<ListAction*>(actions_[1].get()), nullptr);
  EXPECT_EQ(CreateAction(6), nullptr);
  EXPECT_EQ(CreateAction(-1), nullptr);
}

TEST_F(LoadBlockTest, OlderSwitchesMakeTheFiveFixedActionsEnabledAsSwitched) {
  Load({"Execute=1", "Command=c", "DelayBefore=9"});
  ASSERT_EQ(Kinds(), (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_NE(dynamic_cast<ListAction*>(actions_[0].get()), nullptr);
  EXPECT_NE(dynamic_cast<ExecAction*>(actions_[1].get()), nullptr);
  EXPECT_NE(dynamic_cast<PopupAction*>(actions_[2].get()), nullptr);
  EXPECT_NE(dynamic_cast<SoundAction*>(actions_[3].get()), nullptr);
  EXPECT_NE(dynamic_cast<FileOpAction*>(actions_[4].get()), nullptr);
  EXPECT_EQ(Enabled(), (std::vector<bool>{false, true, false, false, false}));
  EXPECT_EQ(CommandOf(*actions_[1]), "c");
  // A value every action has goes to the first action only.
  EXPECT_EQ(actions_[0]->DelayBefore(), 9);
  EXPECT_EQ(actions_[1]->DelayBefore(), 0);
}

TEST_F(LoadBlockTest, AllFiveSwitchesInAnyCaseAndASwitchOfZeroStillMeansTheOlderFormat) {
  Load({"filelist=1", "EXECUTE=true", "PopupNotify=1", "Sound=1", "FileOp=1"});
  EXPECT_EQ(Enabled(), (std::vector<bool>(5, true)));
  actions_.clear();
  Load({"FileOp=0"});
  EXPECT_EQ(Enabled(), (std::vector<bool>(5, false)));
}

TEST_F(LoadBlockTest, SecondPassOffersEveryLineAgainToTheWholeList) {
  Load({"Action=1", "Enabled=0", "Command=first", "FileList=1", "Execute=1", "ListName=l.txt"});
  ASSERT_EQ(Kinds(), (std::vector<int>{kExecAction, 0, 1, 2, 3, 4}));
  // "Enabled" is taken again by the first action, which stays disabled; the
  // older actions keep their switches.
  EXPECT_EQ(Enabled(), (std::vector<bool>{false, true, true, false, false, false}));
  EXPECT_EQ(CommandOf(*actions_[0]), "first");
  EXPECT_EQ(CommandOf(*actions_[2]), "");  // the first action with a command took it
  EXPECT_EQ(dynamic_cast<ListAction&>(*actions_[1]).ListName().Value(), "l.txt");
  // "Action" lines are offered too: the first action takes it, its class stays.
  EXPECT_NE(dynamic_cast<ExecAction*>(actions_[0].get()), nullptr);
}

TEST_F(LoadBlockTest, SecondPassAlsoOffersTheLinesTheItemTook) {
  StringParam shared("ListName", "");
  item_params_.push_back(&shared);
  Load({"ListName=/tmp/both.txt", "FileList=1"});
  EXPECT_EQ(shared.Value(), "/tmp/both.txt");
  EXPECT_EQ(dynamic_cast<ListAction&>(*actions_[0]).ListName().Value(), "/tmp/both.txt");
}

// A clock whose waits return at once, remembering how long they were asked
// to last; a hook may act at a wait (to stop the item, say).
class InstantClock final : public Clock {
 public:
  LocalTime Now() override { return LocalTimeFromValue(45000.0 + now_ms_ / 86400000.0); }
  int64_t TickMs() override { return now_ms_; }
  bool WaitFor(Wakeup& wakeup, int ms) override {
    waits.push_back(ms);
    if (on_wait) on_wait();
    if (wakeup.IsSignalled()) return true;
    now_ms_ += ms;
    return false;
  }
  std::vector<int> waits;
  std::function<void()> on_wait;

 private:
  int64_t now_ms_ = 0;
};

class TestItem final : public BaseMonitoring {
 public:
  explicit TestItem(Services& services) : BaseMonitoring(false, services) {}
  using BaseMonitoring::mutable_actions;
  uint8_t Check() override { return 0; }
};

// Notes when it ran (clock milliseconds) and may act while it runs.
class ProbeAction final : public Action {
 public:
  explicit ProbeAction(Clock& clock, std::function<void()> on_run = nullptr)
      : Action(kLngPopup), clock_(clock), on_run_(std::move(on_run)) {}
  void Run(const FileList&, const RunContext&) override {
    ran_at.push_back(clock_.TickMs());
    if (on_run_) on_run_();
  }
  std::string Describe() const override { return "probe"; }
  std::vector<int64_t> ran_at;

 private:
  Clock& clock_;
  std::function<void()> on_run_;
};

class RunActionsTest : public ::testing::Test {
 protected:
  RunActionsTest() {
    services_.clock = &clock_;
    item_ = std::make_unique<TestItem>(services_);
  }
  template <typename A>
  A* Add(std::unique_ptr<A> action, std::initializer_list<std::string> lines = {}) {
    for (const std::string& line : lines) {
      EXPECT_TRUE(OfferLine(action->Params(), line + "\n")) << line;
    }
    A* raw = action.get();
    item_->mutable_actions().push_back(std::move(action));
    return raw;
  }
  ProbeAction* AddProbe(std::initializer_list<std::string> lines = {},
                        std::function<void()> on_run = nullptr) {
    return Add(std::make_unique<ProbeAction>(clock_, std::move(on_run)), lines);
  }
  ListAction* AddList(const std::string& name, std::initializer_list<std::string> lines) {
    auto* list = Add(std::make_unique<ListAction>(), lines);
    EXPECT_TRUE(OfferLine(list->Params(), "ListName=" + name + "\n"));
    return list;
  }

  InstantClock clock_;
  Services services_;
  std::unique_ptr<TestItem> item_;
  TempDir dir_;
};

TEST_F(RunActionsTest, EnabledActionsRunInOrderEachAfterItsDelay) {
  ProbeAction* first = AddProbe();
  ProbeAction* second = AddProbe({"DelayBefore=1500"});
  ProbeAction* disabled = AddProbe({"DelayBefore=9999", "Enabled=0"});
  ProbeAction* third = AddProbe({"DelayBefore=1"});
  item_->RunActions();
  EXPECT_EQ(first->ran_at, (std::vector<int64_t>{0}));
  EXPECT_EQ(second->ran_at, (std::vector<int64_t>{1500}));
  EXPECT_TRUE(disabled->ran_at.empty());
  EXPECT_EQ(third->ran_at, (std::vector<int64_t>{1501}));
  EXPECT_EQ(clock_.waits, (std::vector<int>{1500, 1}));  // a disabled action does not wait
}

TEST_F(RunActionsTest, ListFilesAreDeletedAfterAllActionsAndOnlyForEnabledOnes) {
  const std::string deleted = dir_.Sub("deleted.txt");
  const std::string kept = dir_.Write("kept.txt", "x");
  const std::string disabled = dir_.Write("disabled.txt", "x");
  AddList(deleted, {"ListDelete=1"});
  AddList(kept, {"ListDelete=0"});
  AddList(disabled, {"ListDelete=1", "Enabled=0"});
  bool seen_by_later_action = false;
  AddProbe({}, [&] { seen_by_later_action = std::filesystem::exists(deleted); });
  item_->ReportedFiles.emplace_back("/data/a.txt", 0.0, 1, kStateAdded);
  item_->RunActions();
  EXPECT_TRUE(seen_by_later_action);
  EXPECT_FALSE(std::filesystem::exists(deleted));
  EXPECT_EQ(ReadFileText(kept), "/data/a.txt\r\n");
  EXPECT_EQ(ReadFileText(disabled), "x");

  // An empty run writes nothing, and still deletes.
  item_->ReportedFiles.clear();
  dir_.Write("deleted.txt", "left over");
  item_->RunActions();
  EXPECT_FALSE(std::filesystem::exists(deleted));
  EXPECT_EQ(ReadFileText(kept), "/data/a.txt\r\n");
}

TEST_F(RunActionsTest, AStopDuringAnActionEndsTheRunAndKeepsTheLists) {
  const std::string list = dir_.Write("list.txt", "x");
  for (bool stop_in_last_action : {false, true}) {
    item_ = std::make_unique<TestItem>(services_);
    AddList(list, {"ListDelete=1", "ListParams=%Name"});
    TestItem* item = item_.get();
    AddProbe({}, [item] { item->RequestTerminate(); });
    ProbeAction* later = stop_in_last_action ? nullptr : AddProbe();
    item_->ReportedFiles.emplace_back("/data/a.txt", 0.0, 1, kStateAdded);
    item_->RunActions();
    if (later != nullptr) {
      EXPECT_TRUE(later->ran_at.empty());
    }
    EXPECT_EQ(ReadFileText(list), "a.txt\r\n") << stop_in_last_action;
  }
}

TEST_F(RunActionsTest, AStopDuringADelayEndsTheRunBeforeThatAction) {
  ProbeAction* delayed = AddProbe({"DelayBefore=60000"});
  TestItem* item = item_.get();
  clock_.on_wait = [item] { item->RequestTerminate(); };
  item_->RunActions();
  EXPECT_EQ(clock_.waits, (std::vector<int>{60000}));
  EXPECT_TRUE(delayed->ran_at.empty());
}

TEST_F(RunActionsTest, AFailingActionDoesNotStopTheOthers) {
  AddProbe({}, [] { throw std::runtime_error("broken"); });
  ProbeAction* after = AddProbe();
  item_->RunActions();
  EXPECT_EQ(after->ran_at.size(), 1u);
}

// An item that reports, once, every file of a real directory as added.
class FolderItem final : public BaseMonitoring {
 public:
  FolderItem(Services& services, std::string folder)
      : BaseMonitoring(false, services), folder_(std::move(folder)) {}
  uint8_t Check() override {
    if (reported_) return 0;
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
      names.push_back(entry.path().string());
    }
    std::sort(names.begin(), names.end());
    for (const std::string& n : names) ReportedFiles.emplace_back(n, 0.0, 1, kStateAdded);
    reported_ = true;
    return 1;
  }

 private:
  std::string folder_;
  bool reported_ = false;
};

TEST(ActionsEndToEndTest, AFiringItemWritesItsListHandsItToProgramsThenDeletesIt) {
  TempDir dir;
  dir.Write("in/b.txt", "b");
  dir.Write("in/a b.txt", "a");
  const std::string list = dir.Sub("list.txt");
  const std::string record = dir.Sub("args.txt");
  SetEnvironment("RECORD_ARGS_FILE", record);
  Services services;
  auto item = std::make_shared<FolderItem>(services, dir.Sub("in"));
  item->ParseBlock(Block({
      "Interval=3600",
      "Action=0", ("ListName=" + list).c_str(), "ListParams=%Name", "ListDelete=1",
      "Action=1", ("Command=" + RecordArgsProgram()).c_str(),
      ("Params=--list " + list + " %(%Name %)").c_str(), "Wait=1",
      // The list still exists for a later action of the same run.
      "Action=4", "OpIndex=0", ("OpSource=" + list).c_str(),
      ("OpDestination=" + dir.Sub("copy.txt")).c_str(), "ShowProgress=0",
  }));
  ASSERT_EQ(item->Actions().size(), 3u);
  auto tracker = std::make_shared<ThreadTracker>();
  BaseMonitoring::Start(item, tracker);
  EXPECT_TRUE(WaitUntil([&] {
    return std::filesystem::exists(dir.Sub("copy.txt")) && !std::filesystem::exists(list);
  }));
  item->RequestTerminate();
  EXPECT_TRUE(tracker->WaitIdle(20000));
  UnsetEnvironment("RECORD_ARGS_FILE");

  EXPECT_EQ(RecordedStarts(record),
            (std::vector<std::vector<std::string>>{{"--list", list, "a b.txt", "b.txt"}}));
  EXPECT_EQ(ReadFileText(dir.Sub("copy.txt")), "a b.txt\r\nb.txt\r\n");
}

}  // namespace
}  // namespace sentrel
