#ifndef SENTREL_TESTS_SENTREL_RUN_H_
#define SENTREL_TESTS_SENTREL_RUN_H_

// Test support: the sentrel executable run to its end, as from a shell.

#include <string>
#include <vector>

#include "child_process.h"

namespace sentrel {

struct SentrelRun {
  int code = -1;
  std::string out, err;
};

// Runs sentrel with `args` in `cwd`, with its settings store in `settings`
// (so the user's own play no part) and the C locale; returns when it ends.
inline SentrelRun RunSentrel(const std::vector<std::string>& args, const std::string& cwd,
                             const std::string& settings) {
  std::vector<std::string> argv = {SENTREL_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  ChildProcess p(argv, cwd, {"XDG_CONFIG_HOME=" + settings, "LC_ALL=C"},
                 ChildProcess::Errors::kApart);
  SentrelRun run;
  run.code = p.WaitExit();
  run.out = p.output();
  run.err = p.errors();
  return run;
}

}  // namespace sentrel

#endif  // SENTREL_TESTS_SENTREL_RUN_H_
