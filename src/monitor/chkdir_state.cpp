#include <string>

#include "monitor/chkdir.h"
#include "monitor/state_file.h"

// What the directory item keeps across runs: the settings that decide its
// snapshot, and the snapshot itself.

namespace sentrel {

std::string CheckDirThread::StateSettings() const {
  // What the snapshot holds, and how its entries were chosen and recorded;
  // the rest (conditions, Inverse, Break, actions) only decides what is
  // done with a comparison, and may change between runs.
  std::string text = BaseMonitoring::StateSettings();
  for (const StringParam* p : {mask_, exclude_mask_, dir_mask_, excl_dir_mask_}) {
    text += p->Name() + "=" + p->Value() + "\n";
  }
  for (const BoolParam* p : {subdir_, dir_monitoring_, count_hidden_, store_prev_info_,
                             ignore_added_}) {
    text += p->Name() + "=" + (p->Value() ? "1" : "0") + "\n";
  }
  text += condition_type_->Name() + "=" + std::to_string(condition_type_->Value()) + "\n";
  return text;
}

void CheckDirThread::WriteState(StateWriter& out) const {
  out.PutValue(hash_seed_);
  snapshot_.Save(out);
}

bool CheckDirThread::ReadState(StateReader& in, std::string& why) {
  uint64_t seed = 0;
  Snapshot loaded;
  if (!in.GetValue(seed) || !loaded.Load(in)) {
    // A damaged file usually says so by its checksum.
    if (in.Skip(why)) why = "is damaged (its content does not hold together)";
    return false;
  }
  if (!in.Finish(why)) return false;
  if (loaded.has_records() != (store_prev_info_->Value() && condition_type_->Value() == 0)) {
    why = "is damaged (its content does not hold together)";
    return false;
  }
  hash_seed_ = seed;
  snapshot_ = std::move(loaded);
  return true;
}

}  // namespace sentrel
