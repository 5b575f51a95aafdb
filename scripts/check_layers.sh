#!/usr/bin/env bash
# Every include under src/ runs from a room to the same room or one below it:
#   entry > loader > monitor > actions > core > config > lang, shell > platform
# A platform-only test sits beside its platform file yet exercises the rooms
# above (an item under a time zone, a watcher on inotify), so tests are
# allowed to reach up; the code they test is not.
# Prints every include that runs upward and exits 1 if there is one.
set -euo pipefail
cd "$(dirname "$0")/../src"
declare -A rank=([entry]=8 [loader]=7 [monitor]=6 [actions]=5 [core]=4 [config]=3
                 [lang]=2 [shell]=2 [platform]=1)
bad=0
for room in "${!rank[@]}"; do
  [[ -d $room ]] || continue
  while IFS=: read -r file line text; do
    [[ $file == *_test.cpp ]] && continue
    target=${text#*\"}
    target=${target%%/*}
    [[ -n ${rank[$target]:-} ]] || continue
    if ((rank[$target] > rank[$room])); then
      echo "src/$file:$line: $room includes $target, a room above it: $text"
      bad=1
    fi
  done < <(grep -n '^#include "[a-z]*/' "$room"/*.h "$room"/*.cpp 2>/dev/null || true)
done
for dir in */; do
  [[ -n ${rank[${dir%/}]:-} ]] || { echo "src/$dir: a room this check does not know"; bad=1; }
done
exit $bad
