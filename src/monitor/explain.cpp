// What decides which files an item reports, in words: for the configuration
// check and for a user asking about one path. Every verdict on an entry
// comes from the rules the walk itself applies.
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

#include "monitor/basemon.h"
#include "monitor/chkdir.h"
#include "monitor/chkfile.h"
#include "monitor/find_file.h"
#include "platform/dir_list.h"
#include "platform/file_ops.h"
#include "platform/open_files.h"
#include "platform/paths.h"

namespace sentrel {
namespace {

constexpr double kMsPerDay = 86400000.0;

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// Each mask of a list between quotes, so that a blank shows.
std::string MaskListText(const StringParam& p) {
  std::string out;
  for (std::string_view piece : MaskPieces(p.Value())) {
    out += (out.empty() ? "" : " ") + Quoted(std::string(piece));
  }
  return p.Name() + " " + (out.empty() ? "none" : out);
}

std::string When(const LocalTime& t) {
  static const char* const kDays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                      "Thursday", "Friday", "Saturday"};
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s %04d-%02d-%02d at %02d:%02d:%02d",
                kDays[(t.weekday + 6) % 7], t.year, t.month, t.day, t.hour, t.minute, t.second);
  return buf;
}

// The path as the items hold theirs: absolute, with the system's
// separators, without a separator at its end.
std::string ItemStylePath(const std::string& path) {
  std::string out = NativeSeparators(AbsolutePath(path));
  while (out.size() > PathRootLength(out) && IsPathSeparator(out.back())) out.pop_back();
  return out;
}

// The first moment from `t` on that the window holds, if any.
std::optional<LocalTime> NextOpening(const ScheduleWindow& window, LocalTime t) {
  // Each step crosses one bound of a range or one midnight: a year of days
  // with a few ranges each is far within this.
  for (int step = 0; step < 2000; ++step) {
    if (window.Contains(t)) return t;
    const int64_t ms = window.MsUntilChange(t);
    if (ms < 0) return t;
    t = LocalTimeFromValue(t.value + static_cast<double>(ms) / kMsPerDay);
  }
  return std::nullopt;
}

}  // namespace

BaseMonitoring::PathVerdict BaseMonitoring::ExplainPath(const std::string&) const {
  return PathVerdict();
}

std::string BaseMonitoring::WindowOpening() const {
  const LocalTime now = services_.clock->Now();
  if (schedule_.Contains(now)) return "open now";
  const std::optional<LocalTime> next = NextOpening(schedule_, now);
  if (!next) return "never opens: no day and time it allows (the item never checks)";
  return "next opens " + When(*next);
}

bool BaseMonitoring::NeverChecks() const {
  return Status() == kStatusPaused || !NextOpening(schedule_, services_.clock->Now());
}

std::string BaseMonitoring::DescribeSelection() const {
  return "  window: " + WindowOpening() + "\n";
}

std::string CheckDirThread::ConditionsText() const {
  if (condition_type_->Value() == 1) {
    std::string text = "files last written more than " +
                       std::to_string(older_interval_->Value()) +
                       " seconds ago (ConditionType=1), at every check while they stay so";
    if (ignore_added_->Value()) {
      text += "; a file new since the first check counts from when it was seen";
    }
    return text;
  }
  std::vector<std::string> kinds;
  if (Counts(kStateChanged)) kinds.push_back("changed");
  if (Counts(kStateAdded)) kinds.push_back("added");
  if (Counts(kStateDeleted)) kinds.push_back("deleted");
  std::string text;
  for (size_t i = 0; i < kinds.size(); ++i) {
    text += (i == 0 ? "" : i + 1 == kinds.size() ? " or " : ", ") + kinds[i];
  }
  text = kinds.empty() ? "no change (Conditions=" + conditions_->Value() + ")"
                       : "files " + text + " since the previous check (Conditions=" +
                             conditions_->Value() + ")";
  if (inverse_->Value()) text += "; Inverse=1: the item fires when none of that happened";
  return text;
}

std::string CheckDirThread::DescribeSelection() const {
  std::string text =
      "  files: " + MaskListText(*mask_) + "; " + MaskListText(*exclude_mask_) + "\n";
  text += subdir_->Value() ? "  subfolders: walked to any depth (Subdir=1); " +
                                 MaskListText(*dir_mask_) + "; " + MaskListText(*excl_dir_mask_) +
                                 "\n"
                           : std::string("  subfolders: not walked (Subdir=0)\n");
  text += dir_monitoring_->Value() ? "  folders themselves: reported (DirMonitoring=1)\n"
                                   : "  folders themselves: not reported (DirMonitoring=0)\n";
  text += count_hidden_->Value() ? "  hidden entries: counted (CountHidden=1)\n"
                                 : "  hidden entries: passed over (CountHidden=0)\n";
  text += real_time_->Value() ? "  real time: on (a change wakes a check at once)\n"
                              : "  real time: off (changes are found at the interval)\n";
  if (ignore_opened_->Value()) text += "  files open in a program: held back (IgnoreOpened=1)\n";
  text += "  reports: " + ConditionsText() + "\n";
  return text + BaseMonitoring::DescribeSelection();
}

