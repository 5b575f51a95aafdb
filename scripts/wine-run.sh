#!/usr/bin/env bash
# Runs one Windows program under Wine for ctest (the cross build's
# CMAKE_CROSSCOMPILING_EMULATOR): its output, then its exit status.
#
# Two exceptions. A program that printed nothing at all and failed never
# reached its own code (Wine could not start it: seen now and then at the
# start of a run); it is started once more, said on stderr. And when a
# Windows process ends, Wine's server gives the Unix
# process that carried it a moment to go and then ends it with SIGKILL; on a
# busy machine that moment can pass, and a test that GoogleTest had already
# reported passed is seen as killed. Only such an end is taken for what the
# test reported (said on stderr). Likewise a segmentation fault of Wine's
# own Unix side after the verdict: a thread of the program still finishing
# its exit in the C library when the process ends is sent Wine's stop signal,
# whose handler then finds its thread data gone (read from a core dump:
# about one exit in 200 under Wine 8; Windows has no such step). Any other
# signal, and a kill or a fault before the verdict, fails as before.
set -u
out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
wine "$@" >"$out" 2>"$err"
status=$?
if ((status != 0)) && [[ ! -s $out && ! -s $err ]]; then
  echo "wine-run: the program printed nothing and ended with $status: started once more" >&2
  wine "$@" >"$out" 2>"$err"
  status=$?
fi
cat "$out"
cat "$err" >&2
if ((status == 128 + 9 || status == 128 + 11)) && grep -q '^\[  PASSED  \]' "$out" &&
   ! grep -q '^\[  FAILED  \]' "$out"; then
  echo "wine-run: Wine's process ended by signal $((status - 128)) after GoogleTest reported" \
    "it passed; taken as passed" >&2
  exit 0
fi
exit "$status"
