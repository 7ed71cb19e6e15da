#!/bin/sh
# Runs one Windows program under Wine for ctest and test discovery: 64-bit, or with WINE_TEST_BITS=32 the
# 32-bit loader in a WoW64 prefix.
# Every build tree has a prefix of its own (WINE_TEST_PREFIX), cloned from a template prefix that is built
# once per machine; one wineserver is kept alive between tests so that each test does not pay Wine's start.
: "${WINE_TEST_PREFIX:?set WINE_TEST_PREFIX}"
here=$(dirname "$0")
. "$here/wine-env.sh"
export WINEPREFIX="$WINE_TEST_PREFIX"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-winemenubuilder.exe=d;mscoree=d;mshtml=d}"
export LANG="${MORIX_TEST_LANG:-C.UTF-8}"
# No display: a message box returns at once instead of waiting for a click. Only window tests keep
# the virtual display that wine-display-run.sh made for them.
[ -n "${WINE_RUN_DISPLAY:-}" ] || unset DISPLAY WAYLAND_DISPLAY
"$here/wine-prefix.sh" "$WINEPREFIX" || exit 1
# The program's output goes through a file, not ctest's pipe: processes that Wine starts on the side
# (explorer.exe, conhost.exe, services) inherit these descriptors and would keep ctest waiting.
out=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX")
# Under load, Wine now and then ends a program in its own start-up, before the program ran a line: a
# failure with no output at all, which no test gives (a test program always reports). Such a start is
# tried again, at most twice; every other end is the result.
attempt=1
while :; do
  timeout --kill-after=5 "${WINE_RUN_TIMEOUT:-900}" "$wine_loader" "$@" >"$out" 2>&1
  rc=$?
  if [ $rc -eq 0 ] || [ -s "$out" ] || [ $rc -eq 124 ] || [ $attempt -ge 3 ]; then
    break
  fi
  echo "wine-run.sh: $1 ended with code $rc and no output in its start-up; starting it again (attempt $((attempt + 1)))" >&2
  attempt=$((attempt + 1))
done
cat "$out"
rm -f "$out"
exit $rc
