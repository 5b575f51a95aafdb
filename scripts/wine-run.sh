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
# test reported (said on stderr); any other signal, and a kill before the
# verdict, fails as before.
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
if ((status == 128 + 9)) && grep -q '^\[  PASSED  \]' "$out" && ! grep -q '^\[  FAILED  \]' "$out"; then
  echo "wine-run: Wine ended the process with SIGKILL after GoogleTest reported it passed;" \
    "taken as passed" >&2
  exit 0
fi
exit "$status"
