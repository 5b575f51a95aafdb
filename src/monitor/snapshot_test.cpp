#include "monitor/snapshot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <unordered_map>

namespace sentrel {
namespace {

PathId IdOf(const std::string& path) {
  PathHasher h;
  h.Update(path);
  return h.Finish();
}

TEST(PathHasherTest, CrcIsTheStandardOneAndHashingIsIncremental) {
  EXPECT_EQ(IdOf("123456789").crc, 0xCBF43926u);
  PathHasher pieces;
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

TEST(SnapshotTest, EveryOrderOfLookupsFindsTheSameEntries) {
  const auto ids = Ids(2000);
  for (const bool shuffled : {false, true}) {
    Snapshot s;
    for (size_t i = 0; i < ids.size(); ++i) s.Append(ids[i], static_cast<Instant>(i));
    std::vector<size_t> order(ids.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    if (shuffled) std::shuffle(order.begin(), order.end(), std::mt19937(7));
    // Leave every tenth entry (in snapshot order) untouched.
    for (size_t i : order) {
      if (i % 10 == 0) continue;
      ASSERT_EQ(s.Take(ids[i]), static_cast<ptrdiff_t>(i));
    }
    EXPECT_EQ(s.Take(IdOf("/t/none")), -1);
    EXPECT_EQ(s.Take(ids[1]), -1) << "taken twice";
    std::vector<size_t> left;
    s.ForEachRemaining([&](size_t i) { left.push_back(i); });
    ASSERT_EQ(left.size(), 200u);
    for (size_t k = 0; k < left.size(); ++k) EXPECT_EQ(left[k], k * 10) << "snapshot order";
  }
}

TEST(SnapshotTest, EqualIdentitiesAreTakenFirstOneFirst) {
  const auto ids = Ids(4);
  Snapshot s;
  s.Append(ids[0], 0);
  s.Append(ids[1], 1);
  s.Append(ids[2], 2);
  s.Append(ids[1], 3);
  s.Append(ids[3], 4);
  s.Append(ids[1], 5);
  EXPECT_EQ(s.Take(ids[3]), 4);  // out of order: through the index
  EXPECT_EQ(s.Take(ids[1]), 1);
  EXPECT_EQ(s.Take(ids[1]), 3);
  EXPECT_EQ(s.Take(ids[0]), 0);
  EXPECT_EQ(s.Take(ids[1]), 5);
  EXPECT_EQ(s.Take(ids[1]), -1);
  EXPECT_EQ(s.remaining(), 1u);
}

}  // namespace
}  // namespace sentrel
