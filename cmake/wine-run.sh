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
timeout --kill-after=5 "${WINE_RUN_TIMEOUT:-900}" "$wine_loader" "$@" >"$out" 2>&1
rc=$?
cat "$out"
rm -f "$out"
exit $rc
