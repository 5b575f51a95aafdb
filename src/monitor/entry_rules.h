#ifndef SENTREL_MONITOR_ENTRY_RULES_H_
#define SENTREL_MONITOR_ENTRY_RULES_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/masks.h"
#include "platform/dir_list.h"

namespace sentrel {

// Why a directory item's walk takes an entry or passes over it.
enum class Selection : uint8_t {
  kTaken,
  kHidden,        // hidden, and "CountHidden" is off
  kDots,          // "." or "..": never a folder of the tree
  kNotInMask,     // a file that no mask of "Mask" matches
  kExcludeMask,   // a file that a mask of "ExcludeMask" matches
  kFolderEntry,   // a folder, recorded only with "DirMonitoring"
  kNoSubdir,      // a folder, walked only with "Subdir"
  kNotInDirMask,  // a folder that no mask of "DirMask" matches
  kExclDirMask,   // a folder that a mask of "ExclDirMask" matches
  kTooDeep,       // a folder deeper than any walk goes
};

// The rules by which a directory item's walk chooses what it looks at,
// walks into and records. The walk and every explanation of it ask here,
// so that what is said is what is done.
struct EntryRules {
  MaskList masks;
  MaskList exclude_masks;
  MaskList dir_masks;
  MaskList exclude_dir_masks;
  bool subdir = false;
  bool dir_monitoring = false;
  bool count_hidden = true;

  // Whether the walk looks at the entry at all.
  Selection Seen(const DirEntryInfo& e) const;
  // Whether the walk goes into the folder `e`, met in a folder `depth`
  // levels down from the root's (the root's own entries are at depth 1). A
  // folder already being walked higher up (a loop of mounts) is passed over
  // besides.
  Selection Descends(const DirEntryInfo& e, size_t depth) const;
  // Whether the walk records the entry, and so can report it.
  Selection Records(const DirEntryInfo& e) const;
};

// A Selection in words, for the user: "no mask of Mask matches it".
std::string SelectionText(Selection s);

}  // namespace sentrel

#endif  // SENTREL_MONITOR_ENTRY_RULES_H_
