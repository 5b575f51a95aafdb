#include "monitor/snapshot.h"

#include <gtest/gtest.h>

#include "monitor/state_file.h"
#include "temp_dir.h"

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <unordered_map>

namespace sentrel {
namespace {

const uint64_t kSeed = PathHasher::NewSeed();

PathId IdOf(const std::string& path) {
  PathHasher h(kSeed);
  h.Update(path);
  return h.Finish();
}

TEST(PathHasherTest, CrcIsTheStandardOneAndHashingIsIncremental) {
  EXPECT_EQ(IdOf("123456789").crc, 0xCBF43926u);
  PathHasher pieces(kSeed);
  pieces.Update("/data/");
  pieces.Update("sub/");
  pieces.Update("file.txt");
  EXPECT_EQ(pieces.Finish(), IdOf("/data/sub/file.txt"));
  EXPECT_NE(IdOf("/data/File.txt"), IdOf("/data/file.txt"));
}

TEST(PathHasherTest, PathsWithEqualCrcStillDiffer) {
  // Among a few hundred thousand names some pairs share their CRC-32; the
  // identity must still tell them apart.
  std::unordered_map<uint32_t, std::string> seen;
  int collisions = 0;
  std::mt19937_64 rng(42);
  for (int i = 0; i < 400000 && collisions < 3; ++i) {
    // Random names: names that differ in a few neighbouring bytes only
    // never share a CRC.
    const std::string path = "/srv/tree/" + std::to_string(rng());
    auto [it, inserted] = seen.emplace(IdOf(path).crc, path);
    if (inserted) continue;
    ++collisions;
    EXPECT_NE(IdOf(it->second), IdOf(path)) << it->second << " vs " << path;
  }
  EXPECT_GT(collisions, 0);
}

std::vector<PathId> Ids(int n) {
  std::vector<PathId> ids;
  for (int i = 0; i < n; ++i) ids.push_back(IdOf("/t/" + std::to_string(i)));
  return ids;
}

SnapshotEntry Entry(PathId id, Instant time) { return {id.crc, id.extra, time}; }

// One folder holding `ids` in two runs, with an empty subfolder between.
Snapshot OneFolder(const std::vector<PathId>& ids) {
  Snapshot s;
  const uint32_t root = s.AddFolder(kNoFolder, "", 1, 1);
  const uint32_t sub = s.AddFolder(root, "sub", 1, 2);
  s.SetRuns(sub, {SnapshotRun{0, 0, 0, 0}}, 0);
  for (size_t i = 0; i < ids.size(); ++i) s.AppendEntry(Entry(ids[i], static_cast<Instant>(i)));
  const uint32_t half = static_cast<uint32_t>(ids.size() / 2);
  s.SetRuns(root, {SnapshotRun{0, 0, half, 0}, SnapshotRun{half, 0, static_cast<uint32_t>(ids.size()) - half, 0}},
            static_cast<uint32_t>(ids.size()));
  s.LinkChildren(root, {sub});
  return s;
}

TEST(FolderMatchTest, EveryOrderOfLookupsFindsTheSameEntries) {
  const auto ids = Ids(2000);
  for (const bool shuffled : {false, true}) {
    const Snapshot s = OneFolder(ids);
    TakenSet taken(s.entry_slots());
    FolderMatch match(&s, &taken, 0);
    std::vector<size_t> order(ids.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    if (shuffled) std::shuffle(order.begin(), order.end(), std::mt19937(7));
    // Leave every tenth entry (in snapshot order) untouched.
    for (size_t i : order) {
      if (i % 10 == 0) continue;
      ASSERT_EQ(match.Take(ids[i]), static_cast<ptrdiff_t>(i));
    }
    EXPECT_EQ(match.Take(IdOf("/t/none")), -1);
    EXPECT_EQ(match.Take(ids[1]), -1) << "taken twice";
    std::vector<size_t> left;
    s.ForEachInWalkOrder(0, [&](size_t i, std::string_view) {
      if (!taken.Has(i)) left.push_back(i);
    }, [](uint32_t) {});
    ASSERT_EQ(left.size(), 200u);
    for (size_t k = 0; k < left.size(); ++k) EXPECT_EQ(left[k], k * 10) << "snapshot order";
  }
}

TEST(FolderMatchTest, EqualIdentitiesAreTakenFirstOneFirst) {
  const auto ids = Ids(4);
  const Snapshot s = OneFolder({ids[0], ids[1], ids[2], ids[1], ids[3], ids[1]});
  TakenSet taken(s.entry_slots());
  FolderMatch match(&s, &taken, 0);
  EXPECT_EQ(match.Take(ids[3]), 4);  // out of order: through the index
  EXPECT_EQ(match.Take(ids[1]), 1);
  EXPECT_EQ(match.Take(ids[1]), 3);
  EXPECT_EQ(match.Take(ids[0]), 0);
  EXPECT_EQ(match.Take(ids[1]), 5);
  EXPECT_EQ(match.Take(ids[1]), -1);
  EXPECT_FALSE(taken.Has(2));
}

TEST(SnapshotTest, CompactedKeepsWalkOrderNamesAndSizesAndDropsWhatWentAway) {
  Snapshot s(true);
  const uint32_t root = s.AddFolder(kNoFolder, "", 1, 1);
  const uint32_t x = s.AddFolder(root, "x", 1, 2);
  const uint32_t y = s.AddFolder(root, "y", 1, 3);
  auto add = [&](const std::string& name, int64_t size, uint64_t) {
    s.AppendEntry(Entry(IdOf(name), size), size, name);
  };
  s.SetRuns(y, {SnapshotRun{0, 0, 0, 0}}, 0);
  const uint64_t x_names = s.names_end();
  add("x1", 11, x_names);
  add("x2", 12, x_names);
  s.SetRuns(x, {SnapshotRun{0, x_names, 2, 0}}, 2);
  const uint64_t a_names = s.names_end();
  add("a", 1, a_names);
  const uint64_t b_names = s.names_end();
  add("b", 2, b_names);
  s.SetRuns(root, {SnapshotRun{2, a_names, 1, 0}, SnapshotRun{3, b_names, 1, 0}, SnapshotRun{4, 0, 0, 0}}, 2);
  s.LinkChildren(root, {x, y});
  s.SetLiveEntries(4);
  s.DropTree(x);
  EXPECT_EQ(s.size(), 2u);
  s.LinkChildren(root, {y});  // as a check that listed the root again does

  auto order = [](const Snapshot& snap) {
    std::string out;
    std::function<void(uint32_t)> walk = [&](uint32_t f) {
      snap.ForEachInWalkOrder(f, [&](size_t i, std::string_view name) {
        out += snap.FolderPath(f, "/") + std::string(name) + "=" +
               std::to_string(snap.record_size(i)) + " ";
      }, walk);
    };
    walk(0);
    return out;
  };
  // The root's runs still say two runs around a child: y now stands where x stood.
  const Snapshot c = s.Compacted();
  EXPECT_EQ(order(c), order(s));
  EXPECT_EQ(c.size(), 2u);
  EXPECT_EQ(c.folder_slots(), 2u);
  EXPECT_EQ(c.garbage_entries(), 0u);

  // Saved with its garbage and read back, it is the same tree; links that
  // lead in a circle or outside the arrays are refused.
  TempDir dir;
  auto save = [&](const Snapshot& snap) {
    StateWriter out;
    std::string error;
    ASSERT_TRUE(out.Open(dir.Sub("s.state"), 1, "", error)) << error;
    snap.Save(out);
    ASSERT_TRUE(out.Finish(error)) << error;
  };
  auto load = [&](Snapshot& snap) {
    StateReader in;
    std::string settings, why;
    return in.Open(dir.Sub("s.state"), 1, settings, why) == StateReader::Opened::kReady &&
           snap.Load(in) && in.Finish(why);
  };
  save(s);
  Snapshot back;
  ASSERT_TRUE(load(back));
  EXPECT_EQ(order(back), order(s));
  EXPECT_EQ(back.size(), 2u);
  EXPECT_TRUE(back.has_records());
  for (auto spoil : std::vector<std::function<void(Snapshot&)>>{
           [&](Snapshot& b) { b.folder(y).next_sibling = y; },
           [&](Snapshot& b) { b.folder(y).first_child = root; },
           [&](Snapshot& b) { b.folder(y).first_run = 1000; }}) {
    save(s);
    Snapshot bad;
    ASSERT_TRUE(load(bad));
    spoil(bad);
    save(bad);
    Snapshot refused;
    EXPECT_FALSE(load(refused));
    EXPECT_TRUE(refused.empty());
  }
}

// A partial check's records for a folder go back into the folder's old
// places when they fit them exactly; otherwise they stay where they are.
TEST(SnapshotTest, ReplaceInPlaceTakesOnlyRecordsThatFitTheOldPlaces) {
  Snapshot s(true);
  const uint32_t root = s.AddFolder(kNoFolder, "", 1, 1);
  const uint32_t x = s.AddFolder(root, "x", 1, 2);
  s.SetRuns(x, {SnapshotRun{0, 0, 0, 0}}, 0);
  // Appends `names` (sizes from `size` on) as the root's runs: the first
  // two, the child, the rest.
  auto append = [&](std::vector<std::string> names, int64_t size) {
    std::vector<SnapshotRun> runs(2);
    for (size_t i = 0; i < names.size(); ++i) {
      SnapshotRun& r = runs[i < 2 ? 0 : 1];
      if (r.count == 0) r = SnapshotRun{s.entry_slots(), s.names_end(), 0, 0};
      s.AppendEntry(Entry(IdOf(names[i]), size), size + static_cast<int64_t>(i), names[i]);
      ++r.count;
    }
    return runs;
  };
  auto listed = [&] {
    std::string out;
    s.ForEachInWalkOrder(root, [&](size_t i, std::string_view name) {
      out += std::string(name) + "=" + std::to_string(s.record_size(i)) + " ";
    }, [&](uint32_t) { out += "| "; });
    return out;
  };
  s.SetRuns(root, append({"a", "b", "c"}, 10), 3);
  s.LinkChildren(root, {x});
  const size_t slots = s.entry_slots();
  const uint64_t names = s.names_end();

  EXPECT_TRUE(s.ReplaceInPlace(root, append({"b", "a", "c"}, 20), {x}));
  EXPECT_EQ(listed(), "b=20 a=21 | c=22 ");
  EXPECT_EQ(s.entry_slots(), slots);
  EXPECT_EQ(s.names_end(), names);

  for (auto [names_now, children] :
       {std::pair<std::vector<std::string>, std::vector<uint32_t>>{{"a", "bb", "c"}, {x}},
        {{"a", "b", "c", "d"}, {x}},
        {{"a", "b", "c"}, {}}}) {
    EXPECT_FALSE(s.ReplaceInPlace(root, append(names_now, 30), children));
    EXPECT_EQ(listed(), "b=20 a=21 | c=22 ");
  }
}

}  // namespace
}  // namespace sentrel
