#include "monitor/state_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "temp_dir.h"

namespace sentrel {
namespace {

namespace fs = std::filesystem;

// A state of one value and one large array, saved again and again through
// one journal, as an item saves its snapshot.
class StateJournalTest : public ::testing::Test {
 protected:
  StateJournalTest() {
    for (uint64_t i = 0; i < 100000; ++i) array_.push_back(i * 7);
  }
  void Save(bool with_journal = true) {
    StateWriter out;
    std::string error;
    ASSERT_TRUE(out.Open(path_, 1, "Key=1\n", error)) << error;
    out.PutValue(tag_);
    out.PutArray(array_);
    ASSERT_TRUE(with_journal ? out.Finish(journal_, error) : out.Finish(error)) << error;
  }
  // The state as a start reads it: the tag and whether the array is the
  // one now in memory.
  bool Load(uint64_t& tag, bool& same, std::string& why) const {
    StateReader in;
    std::string settings;
    PodArray<uint64_t> back;
    if (in.Open(path_, 1, settings, why) != StateReader::Opened::kReady ||
        !in.GetValue(tag) || !in.GetArray(back) || !in.Finish(why)) {
      return false;
    }
    same = back.size() == array_.size() &&
           std::equal(back.data(), back.data() + back.size(), array_.data());
    return true;
  }

  TempDir dir_;
  std::string path_ = dir_.Sub("s.state");
  StateJournal journal_;
  PodArray<uint64_t> array_;
  uint64_t tag_ = 1;
};

TEST_F(StateJournalTest, ASaveWritesWhatChangedAndAStartReadsTheLatestState) {
  Save();
  EXPECT_TRUE(journal_.last_save_whole());
  const uint64_t whole = journal_.last_save_bytes();
  EXPECT_GT(whole, 800000u);
  // One value changed, then the array grew: a page or two each time.
  for (int round = 0; round < 3; ++round) {
    ++tag_;
    array_[50000 + round] = 1;
    if (round == 2) array_.push_back(5);
    Save();
    EXPECT_FALSE(journal_.last_save_whole());
    EXPECT_LT(journal_.last_save_bytes(), 3 * 4096u);
  }
  uint64_t tag = 0;
  bool same = false;
  std::string why;
  ASSERT_TRUE(Load(tag, same, why)) << why;
  EXPECT_EQ(tag, tag_);
  EXPECT_TRUE(same);

  // The last save cut short: the one before it is read, whole.
  const std::string journal = JournalPath(path_);
  fs::resize_file(journal, fs::file_size(journal) - 3);
  ASSERT_TRUE(Load(tag, same, why)) << why;
  EXPECT_EQ(tag, tag_ - 1);
  EXPECT_FALSE(same);

  // Changes past a quarter of the whole go into a new whole state, which
  // no old journal is read with.
  for (size_t i = 0; i < array_.size(); i += 300) array_[i] = 2;
  Save();
  EXPECT_TRUE(journal_.last_save_whole());
  ASSERT_TRUE(Load(tag, same, why)) << why;
  EXPECT_TRUE(same);
}

TEST_F(StateJournalTest, ADamagedWholeStateIsRefusedWithItsJournal) {
  Save();
  array_[10] = 3;
  Save();
  ASSERT_FALSE(journal_.last_save_whole());
  {
    std::fstream f(path_, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(4000);
    f.put('\x5a');
  }
  uint64_t tag = 0;
  bool same = false;
  std::string why;
  EXPECT_FALSE(Load(tag, same, why));
  EXPECT_EQ(why, "is damaged (its checksum does not match its content)");
}

}  // namespace
}  // namespace sentrel
