#!/usr/bin/env bash
# The trace viewer as a person runs it: attached to a channel of its own while
# the demo runs, it records the demo's lines to a file and stops cleanly on
# SIGTERM; a second viewer on the same channel is refused; the recording gives
# a summary and a timeline; mistakes on the command line are refused with
# their reason and a non-zero exit.
# Usage: trace-viewer-cli.sh TRACE_VIEWER BASECOMMS_DEMO
set -uo pipefail
viewer=$1
demo=$2
suffix="-bcviewer-$$"
work=$(mktemp -d)
viewerPid=""
cleanup() {
  [ -n "$viewerPid" ] && kill -KILL "$viewerPid" 2>/dev/null
  "$viewer" --suffix "$suffix" --remove
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# expect CODE TEXT command...: the command exits with CODE and prints TEXT (stdout or stderr).
expect() {
  local code=$1 text=$2
  shift 2
  local output
  output=$("$@" 2>&1)
  local got=$?
  [ "$got" -eq "$code" ] || fail "$* exited $got, not $code: $output"
  grep -qF -- "$text" <<<"$output" || fail "$* did not say \"$text\": $output"
}

"$viewer" --suffix "$suffix" --remove  # left by a killed run
"$viewer" --suffix "$suffix" -q -o "$work/recorded.txt" --no-time &
viewerPid=$!
# The viewer has attached once the channel's mapping exists; it switches
# tracing on right after (a moment is left for that).
for _ in $(seq 100); do [ -e "/dev/shm/_QTM_TraceOutput$suffix" ] && break; sleep 0.1; done
sleep 0.3
expect 1 "already has a viewer" "$viewer" --suffix "$suffix" -q -o "$work/second.txt"
BASECOMMS_TRACE_SUFFIX=$suffix "$demo" >"$work/demo.txt" 2>&1 || fail "the demo failed: $(cat "$work/demo.txt")"
kill -TERM "$viewerPid"
wait "$viewerPid" || fail "the viewer did not stop cleanly on SIGTERM"
viewerPid=""

for line in "Component: " "Request: " "Result: " "ParallelCommunication::Initialise()"; do
  grep -qF -- "$line" "$work/recorded.txt" || fail "no \"$line\" line recorded from the demo"
done
expect 0 "target 0: components" "$viewer" --input "$work/recorded.txt" --summary
expect 0 "" "$viewer" --input "$work/recorded.txt" --timeline "$work/timeline.svg"
grep -q "<svg" "$work/timeline.svg" || fail "the timeline is no SVG picture"

expect 2 "would discard every line" "$viewer" -q
expect 2 "--input needs --summary or --timeline" "$viewer" --input "$work/recorded.txt"
expect 1 "cannot open $work/missing.txt" "$viewer" --input "$work/missing.txt" --summary
expect 2 "at most" "$viewer" --suffix "$suffix" --filter ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJK

[ "$failures" -eq 0 ] && echo "trace-viewer-cli: all checks passed"
exit $((failures != 0))
