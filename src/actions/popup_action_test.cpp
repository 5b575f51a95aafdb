#include "actions/popup_action.h"

#include <gtest/gtest.h>

#include "popup_action_fixture.h"

namespace sentrel {
namespace {

TEST_F(PopupActionTest, WithoutAGraphicalSessionPrintsTitleAndMessageAsOneBlock) {
  FileList files = {FileData("/data/a.txt", 0, 1, kStateAdded),
                    FileData("/data/b.txt", 0, 1, kStateAdded),
                    FileData("/data/c.txt", 0, 1, kStateAdded)};
  MakePopup("%File changed", true, "")->Run(files, ctx);
  EXPECT_EQ(sink.Text(), "Sentrel Notification\n/data/a.txt changed\n");
}

}  // namespace
}  // namespace sentrel
