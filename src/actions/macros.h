#ifndef SENTREL_ACTIONS_MACROS_H_
#define SENTREL_ACTIONS_MACROS_H_

#include <string>
#include <string_view>

#include "monitor/file_data.h"
#include "shell/services.h"

namespace sentrel {

// Expands the macros of an action text for one reported file.
std::string ExpandForFile(const FileData& record, std::string_view text,
                          const Services& services);

// Appends to `result` the expansion of `format` for files[start] onwards
// (`count` records, or all to the end when `count` <= 0), repeating "%( ... %)"
// groups per record. Returns the number of records used, or 1 when none.
int ExpandForBatch(const FileList& files, std::string& result, std::string_view format,
                   int start, int count, const Services& services);

}  // namespace sentrel

#endif  // SENTREL_ACTIONS_MACROS_H_
