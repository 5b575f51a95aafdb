// The configuration check as a user meets it: the real executable.
#include "entry/check_mode.h"

#include <gtest/gtest.h>

#include "platform/paths.h"
#include "record_args.h"
#include "console_program_fixture.h"
#include "sentrel_run.h"
#include "temp_dir.h"

namespace sentrel {
namespace {

// The listing without its window lines, which depend on the day it runs.
std::string WithoutWindow(const std::string& out) {
  std::string kept;
  size_t start = 0;
  while (start < out.size()) {
    size_t end = out.find('\n', start);
    end = end == std::string::npos ? out.size() : end + 1;
    if (out.compare(start, 10, "  window: ") != 0) kept += out.substr(start, end - start);
    start = end;
  }
  return kept;
}

const char kDirectoryDefaults[] =
    "  files: Mask \"*\"; ExcludeMask none\n"
    "  subfolders: not walked (Subdir=0)\n"
    "  folders themselves: not reported (DirMonitoring=0)\n"
    "  hidden entries: counted (CountHidden=1)\n"
    "  real time: off (changes are found at the interval)\n"
    "  reports: files changed or added since the previous check (Conditions=1100)\n";

// One mistake of each kind a user makes, and the line that names it.
struct Mistakes {
  explicit Mistakes(const TempDir& dir) {
    const std::string missing = dir.Sub("missing");
    text = "; one mistake of each kind\n"           // 1
           "IsDirectory=1\n"                          // 2
           "FileName=~/inbox\n"                       // 3
           "Intervall=5\n"                            // 4
           "Interval = 5\n"                           // 5
           "Interval=ten\n"                           // 6
           "RunOnce=yes\n"                            // 7
           "Days=01111\n"                             // 8
           "MonthDays=40\n"                           // 9
           "WorkHours=1\n"                            // 10
           "TimeInterval=9:00 - 17:00\n"              // 11
           "Command=echo\n"                           // 12
           "Action=9\n"                               // 13
           "ListName=" + missing + "/list.txt\n"      // 14
           "Action=1\n"                               // 15
           "Command=/nonexistent/prog\n"              // 16
           "EOF\n"                                    // 17
           "IsDirectory=1\n"                          // 18
           "FileName=" + dir.str() + "\n"             // 19
           "ExcludeMask=[a-\n"                        // 20
           "EOF\n"                                    // 21
           "FileName=" + missing + "/x.log\n"         // 22
           "OlderInterval=0\n"                        // 23
           "IfChanged=3\n"                            // 24
           "EOF\n"                                    // 25
           "Comment=a block without its end\n";       // 26
    remarks = {
        "my.mon:3: warning: FileName: \"" + NativeSeparators("~/inbox/") +
            "\": \"~\" is not expanded here; write the full path of the folder",
        "my.mon:4: warning: unknown key \"Intervall\" (did you mean \"Interval\"?); the line is "
        "ignored",
        "my.mon:5: warning: blank before \"=\" or at the start: \"Interval = 5\" is not read; "
        "write \"Interval=5\"",
        "my.mon:6: warning: Interval: \"ten\" is not a number; taken as 1",
        "my.mon:7: warning: RunOnce: \"yes\" is not 1, 0, true or false; taken as 0",
        "my.mon:8: warning: Days: \"01111\" has 5 characters, fewer than 7; taken as \"0111100\"",
        "my.mon:9: warning: MonthDays: \"40\" names no day from 1 to 31; every day is allowed",
        "my.mon:10: warning: WorkHours: no TimeInterval range is left; taken as 0 (checks at any "
        "time of day)",
        "my.mon:11: warning: TimeInterval: \"9:00 - 17:00\" is not a time range such as "
        "\"09:00:00 - 17:00:00\" (start in characters 1-8, end in 12-19); it is dropped",
        "my.mon:12: warning: \"Command\" is a key of an action, but no \"Action=\" line opens one "
        "before it; the line is ignored",
        "my.mon:13: warning: Action: 9 is outside 0 to 5; taken as 0 (Create filelist)",
        "my.mon:14: warning: ListName: folder \"" + missing +
            "/\" does not exist; the list cannot be written",
        "my.mon:16: warning: Command: \"/nonexistent/prog\" is neither a program found in PATH "
        "nor a file; it cannot be started",
        "my.mon:20: error: ExcludeMask: '[a-' is an invalid mask at (4); the directory item \"" +
            dir.Root() + "\" (line 18) is left out",
        "my.mon:22: warning: FileName: folder \"" + missing + kPathSeparator +
            "\" does not exist; the file is missing until it does",
        "my.mon:22: warning: the item has no action: nothing is done when it fires",
        "my.mon:23: warning: \"OlderInterval\" is a key of directory items (IsDirectory=1), and "
        "this is a single-file item; the line is ignored",
        "my.mon:24: warning: IfChanged: 3 is outside 0 to 1; taken as 0",
        "my.mon:26: warning: this block has no EOF line before the end of the file; its lines "
        "are dropped",
    };
  }
  std::string Lines(size_t from, size_t to) const {
    std::string out;
    for (size_t i = from; i < to && i < remarks.size(); ++i) out += remarks[i] + "\n";
    return out;
  }
  std::string text;
  std::vector<std::string> remarks;
};

TEST(CheckModeTest, ListsItemsAndNamesEveryMistakeWithItsLine) {
  TempDir dir, home;
  Mistakes mistakes(dir);
  dir.Write("my.mon", mistakes.text);
  SentrelRun run = RunSentrel({"--check", "my.mon"}, dir.str(), home.str());
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.err, mistakes.Lines(0, mistakes.remarks.size()));
  EXPECT_EQ(WithoutWindow(run.out),
            "line 2: directory item \"" + NativeSeparators("~/inbox/") + "\"\n"
            "  every 1 second: Monday to Thursday, at any time\n" + kDirectoryDefaults +
            "  line 13: Create filelist (Action=0)\n"
            "  line 15: Execute program (Action=1)\n"
            "line 22: single-file item \"" + dir.Sub("missing/x.log") + "\"\n"
            "  every 60 seconds: every day, at any time\n"
            "  reports: the file when it was not written since the previous check\n"
            "  a missing file fires the item too (MustExist=1)\n"
            "  no actions\n"
            "my.mon: 2 items, 19 problems.\n");
}

TEST(CheckModeTest, ACleanFileExitsZeroAndWhatIsNoConfigurationOne) {
  TempDir dir, home;
  dir.Write("clean.mon",
            "; comments and empty lines are fine\n\n"
            "IsDirectory=1\nFileName=" + dir.str() + "\nInterval=5\nDays=0111110\n"
            "WorkHours=1\nTimeInterval=09:00:00 - 17:00:00\nTimeInterval=22:00:00 - 06:00:00\n"
            "MonthDays=1-3, 15\nPaused=1\nAction=1\nCommand=" + RecordArgsProgram() +
            "\nEnabled=0\neof\n");
  SentrelRun run = RunSentrel({"--check", "clean.mon"}, dir.str(), home.str());
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(WithoutWindow(run.out),
            "line 3: directory item \"" + dir.Root() + "\", paused (never checks)\n"
            "  every 5 seconds: Monday to Friday, on days 1-3, 15 of the month, "
            "09:00:00 to 17:00:00, 22:00:00 to 06:00:00 (over midnight)\n" + kDirectoryDefaults +
            "  line 12: Execute program (Action=1), disabled\n"
                     "clean.mon: 1 item, no problems.\n");

  dir.Write("empty.mon", "; nothing\n");
  dir.Write("binary.mon", std::string("IsDirectory=1\nEOF\n\0\x7f" "ELF", 22));
  std::filesystem::create_directory(dir.Path("folder.mon"));
  const std::pair<std::string, std::string> cases[] = {
      {"empty.mon", "empty.mon: warning: no item: no block of Key=Value lines is ended by a line EOF"},
      {"binary.mon", "binary.mon: error: is not a configuration file (it holds binary data)"},
      {"folder.mon", "folder.mon: error: is a folder, not a configuration file"},
      {"absent.mon", "absent.mon: error: cannot be opened: No such file or directory"},
  };
  for (const auto& [file, remark] : cases) {
    run = RunSentrel({"--check", file}, dir.str(), home.str());
    EXPECT_EQ(run.code, 1) << file;
    EXPECT_EQ(run.err, remark + "\n");
  }
}

// `utf8` as UTF-16 with its byte-order mark, as Windows editors save
// "Unicode" text.
std::string Utf16(const std::string& utf8, bool big_endian) {
  std::u16string units;
  for (size_t i = 0; i < utf8.size();) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    const int length = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    uint32_t code = length == 1 ? c : c & (0x3F >> (length - 1));
    for (int k = 1; k < length; ++k) code = (code << 6) | (utf8[i + k] & 0x3F);
    i += static_cast<size_t>(length);
    if (code >= 0x10000) {
      units += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
      units += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      units += static_cast<char16_t>(code);
    }
  }
  std::string bytes;
  for (char16_t u : std::u16string(1, u'\xFEFF') + units) {
    const char high = static_cast<char>(u >> 8), low = static_cast<char>(u & 0xFF);
    bytes += big_endian ? std::string{high, low} : std::string{low, high};
  }
  return bytes;
}

