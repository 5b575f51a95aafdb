// A state saved again and again through its journal, as an item saves its
// snapshot. The input says what changes between saves (values set, the
// array grown or shrunk) and how the journal is damaged at the end (cut
// short, or one byte changed). Read back, the state must be the last save
// when nothing was damaged, and otherwise one of the saves since the last
// whole one (a record that does not check out ends the journal there) or
// refused: never anything else.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzzed_state.h"
#include "monitor/pod_array.h"
#include "monitor/state_file.h"

namespace {

// Large enough that saves go through the journal rather than whole.
constexpr size_t kBaseLength = 10000;
constexpr size_t kMaxLength = 40000;

struct Saved {
  uint64_t tag;
  std::vector<uint64_t> array;
};

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return at_ >= size_; }
  uint32_t Next(int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) v = v << 8 | (at_ < size_ ? data_[at_++] : 0);
    return v;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

bool Save(const std::string& path, uint64_t tag, const sentrel::PodArray<uint64_t>& array,
          sentrel::StateJournal& journal) {
  sentrel::StateWriter out;
  std::string error;
  if (!out.Open(path, 1, "Key=1\n", error)) return false;
  out.PutValue(tag);
  out.PutArray(array);
  return out.Finish(journal, error);
}

bool Matches(const Saved& s, uint64_t tag, const sentrel::PodArray<uint64_t>& back) {
  return s.tag == tag && s.array.size() == back.size() &&
         std::equal(back.data(), back.data() + back.size(), s.array.begin());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = sentrel_fuzz::StatePath();
  const std::string journal_path = sentrel::JournalPath(path);
  std::remove(path.c_str());
  std::remove(journal_path.c_str());

  Input in(data, size);
  const int damage = static_cast<int>(in.Next(1) % 3);  // none, cut, changed byte
  const uint32_t damage_at = in.Next(3);
  sentrel::PodArray<uint64_t> array;
  for (size_t i = 0; i < kBaseLength; ++i) array.push_back(i * 7);
  sentrel::StateJournal journal;
  std::vector<Saved> since_whole;
  uint64_t tag = 0;
  int saves = 0;
  auto save = [&] {
    ++tag;
    if (!Save(path, tag, array, journal)) std::abort();
    if (journal.last_save_whole()) since_whole.clear();
    since_whole.push_back({tag, std::vector<uint64_t>(array.data(), array.data() + array.size())});
    ++saves;
  };
  save();
  while (!in.empty() && saves < 12) {
    const uint32_t op = in.Next(1);
    const uint32_t where = in.Next(2);
    switch (op % 4) {
      case 0:  // a run of values set
        for (uint32_t i = 0, n = op / 4 + 1; i < n && array.size() > 0; ++i) {
          array[(where + i * 97) % array.size()] = in.Next(1);
        }
        break;
      case 1:  // grown
        for (uint32_t i = 0, n = where % 3000; i < n && array.size() < kMaxLength; ++i) {
          array.push_back(i);
        }
        break;
      case 2:  // shrunk
        array.resize(array.size() - std::min<size_t>(array.size(), where % 3000));
        break;
      case 3:
        save();
        break;
    }
  }
  save();

  std::error_code ec;
  const uintmax_t journal_size = std::filesystem::file_size(journal_path, ec);
  const bool damaged = damage != 0 && !ec && journal_size > 0;
  if (damaged) {
    const uintmax_t at = damage_at % journal_size;
    if (damage == 1) {
      std::filesystem::resize_file(journal_path, at, ec);
    } else if (std::FILE* f = std::fopen(journal_path.c_str(), "r+b")) {
      std::fseek(f, static_cast<long>(at), SEEK_SET);
      const int c = std::fgetc(f);
      std::fseek(f, static_cast<long>(at), SEEK_SET);
      std::fputc((c ^ (1 << (damage_at >> 20 & 7))) & 0xff, f);
      std::fclose(f);
    }
  }

  sentrel::StateReader reader;
  std::string settings, why;
  sentrel::PodArray<uint64_t> back;
  uint64_t read_tag = 0;
  const bool loaded = reader.Open(path, 1, settings, why) == sentrel::StateReader::Opened::kReady &&
                      reader.GetValue(read_tag) && reader.GetArray(back) && reader.Finish(why);
  if (!damaged) {
    if (!loaded || !Matches(since_whole.back(), read_tag, back)) std::abort();
    return 0;
  }
  if (loaded && std::none_of(since_whole.begin(), since_whole.end(),
                             [&](const Saved& s) { return Matches(s, read_tag, back); })) {
    std::abort();
  }
  return 0;
}
