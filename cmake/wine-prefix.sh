#!/bin/sh
# Makes sure the Wine prefix $1 exists (cloned from the machine's template prefix) and that its
# wineserver and session processes run. Safe to call from parallel tests.
prefix="${1:?usage: wine-prefix.sh PREFIX}"
. "$(dirname "$0")/wine-env.sh"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-winemenubuilder.exe=d;mscoree=d;mshtml=d}"
# A window test's prefix boots its session on the virtual display it was given (wine-display-run.sh).
[ -n "${WINE_RUN_DISPLAY:-}" ] || unset DISPLAY WAYLAND_DISPLAY
if [ "${WINE_TEST_BITS:-64}" = 32 ] && ! "$wine_loader" --version >/dev/null 2>&1; then
  echo "wine-prefix.sh: this machine cannot execute 32-bit programs ($wine_loader does not run)" >&2
  exit 1
fi
mkdir -p "$(dirname "$WINE_TEMPLATE_PREFIX")" "$(dirname "$prefix")"
# The template is made under a name of its own and moved into place when it is finished, so that a test
# starting beside its making never clones a half-written prefix.
debugger_cleared() { # TEMPLATE VIEW
  WINEPREFIX="$1" "$wine_loader" reg.exe query 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
    /v Debugger /reg:"$2" </dev/null 2>/dev/null 8>&- | tr -d '\r' | grep -q -E 'Debugger +REG_SZ *$'
}
if [ ! -f "$WINE_TEMPLATE_PREFIX/system.reg" ]; then
  {
    flock 8
    if [ ! -f "$WINE_TEMPLATE_PREFIX/system.reg" ]; then
      making="$WINE_TEMPLATE_PREFIX.making"
      rm -rf "$making" "$WINE_TEMPLATE_PREFIX"
      WINEPREFIX="$making" "$wine_loader" wineboot -i </dev/null >/dev/null 2>&1 8>&-
      # A new prefix goes on writing its registry after wineboot returns, and may write the debugger
      # setting back over ours: wait for it first, then check.
      WINEPREFIX="$making" "$wine_server" -w 8>&-
      # With Wine's default debugger a crashing process sometimes exits with 0; without one it fails.
      # Both registry views: a 32-bit process under WoW64 reads its own.
      for view in 64 32; do
        for attempt in 1 2 3; do
          WINEPREFIX="$making" "$wine_loader" reg.exe add \
            'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d "" /f /reg:$view \
            </dev/null >/dev/null 2>&1 8>&-
          WINEPREFIX="$making" "$wine_server" -w 8>&-
          if debugger_cleared "$making" $view; then break; fi
          echo "wine-prefix.sh: the debugger of the $view-bit view is still set (attempt $attempt)" >&2
        done
      done
      WINEPREFIX="$making" "$wine_server" -w 8>&-
      mv -T "$making" "$WINE_TEMPLATE_PREFIX"
    fi
  } 8>"$WINE_TEMPLATE_PREFIX.lock"
fi
if [ ! -f "$prefix/system.reg" ]; then
  {
    flock 8
    if [ ! -f "$prefix/system.reg" ]; then
      # Hard-link the large read-only tree, but copy the registry files: wineserver rewrites them in place.
      tmp="$prefix.tmp.$$"
      cp -al "$WINE_TEMPLATE_PREFIX" "$tmp" && rm -f "$tmp"/*.reg && cp "$WINE_TEMPLATE_PREFIX"/*.reg "$tmp"/ &&
        mv -T "$tmp" "$prefix" 2>/dev/null || rm -rf "$tmp"
    fi
  } 8>"$prefix.clone.lock"
fi
# Keep one wineserver (with services.exe and explorer.exe) alive between tests. The session is booted
# with stdio on /dev/null under a lock so that no test's output pipe is inherited by it.
# wineserver -p exits 0 when it started a new server, 2 when one is already running.
{
  flock 9
  if WINEPREFIX="$prefix" "$wine_server" -p"${WINE_SERVER_LINGER:-60}" </dev/null >/dev/null 2>&1 9>&-; then
    WINEPREFIX="$prefix" "$wine_loader" wineboot </dev/null >/dev/null 2>&1 9>&-
  fi
} 9>"$prefix.lock"
[ -f "$prefix/system.reg" ]
