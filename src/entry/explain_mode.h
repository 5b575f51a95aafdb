#ifndef SENTREL_ENTRY_EXPLAIN_MODE_H_
#define SENTREL_ENTRY_EXPLAIN_MODE_H_

#include <string>

#include "shell/message_sink.h"
#include "shell/services.h"

namespace sentrel {

// Loads `config` as a start would and starts nothing; says on `out`, for
// each item, whether `path` lies where it looks, which rule takes or leaves
// it, and what the first check of a run and the later checks would do with
// it. Returns 0 when some item would report it (a check now, or a later
// check when it changes as the item's conditions ask), else 1.
int RunExplain(const std::string& path, const std::string& config, Services& services,
               MessageSink& out, MessageSink& errors);

}  // namespace sentrel

#endif  // SENTREL_ENTRY_EXPLAIN_MODE_H_
