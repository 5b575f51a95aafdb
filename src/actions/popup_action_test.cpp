#include "actions/popup_action.h"

#include <gtest/gtest.h>
// Xlib's macros clash with the test framework's names: it comes after it.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <unistd.h>

#include <algorithm>
#include <thread>

#include "platform/top_windows.h"
#include "xvfb.h"

namespace sentrel {
namespace {

using testing::ReadText;

class PopupActionTest : public ::testing::Test {
 protected:
  PopupActionTest() { services.messages = &sink; }
  ~PopupActionTest() override {
    // Box threads write to the sink; they must be done before it goes.
    EXPECT_TRUE(WaitUntil([] { return PopupAction::OpenBoxes() == 0; }));
  }

  std::unique_ptr<Action> MakePopup(const std::string& message, bool wait,
                                    const std::string& display) {
    auto action = CreateAction(kPopupAction);
    static_cast<PopupAction*>(action.get())->SetDisplay(display);
    OfferLine(action->Params(), "Message=" + message + "\n");
    if (wait) OfferLine(action->Params(), "PopupWait=1\n");
    return action;
  }

  CapturingSink sink;
  Services services;
  std::atomic<bool> stop{false};
  Wakeup stop_wakeup;
  RunContext ctx{services, stop, stop_wakeup};
};

TEST_F(PopupActionTest, WithoutAGraphicalSessionPrintsTitleAndMessageAsOneBlock) {
  FileList files = {FileData("/data/a.txt", 0, 1, kStateAdded),
                    FileData("/data/b.txt", 0, 1, kStateAdded),
                    FileData("/data/c.txt", 0, 1, kStateAdded)};
  MakePopup("%File changed", true, "")->Run(files, ctx);
  EXPECT_EQ(sink.Text(), "Sentrel Notification\n/data/a.txt changed\n");
}

// A display whose server is gone: every dialog program fails at once, and
// the message reaches the console instead of vanishing.
TEST_F(PopupActionTest, ADisplayThatDoesNotAnswerFallsBackToTheConsole) {
  std::string gone;
  for (int n = 999; n > 900 && gone.empty(); --n) {
    const std::string id = std::to_string(n);
    if (access(("/tmp/.X" + id + "-lock").c_str(), F_OK) != 0 &&
        access(("/tmp/.X11-unix/X" + id).c_str(), F_OK) != 0) {
      gone = ":" + id;
    }
  }
  MakePopup("%File", true, gone)->Run(FileList(), ctx);
  EXPECT_EQ(sink.Text(), "Sentrel Notification\n[D:]\\[P]\\[N].[E]\n");
}

class PopupOnDisplayTest : public PopupActionTest {
 protected:
  void SetUp() override {
    if (!xvfb.ok()) GTEST_SKIP() << "no Xvfb";
    if (!IsExecutableProgram("zenity")) GTEST_SKIP() << "no zenity";
  }
  void TearDown() override {
    if (!xvfb.ok()) return;
    // Whatever box is left is closed, so its thread ends.
    auto windows = OpenX11Windows(xvfb.display());
    for (const TopWindow& w : Boxes()) windows->RequestClose(w);
  }

  std::vector<TopWindow> Boxes() {
    std::vector<TopWindow> boxes;
    auto windows = OpenX11Windows(xvfb.display());
    if (!windows) return boxes;
    for (const TopWindow& w : windows->List()) {
      if (w.title == "Sentrel Notification") boxes.push_back(w);
    }
    return boxes;
  }

  // The command line of the program that owns the window.
  std::string OwnerCommandLine(const TopWindow& w) {
    Display* d = XOpenDisplay(xvfb.display().c_str());
    Atom pid_atom = XInternAtom(d, "_NET_WM_PID", False);
    Atom type;
    int format;
    unsigned long n, after;
    unsigned char* data = nullptr;
    long pid = 0;
    if (XGetWindowProperty(d, w.id, pid_atom, 0, 1, False, XA_CARDINAL, &type, &format, &n,
                           &after, &data) == Success && data != nullptr && n == 1) {
      pid = static_cast<long>(*reinterpret_cast<unsigned long*>(data));
    }
    if (data != nullptr) XFree(data);
    XCloseDisplay(d);
    std::string cmd = ReadText("/proc/" + std::to_string(pid) + "/cmdline");
    std::replace(cmd.begin(), cmd.end(), '\0', '\n');
    return cmd;
  }

  testing::Xvfb xvfb;
};

TEST_F(PopupOnDisplayTest, ShowsTheTextAsItIsAndWaitsUntilTheBoxIsClosed) {
  auto action = MakePopup("a <b> & c\\d", true, xvfb.display());
  std::atomic<bool> returned{false};
  std::thread item([&] {
    action->Run(FileList(), ctx);
    returned = true;
  });
  testing::StopAndJoin joiner(stop, item);
  // The first dialog of a fresh machine may take a while (font caches).
  ASSERT_TRUE(WaitUntil([&] { return Boxes().size() == 1; }, 60000));
  TopWindow box = Boxes().front();
  std::string cmd = OwnerCommandLine(box);
  EXPECT_NE(cmd.find("\n--no-markup\n"), std::string::npos) << cmd;
  EXPECT_NE(cmd.find("\n--text=a <b> & c\\d\n"), std::string::npos) << cmd;
  EXPECT_FALSE(returned.load());

  OpenX11Windows(xvfb.display())->RequestClose(box);
  EXPECT_TRUE(WaitUntil([&] { return returned.load(); }, 30000));
  EXPECT_EQ(sink.Text(), "");
}

TEST_F(PopupOnDisplayTest, WithoutWaitingEveryRunOpensAnotherBox) {
  auto action = MakePopup("%File", false, xvfb.display());
  action->Run(FileList(), ctx);
  action->Run(FileList(), ctx);
  EXPECT_TRUE(WaitUntil([&] { return Boxes().size() == 2; }, 60000)) << [&] {
    std::string t;
    for (const TopWindow& w : OpenX11Windows(xvfb.display())->List()) t += "[" + w.title + "]";
    return t;
  }();
  EXPECT_NE(OwnerCommandLine(Boxes().front()).find("\n--text=[D:]\\[P]\\[N].[E]\n"),
            std::string::npos);
}

}  // namespace
}  // namespace sentrel
