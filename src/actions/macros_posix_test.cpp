// Macros over Linux names, and their text split by the shell's rules.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "actions/macros.h"
#include "platform/process.h"

namespace sentrel {
namespace {

TEST(MacroPathTest, ABackslashInALinuxNameIsNoSeparator) {
  Services services;
  const FileData odd{"/data/x\\y.txt", 0, 0, kStateNone};
  EXPECT_EQ(ExpandForFile(odd, "%Name", services), "x\\y.txt");
  EXPECT_EQ(ExpandForFile(odd, "%File=\"N\"", services), "x\\y");
  EXPECT_EQ(ExpandForFile(odd, "%Path", services), "/data");
}

TEST(MacroArgumentsTest, FileTextIsMarkedSoItStaysInsideItsShellArgument) {
  Services services;
  FileList hostile = {{"/in/x\" \"--rm 'y' $(id) z\\", 0, 7, kStateAdded},
                      {"/in/two words", 0, 8, kStateAdded}};
  MarkedText out;
  EXPECT_EQ(ExpandForBatch(hostile, out, "-o \"%File\" %(%Name %)%Chr=\"34\"%Size\"", 0, 0,
                           services),
            2);
  ASSERT_EQ(out.literal.size(), out.text.size());
  EXPECT_EQ(SplitArguments(out.text, out.literal),
            (std::vector<std::string>{"-o", hostile[0].Name, "x\" \"--rm 'y' $(id) z\\",
                                      "two words", "7"}));
}

}  // namespace
}  // namespace sentrel
