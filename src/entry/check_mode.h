#ifndef SENTREL_ENTRY_CHECK_MODE_H_
#define SENTREL_ENTRY_CHECK_MODE_H_

#include <cstddef>
#include <string>

#include "config/diagnostics.h"
#include "shell/message_sink.h"
#include "shell/services.h"

namespace sentrel {

// Loads `config` as a start would and starts nothing. Lists each item with
// its actions on `out` and every remark on `errors` ("FILE:LINE: ..."), then
// a verdict on `out`. Returns 0 when there is nothing to report, else 1.
int RunCheck(const std::string& config, Services& services, MessageSink& out,
             MessageSink& errors);

// Writes the remarks on `config`, one line each; past `limit` of them only
// their count, and how to see them all.
void WriteRemarks(const std::string& config, const Diagnostics& notes, MessageSink& errors,
                  size_t limit);

}  // namespace sentrel

#endif  // SENTREL_ENTRY_CHECK_MODE_H_
