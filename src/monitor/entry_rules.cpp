#include "monitor/entry_rules.h"

#include "monitor/chnotify.h"

namespace sentrel {
namespace {

bool Dots(const DirEntryInfo& e) { return e.name == "." || e.name == ".."; }

}  // namespace

Selection EntryRules::Seen(const DirEntryInfo& e) const {
  return !count_hidden && e.hidden ? Selection::kHidden : Selection::kTaken;
}

Selection EntryRules::Descends(const DirEntryInfo& e, size_t depth) const {
  if (Dots(e)) return Selection::kDots;
  if (!subdir) return Selection::kNoSubdir;
  if (!MatchesAnyMask(dir_masks, e.name)) return Selection::kNotInDirMask;
  if (MatchesAnyMask(exclude_dir_masks, e.name)) return Selection::kExclDirMask;
  if (depth > kMaxFolderDepth) return Selection::kTooDeep;
  return Selection::kTaken;
}

Selection EntryRules::Records(const DirEntryInfo& e) const {
  if (e.is_directory) {
    if (Dots(e)) return Selection::kDots;
    return dir_monitoring ? Selection::kTaken : Selection::kFolderEntry;
  }
  if (!MatchesAnyMask(masks, e.name)) return Selection::kNotInMask;
  if (MatchesAnyMask(exclude_masks, e.name)) return Selection::kExcludeMask;
  return Selection::kTaken;
}

std::string SelectionText(Selection s) {
  switch (s) {
    case Selection::kTaken:
      return "taken";
    case Selection::kHidden:
      return "it is hidden, and hidden entries are passed over (CountHidden=0)";
    case Selection::kDots:
      return "\".\" and \"..\" are no part of the tree";
    case Selection::kNotInMask:
      return "no mask of Mask matches its name";
    case Selection::kExcludeMask:
      return "a mask of ExcludeMask matches its name";
    case Selection::kFolderEntry:
      return "it is a folder, and folders are reported only with DirMonitoring=1";
    case Selection::kNoSubdir:
      return "subfolders are not walked (Subdir=0), only the item's own folder";
    case Selection::kNotInDirMask:
      return "no mask of DirMask matches its name, so the walk does not go into it";
    case Selection::kExclDirMask:
      return "a mask of ExclDirMask matches its name, so the walk does not go into it";
    case Selection::kTooDeep:
      return "it lies deeper than " + std::to_string(kMaxFolderDepth) +
             " levels, where no walk goes";
  }
  return std::string();
}

}  // namespace sentrel
