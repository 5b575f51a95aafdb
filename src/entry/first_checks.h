#ifndef SENTREL_ENTRY_FIRST_CHECKS_H_
#define SENTREL_ENTRY_FIRST_CHECKS_H_

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "monitor/basemon.h"
#include "shell/message_sink.h"

namespace sentrel {

// "Watching 12,408 folders in 3 items (first checks took 2.4 s)." once every
// running item has made its first check (items paused or waiting for their
// window are not waited for); empty while some has not.
std::string FirstChecksLine(const std::vector<std::weak_ptr<BaseMonitoring>>& items,
                            double seconds);

// "Walking: 1,024 folders, 52,311 files so far": what the first walks have
// seen.
std::string WalkProgressLine(const std::vector<std::weak_ptr<BaseMonitoring>>& items);

// On a thread of its own, writes the first-checks line to `out` when it is
// due, timed from `start`; before that, when `progress` is set (the output
// is a terminal), keeps one progress line up to date while the first walks
// take long.
void ReportFirstChecks(std::vector<std::weak_ptr<BaseMonitoring>> items, MessageSink& out,
                       bool progress, std::chrono::steady_clock::time_point start);

}  // namespace sentrel

#endif  // SENTREL_ENTRY_FIRST_CHECKS_H_
