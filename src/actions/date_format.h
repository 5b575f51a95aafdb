#ifndef SENTREL_ACTIONS_DATE_FORMAT_H_
#define SENTREL_ACTIONS_DATE_FORMAT_H_

#include <string>
#include <string_view>

#include "platform/regional.h"

namespace sentrel {

// Appends the local date-time `value` (days since 1899-12-30, the time of day
// as the fraction) to `out`, formatted by a date-time pattern of the action
// texts ("yyyy-mm-dd hh:nn:ss", "dddd", "c", "am/pm" ...); an empty pattern
// means "c". Names, designators, separators and the "c", "ddddd",
// "dddddd", "t" and "tt" formats come from `regional`. Returns false, and
// appends nothing, for a value that is no date (not finite, or outside the
// years 1 to 9999).
bool FormatDateTime(std::string& out, std::string_view pattern, double value,
                    const RegionalSettings& regional);

}  // namespace sentrel

#endif  // SENTREL_ACTIONS_DATE_FORMAT_H_
