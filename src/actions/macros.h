#ifndef SENTREL_ACTIONS_MACROS_H_
#define SENTREL_ACTIONS_MACROS_H_

#include <string>
#include <string_view>
#include <vector>

#include "core/file_data.h"
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

// An expanded text in which every character that came from a reported file
// (a path or a piece of it, a time, a size) is marked. Splitting it into
// program arguments treats the marked characters as plain text, so a file
// name can never end an argument, open a quote or start another argument.
struct MarkedText {
  std::string text;
  std::vector<bool> literal;  // one flag per character of `text`
  // Some of the text describes the placeholder record: no file was reported
  // for it to describe.
  bool placeholder = false;
};

// ExpandForBatch, with the characters taken from the files marked.
int ExpandForBatch(const FileList& files, MarkedText& result, std::string_view format,
                   int start, int count, const Services& services);

// The record the expansion stands on when no file was reported. Its name,
// [D:]\[P]\[N].[E], is split at its own backslash whatever the platform's
// separator: "%Path" gives [D:]\[P] and "%Name" [N].[E].
const FileData& PlaceholderRecord();

}  // namespace sentrel

#endif  // SENTREL_ACTIONS_MACROS_H_