// A configuration saved as UTF-16 reads as the same text; one that holds
// binary data starts nothing and says why, as one that cannot be opened.
TEST(CheckModeTest, UnicodeFromWindowsEditorsIsTextAndBinaryDataNeverStarts) {
  TempDir dir, home;
  const std::string text = "; 日本, \xF0\x9F\x98\x80\r\nIsDirectory=1\r\nFileName=" + dir.Root() +
                           "\r\nMask=grüße*.txt\r\nAction=1\r\nCommand=" + RecordArgsProgram() +
                           "\r\nBogus=1\r\nEOF\r\n";
  const auto renamed = [](std::string out, const std::string& name) {
    for (size_t at; (at = out.find("utf8.mon")) != std::string::npos;) out.replace(at, 8, name);
    return out;
  };
  dir.Write("utf8.mon", text);
  dir.Write("le.mon", Utf16(text, false));
  dir.Write("be.mon", Utf16(text, true));
  const SentrelRun utf8 = RunSentrel({"--check", "utf8.mon"}, dir.str(), home.str());
  ASSERT_NE(utf8.out.find("Mask \"grüße*.txt\""), std::string::npos) << utf8.out;
  for (const char* name : {"le.mon", "be.mon"}) {
    const SentrelRun run = RunSentrel({"--check", name}, dir.str(), home.str());
    EXPECT_EQ(run.code, utf8.code) << name;
    EXPECT_EQ(run.out, renamed(utf8.out, name));
    EXPECT_EQ(run.err, renamed(utf8.err, name));
  }

  // An item before the first NUL: it must not run either.
  dir.Write("binary.mon", "IsDirectory=1\nFileName=" + dir.Root() + "\nEOF\n" +
                              std::string(1, '\0') + "\x7f" "ELF");
  ChildProcess p({SENTREL_BINARY, "binary.mon"}, dir.str(),
                 {"XDG_CONFIG_HOME=" + home.str(), "LC_ALL=C"}, ChildProcess::Errors::kApart);
  EXPECT_EQ(p.WaitExit(), 1);
  EXPECT_EQ(p.output(), kBanner + "Can not load configuration file \"binary.mon\".\n");
  EXPECT_EQ(p.errors(), "binary.mon: error: is not a configuration file (it holds binary data)\n");
}

