#include "config/line_remarks.h"

#include <gtest/gtest.h>

namespace sentrel {
namespace {

// Lines nobody took, explained from a table of keys like the one the loader
// builds from the real items and actions.
TEST(LineRemarksTest, ExplainsWhereAKeyBelongsAndWhatItProbablyMeant) {
  LineRemarks remarks;
  remarks.Add(LineRemarks::kFileItem, {"FileName", "Interval", "IfChanged"});
  remarks.Add(LineRemarks::kDirectoryItem, {"FileName", "Interval", "Mask"});
  remarks.Add(LineRemarks::kFirstAction << 0, {"Action", "Enabled", "ListName"}, "Create filelist");
  remarks.Add(LineRemarks::kFirstAction << 5, {"Action", "Enabled", "killTitleMask"},
              "Terminate Program");
  LineRemarks::Place in_list{1, 0, 7, false}, older{0, -1, 0, true};

  EXPECT_EQ(remarks.Explain("killTitleMask=*\n", in_list),
            "\"killTitleMask\" is not a key of Create filelist (Action=0), opened at line 7, but "
            "of Terminate Program (Action=5); the line is ignored");
  EXPECT_EQ(remarks.Explain("killTitleMask=*\n", older),
            "\"killTitleMask\" is a key of Terminate Program (Action=5), which the older form of "
            "this block (FileList=, Execute=...) does not have; the line is ignored");
  EXPECT_EQ(remarks.Explain("Mask=*.txt\n", older),
            "\"Mask\" is a key of directory items (IsDirectory=1), and this is a single-file "
            "item; the line is ignored");
  EXPECT_EQ(remarks.Explain("Interval\n", in_list),
            "\"Interval\" has no \"=\" and value; the line is ignored");
  EXPECT_EQ(remarks.Explain("\xEF\xBB\xBFInterval=5\n", in_list),
            "the file begins with a byte-order mark, which hides the key of this line; save the "
            "file without it");
  EXPECT_EQ(remarks.Explain(" \t\n", in_list), "");
  // A slip of one or two letters is caught; a different word is not taken
  // for a key.
  EXPECT_EQ(remarks.Nearest("FielName"), "FileName");
  EXPECT_EQ(remarks.Nearest("listname"), "ListName");
  EXPECT_EQ(remarks.Nearest("Mast"), "Mask");
  EXPECT_EQ(remarks.Nearest("Colour"), "");
}

}  // namespace
}  // namespace sentrel