std::string CheckDirThread::RuleValue(Selection s) const {
  switch (s) {
    case Selection::kNotInMask:
      return " (" + MaskListText(*mask_) + ")";
    case Selection::kExcludeMask:
      return " (" + MaskListText(*exclude_mask_) + ")";
    case Selection::kNotInDirMask:
      return " (" + MaskListText(*dir_mask_) + ")";
    case Selection::kExclDirMask:
      return " (" + MaskListText(*excl_dir_mask_) + ")";
    default:
      return std::string();
  }
}

BaseMonitoring::PathVerdict CheckDirThread::ExplainPath(const std::string& asked) const {
  PathVerdict v;
  // The item may name its folder relative to the current one.
  std::string root = ItemStylePath(FileName().Value());
  if (!IsPathSeparator(root.back())) root.push_back(kPathSeparator);
  const std::string path = ItemStylePath(asked);
  if (path + kPathSeparator == root || path == root) {
    v.text = "  it is the item's own folder: what is in it is reported, not the folder\n";
    return v;
  }
  if (path.compare(0, root.size(), root) != 0) {
    v.text = "  it is outside the item's tree\n";
    return v;
  }
  v.inside = true;
  std::vector<std::string> parts;
  for (size_t start = root.size(); start <= path.size();) {
    size_t stop = path.find(kPathSeparator, start);
    if (stop == std::string::npos) stop = path.size();
    if (stop > start) parts.push_back(path.substr(start, stop - start));
    start = stop + 1;
  }
  auto dir = std::make_unique<DirectoryListing>();
  if (!dir->Open(root)) {
    v.text = "  the item's folder cannot be read now\n";
    return v;
  }
  // Where nothing is yet, the rules judge what would be made there: a file
  // at the end, folders on the way.
  bool exists = true;
  bool held = false, is_folder = false;
  Instant written = 0;
  std::string where = root;
  for (size_t i = 0; i < parts.size(); ++i) {
    const bool last = i + 1 == parts.size();
    DirEntryInfo e;
    const std::string here = where + parts[i];
    if (exists) {
      bool found = false;
      while (!found && dir->Next(e)) found = e.name == parts[i];
      if (!found) {
        exists = false;
        v.text += "  " + Quoted(here) + " does not exist now: judged as " +
                  (last ? "a file" : "a folder") + " made there\n";
      }
    }
    if (!exists) {
      e = DirEntryInfo();
      e.name = parts[i];
      e.is_directory = !last;
      e.hidden = NewEntryHidden(parts[i]);
    }
    Selection s = rules_.Seen(e);
    if (s == Selection::kTaken && !last) {
      if (!e.is_directory) {
        v.text += "  " + Quoted(here) +
                  " is not a folder (a link or a file): the walk does not go into it\n";
        return v;
      }
      s = rules_.Descends(e, i + 1);
    }
    if (s == Selection::kTaken && last) s = rules_.Records(e);
    if (s != Selection::kTaken) {
      v.text += "  excluded at " + Quoted(here) + ": " + SelectionText(s) + RuleValue(s) + "\n";
      return v;
    }
    if (last) {
      if (exists) written = InstantOf(e.mtime_seconds, e.mtime_nanoseconds);
      is_folder = e.is_directory;
      // As the walk asks it: nobody has a folder open the way this means.
      held = exists && ignore_opened_->Value() &&
             (e.is_directory || OpenFileTable::Read().InUse(where, e.name, e.device, e.inode));
      break;
    }
    if (exists) {
      auto child = std::make_unique<DirectoryListing>();
      if (!child->OpenChild(*dir, parts[i])) {
        v.text += "  " + Quoted(here) + " cannot be read now\n";
        return v;
      }
      dir = std::move(child);
    }
    where = here + kPathSeparator;
  }
  v.text += "  included: it passes every mask and rule of the walk\n";
  if (NeverChecks()) {
    v.text += Status() == kStatusPaused ? "  but the item is paused: it never checks\n"
                                        : "  but its window never opens: it never checks\n";
    return v;
  }
  if (held && !is_folder) {
    v.text += "  it is open in a program now (IgnoreOpened=1): held back until it is closed\n";
  } else if (held) {
    // As the walk takes it: nobody can have a folder open the way this
    // means, so it counts as in use for good.
    v.text += "  never reported: a folder counts as open in a program (IgnoreOpened=1)\n";
    return v;
  }
  if (condition_type_->Value() == 1) {
    const std::string limit = std::to_string(older_interval_->Value()) + " seconds";
    if (!exists) {
      v.text += "  a file made there is reported once it was last written more than " + limit +
                " ago (ConditionType=1)" +
                (ignore_added_->Value()
                     ? "; one made after the first check counts from the check that first sees it"
                     : "") +
                "\n";
    } else if (written < OldBefore(services_.clock->RealNow())) {
      v.now = !held;
      v.text += "  last written more than " + limit +
                " ago (ConditionType=1): reported at every check while it stays so, the first "
                "included\n";
    } else {
      const double old_at =
          services_.clock->LocalValueAt(written + older_interval_->Value() * kNanosPerSecond);
      v.text += "  last written less than " + limit +
                " ago (ConditionType=1): not reported now; reported from " +
                When(LocalTimeFromValue(old_at)) + " on, unless it is written again\n";
    }
  } else {
    v.text += std::string("  first check of a run: not reported: it only takes the baseline that ") +
              "later checks compare with" +
              (SaveState().Value() ? " (with SaveState=1 and a state the last run saved, it "
                                     "compares with that state as a later check)"
                                   : "") +
              "\n";
    if (inverse_->Value()) {
      v.text += "  later checks: never reported: Inverse=1 fires the item, with no file, only "
                "when a check finds none of what Conditions=" +
                conditions_->Value() + " asks for\n";
    } else {
      const uint8_t states[] = {kStateAdded, kStateChanged, kStateDeleted};
      const char* const names[] = {"", "added", "changed", "deleted"};
      std::string when;
      for (uint8_t state : states) {
        // What is there can change or go; only where nothing is can a file
        // be added.
        if ((state == kStateAdded) == exists || !Counts(state)) continue;
        // A deletion fires the item, but only a kept name can be handed on.
        if (state == kStateDeleted && !store_prev_info_->Value()) {
          v.text += "  a deletion fires the item but is not named (StorePrevInfo=0)\n";
          continue;
        }
        v.later |= static_cast<uint8_t>(1u << state);
        when += (when.empty() ? "" : " or ") + std::string(names[state]);
      }
      const std::string verdict =
          exists ? (when.empty() ? "not reported" : "reported when it is " + when)
                 : (when.empty() ? "a file made there is not reported"
                                 : "a file made there is reported, as added");
      v.text += "  later checks: " + verdict + "; the item reports " + ConditionsText() + "\n";
      if (v.later && break_->Value()) {
        v.text += "  with Break=1 a check reports only the first file it finds\n";
      }
    }
  }
  if (!Schedule().Contains(services_.clock->Now())) {
    v.now = false;
    v.text += "  the window is closed now: a check now (--once) checks nothing\n";
  }
  v.reported = v.now || v.later;
  v.text += "  window: " + WindowOpening() + "\n";
  return v;
}