// At a normal start the remarks go to stderr, the first ten of them, and
// stdout carries what it always carried.
TEST(CheckModeTest, AStartSaysTheFirstTenOnStderrAndKeepsStdout) {
  TempDir dir, home;
  Mistakes mistakes(dir);
  dir.Write("my.mon", mistakes.text);
  ChildProcess p({SENTREL_BINARY, "my.mon"}, dir.str(),
                 {"XDG_CONFIG_HOME=" + home.str(), "LC_ALL=C"}, ChildProcess::Errors::kApart);
  ASSERT_TRUE(p.WaitForOutput("exit.\n"));
  p.Send("x");
  EXPECT_EQ(p.WaitExit(), 0);
  EXPECT_EQ(WithoutFirstChecksLine(p.output()), "Sentrel 1.4.0 [console version]\n\n"
                                                "'[a-' is an invalid mask at (4)\n"
                                                "Configuration file \"my.mon\" is loaded.\n"
                                                "Monitoring started. Press 'X' to exit.\n"
                                                "Monitoring stopped.\n");
  EXPECT_EQ(p.errors(), mistakes.Lines(0, 10) +
                            "my.mon: 9 more problems; run \"sentrel --check my.mon\" to see them\n");
}

// Settings that are read as written but cannot be what the user meant.
TEST(CheckModeTest, WarnsOfWhatWouldNeverHappen) {
  TempDir dir, home;
  dir.Write("notes.txt", "a document, not a program");
  dir.Write("my.mon", "IsDirectory=1\nFileName=" + dir.str() + "\n"  // 1-2
                      "Mask=*.c; *.h\n"                              // 3
                      "Days=0000000\n"                                // 4
                      "Action=1\nCommand=" + dir.Sub("notes.txt") +  // 5-6
                      "\nParams=--verbose\nEOF\n"                   // 7-8
                      "FileName=" + dir.Sub("notes.txt") + "\nEOF\n");  // 9-10
  SentrelRun run = RunSentrel({"--check", "my.mon"}, dir.str(), home.str());
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.err,
            "my.mon:3: warning: Mask: the mask \" *.h\" begins with a blank, so it matches only "
            "names that do too; masks are separated by \";\" alone\n"
            "my.mon:4: warning: Days: \"0000000\" allows no day of the week; the item never "
            "checks\n"
            "my.mon:7: warning: Params: \"" + dir.Sub("notes.txt") +
                "\" is a document or an address, not a program: it is opened without "
                "parameters, so these are dropped\n"
            "my.mon:9: warning: the item has no action: nothing is done when it fires\n");
  EXPECT_NE(run.out.find("  window: never opens: no day and time it allows (the item never "
                         "checks)\n"),
            std::string::npos)
      << run.out;
}

// Two identical blocks are two items that run every action twice: a block
// pasted twice, say. One that differs in a value is an item of its own.
TEST(CheckModeTest, WarnsOfABlockWrittenTwice) {
  TempDir dir, home;
  const std::string block = "FileName=" + dir.Write("a.txt") + "\nAction=2\nMessage=hi\nEOF\n";
  dir.Write("my.mon", block + "\n" + block + "FileName=" + dir.Sub("a.txt") +
                          "\nAction=2\nMessage=hello\nEOF\n");
  SentrelRun run = RunSentrel({"--check", "my.mon"}, dir.str(), home.str());
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.err,
            "my.mon:6: warning: this block repeats the one at line 1: its item is watched twice, "
            "and each of its actions runs twice\n");
}

}  // namespace
}  // namespace sentrel
