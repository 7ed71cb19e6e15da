#!/bin/sh
# Runs one Windows test program under Wine on a virtual X display, for the few tests that need real
# windows. The display, and the Wine session of the prefix that only these tests use, live for this one
# run. Exits 77 (ctest's skip code here) when no virtual display can be had.
: "${WINE_TEST_PREFIX:?set WINE_TEST_PREFIX}"
here=$(dirname "$0")
if ! command -v xvfb-run >/dev/null 2>&1; then
  echo "xvfb-run is not installed: window tests skipped"
  exit 77
fi
out=$(mktemp "${TMPDIR:-/tmp}/wine-display-run.XXXXXX")
WINE_RUN_DISPLAY=1 WINE_SERVER_LINGER=10 timeout --kill-after=5 "${WINE_RUN_TIMEOUT:-300}" \
  xvfb-run -a -s "-screen 0 1024x768x24" "$here/wine-run.sh" "$@" >"$out" 2>&1
rc=$?
# The session was bound to the display that has just gone: end it, so that no later run inherits it.
WINEPREFIX="$WINE_TEST_PREFIX" /usr/lib/wine/wineserver64 -k >/dev/null 2>&1
WINEPREFIX="$WINE_TEST_PREFIX" timeout 30 /usr/lib/wine/wineserver64 -w >/dev/null 2>&1
cat "$out"
if [ $rc -ne 0 ] && grep -q "Xvfb failed to start" "$out"; then
  echo "no virtual display could be started: window tests skipped"
  rc=77
fi
rm -f "$out"
exit $rc
