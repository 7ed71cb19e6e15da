#!/bin/sh
# Ctrl-C on the console of a Windows process that runs the bridged JVM. Only a pseudo-terminal gives a
# Wine process a console whose Ctrl-C reaches the console control handlers, so the driver runs under
# script(1) and the test types Ctrl-C once Java is ready.
#   1. Without a handler of the program's own, the JVM gets the event as on Windows: its shutdown hooks
#      run and the process ends with 130.
#   2. A handler that the program installs after creating the JVM sees the event first and keeps the
#      process (and Java) running, as the launcher's service child does.
# usage: console_control_test.sh BIN_DIRECTORY WINE_PREFIX
set -u
trap '' PIPE
bin=$1
export WINEPREFIX=$2 WINEDEBUG=-all LANG=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY
here=$(dirname "$0")
# The loader for this tree's bitness (WINE_TEST_BITS).
. "$here/../../../cmake/wine-env.sh"
"$here/../../../cmake/wine-prefix.sh" "$WINEPREFIX" || exit 1

work=$(mktemp -d "${TMPDIR:-/tmp}/morix-console.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0

windows() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }
# script(1) hands the command to $SHELL -c: every word in single quotes keeps its backslashes, and the
# shell execs the driver, since a shell left waiting would itself die of the terminal's SIGINT (dash does).
quoted() { printf "'%s'" "$1"; }

# run NAME DRIVER_OPTIONS... -- JAVA_ARGUMENTS...: types Ctrl-C once $work/NAME.ready exists; sets $code.
run() {
    name=$1
    shift
    fifo="$work/$name.input"
    mkfifo "$fifo"
    command="exec $wine_loader $(quoted "$bin/bridge-driver.exe") --option"
    command="$command $(quoted "-Djava.class.path=$(windows "$bin/bridge-check.jar")")"
    while [ "$1" != "--" ]; do
        command="$command $(quoted "$1")"
        shift
    done
    shift
    command="$command $(quoted "$(windows "$bin/bridged-jdk/bin/server/jvm.dll")") com.morix.bridgecheck.BridgeCheck"
    for argument in "$@"; do
        command="$command $(quoted "$argument")"
    done
    timeout 90 script -qfec "$command" /dev/null <"$fifo" >"$work/$name.console" 2>&1 &
    pid=$!
    exec 3>"$fifo"
    waited=0
    while [ ! -f "$work/$name.ready" ] && [ $waited -lt 300 ]; do
        sleep 0.1
        waited=$((waited + 1))
    done
    # A console that is gone already must not end this script through SIGPIPE.
    printf '\003' >&3 2>/dev/null || true
    wait $pid
    code=$?
    exec 3>&-
}

fail() {
    echo "FAIL [$1] $2"
    failures=$((failures + 1))
}

run jvm -- "hook=$work/jvm.hook" "ready=$work/jvm.ready" sleep=60000
[ "$code" = 130 ] || fail jvm "exit code $code, expected 130"
[ "$(cat "$work/jvm.hook" 2>/dev/null)" = "shutdown hook ran" ] || fail jvm "the shutdown hook did not run"

run handler --ctrl-file "$(windows "$work/handler.event")" -- "hook=$work/handler.hook" \
    "ready=$work/handler.ready" sleep=3000
[ "$code" = 0 ] || fail handler "exit code $code, expected 0"
[ "$(cat "$work/handler.event" 2>/dev/null)" = "console event 0" ] || fail handler "the program's handler missed Ctrl-C"
[ "$(cat "$work/handler.hook" 2>/dev/null)" = "shutdown hook ran" ] || fail handler "Java did not end normally"

if [ $failures -ne 0 ]; then
    for console in "$work"/*.console; do
        echo "== $console"
        sed 's/\x1b\[[0-9;?]*[A-Za-z]//g' "$console" | tr -d '\r'
    done
fi
echo "console control: $failures failures"
[ $failures -eq 0 ]