std::string CheckFileThread::DescribeSelection() const {
  std::string text =
      if_changed_->Value() == 1
          ? "  reports: the file when it was written since the previous check (IfChanged=1)\n"
          : "  reports: the file when it was not written since the previous check\n";
  if (must_exist_->Value()) text += "  a missing file fires the item too (MustExist=1)\n";
  return text + BaseMonitoring::DescribeSelection();
}

BaseMonitoring::PathVerdict CheckFileThread::ExplainPath(const std::string& asked) const {
  PathVerdict v;
  if (ItemStylePath(asked) != ItemStylePath(FileName().Value())) {
    v.text = "  it is not the item's file\n";
    return v;
  }
  v.inside = true;
  if (NeverChecks()) {
    v.text = Status() == kStatusPaused ? "  it is the item's file, but the item is paused\n"
                                       : "  it is the item's file, but its window never opens\n";
    return v;
  }
  v.reported = true;
  v.text = "  it is the item's file\n" + DescribeSelection();
  FoundFile found;
  std::string first;
  if (!FindWatchedFile(FileName().Value(), found)) {
    first = "not reported: the file is missing";
  } else if (ignore_first_->Value()) {
    first = "not reported: IgnoreFirst=1";
  } else {
    const bool written =
        WrittenAtFirstCheck(InstantOf(found.mtime_sec, found.mtime_nsec));
    v.now = written == (if_changed_->Value() == 1);
    first = std::string(v.now ? "reported" : "not reported") + ": it was " +
            (written ? "" : "not ") + "written within the last " +
            std::to_string(Interval().Value()) + " seconds";
    if (v.now && check_locking_->Value()) first += ", unless it is open in a program";
  }
  if (!Schedule().Contains(services_.clock->Now())) {
    v.now = false;
    first += "; but the window is closed now: a check now (--once) checks nothing";
  }
  v.text += "  first check of a run: " + first + "\n";
  return v;
}

}  // namespace sentrel
