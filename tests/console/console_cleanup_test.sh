#!/bin/sh
# Ctrl-C on the console of a real launcher's run: the VM ends through System.exit (exit code 130) and the
# launcher's exit hook removes the temporary directory and its marker, as it does for a console close.
# Only a pseudo-terminal gives a Wine process a console whose events reach the handlers, so the launcher
# runs under script(1), and the test types Ctrl-C once Java is ready.
# usage: console_cleanup_test.sh BIN_DIRECTORY WINE_PREFIX
set -u
trap '' PIPE
bin=$1
export WINEPREFIX=$2 WINEDEBUG=-all LANG=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY
here=$(dirname "$0")
"$here/../../cmake/wine-prefix.sh" "$WINEPREFIX" || exit 1

work=$(mktemp -d "${TMPDIR:-/tmp}/morix-console-cleanup.XXXXXX")
trap 'rm -rf "$work"' EXIT
windows() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }
quoted() { printf "'%s'" "$1"; }

# The application: a launcher made by the builder, the bridged runtime beside it, one included file.
mkdir -p "$work/app/lib"
cp -r "$bin/bridged-jdk" "$work/app/jre"
cp "$bin/morix-runtime.jar" "$bin/launcher-test-app.jar" "$work/app/lib/"
printf 'included' >"$work/settings.txt"
cat >"$work/app.toml" <<'TOML'
[strings]
128 = "Rjre"
121 = "A1lib\\morix-runtime.jar;A1lib\\launcher-test-app.jar"
122 = "com.morix.launchertest.ProbeApp"

[[files]]
name = "conf\\settings.txt"
source = "settings.txt"
TOML
/usr/lib/wine/wine64 "$bin/morix-build.exe" build --template "$(windows "$bin/morix-launcher.exe")" \
    --config "$(windows "$work/app.toml")" -o "$(windows "$work/app/app.exe")" >"$work/build.txt" 2>&1 ||
    { cat "$work/build.txt"; exit 1; }

fifo="$work/input"
mkfifo "$fifo"
command="exec /usr/lib/wine/wine64 $(quoted "$(windows "$work/app/app.exe")") /run print"
command="$command $(quoted "late-marker=0:$work/ready") $(quoted "wait-for=$work/never")"
timeout 120 script -qfec "$command" /dev/null <"$fifo" >"$work/console" 2>&1 &
pid=$!
exec 3>"$fifo"
waited=0
while [ ! -f "$work/ready" ] && [ $waited -lt 600 ]; do
    sleep 0.1
    waited=$((waited + 1))
done
printf '\003' >&3 2>/dev/null || true
wait $pid
code=$?
exec 3>&-

failures=0
fail() {
    echo "FAIL $1"
    failures=$((failures + 1))
}
console=$(sed 's/\x1b\[[0-9;?]*[A-Za-z]//g' "$work/console" | tr -d '\r')
[ "$code" = 130 ] || fail "exit code $code, expected 130"
temp=$(printf '%s\n' "$console" | sed -n 's/^tempDir=//p' | head -n 1)
if [ -z "$temp" ]; then
    fail "the application did not tell its temporary directory"
else
    unix=$(/usr/lib/wine/wine64 winepath.exe -u "$temp" 2>/dev/null | tr -d '\r')
    [ -n "$unix" ] && [ -d "$(dirname "$unix")" ] || fail "no temporary root for $temp"
    [ ! -e "$unix" ] || fail "the temporary directory $temp is left"
    [ ! -e "${unix%_dir*}" ] || fail "the marker of $temp is left"
    printf 'temporary directory %s: gone\n' "$unix"
fi
if [ $failures -ne 0 ]; then
    printf '%s\n' "$console"
fi
echo "console cleanup: $failures failures"
[ $failures -eq 0 ]
