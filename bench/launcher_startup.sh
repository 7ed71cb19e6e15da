#!/usr/bin/env bash
# Prints how long the launcher takes for its own work: reading its payload (/help), finding and validating
# a runtime with and without the version cache, and a whole run of the demo application. Figures only;
# nothing is asserted.
# usage: bench/launcher_startup.sh [RUNS]   (after building the host and win64 presets)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-10}
bin=$PWD/build/win64/bin
[ -f "$bin/morix-launcher.exe" ] && [ -x build/host/bin/morix-build ] || {
    echo "build the host and win64 presets first" >&2
    exit 1
}
work=$PWD/build/bench/startup
rm -rf "$work"
mkdir -p "$work/lib"
cp build/win64/examples/jars/hello.jar build/win64/examples/jars/greeting.jar "$work/lib/"
cp -r "$bin/bridged-jdk" "$work/jre"
sed -e '/^read_vmoptions = /d' examples/hello/hello.toml >"$work/hello.toml"
build/host/bin/morix-build build --template "$bin/morix-launcher.exe" --config "$work/hello.toml" \
    -o "$work/hello.exe" >/dev/null

export WINEPREFIX=$PWD/build/bench/wineprefix WINEDEBUG=-all LANG=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY MORIX_LOG VANTAROCK_LOG
cmake/wine-prefix.sh "$WINEPREFIX"
cache_key='HKCU\Software\quarrystone\morix\jvms'

# mean NAME SETUP COMMAND...: runs SETUP then the command, $runs times after one warm-up, and prints the
# mean time of the command alone.
mean() {
    local name=$1 setup=$2
    shift 2
    $setup
    "$@" >/dev/null 2>&1 || true
    local total=0 start
    for ((i = 0; i < runs; i++)); do
        $setup
        start=$(date +%s%N)
        "$@" >/dev/null 2>&1 || true
        total=$((total + $(date +%s%N) - start))
    done
    printf '%-58s %6d ms\n' "$name" $((total / runs / 1000000))
}
nothing() { :; }
forget_versions() { /usr/lib/wine/wine64 reg delete "$cache_key" /f >/dev/null 2>&1 || true; }

echo "launcher start-up under Wine, mean of $runs runs"
mean "Wine start alone (cmd /c exit)" nothing /usr/lib/wine/wine64 cmd /c exit
mean "hello.exe /help (payload read, no Java)" nothing /usr/lib/wine/wine64 "$work/hello.exe" /help
mean "hello.exe /run, runtime version cached" nothing /usr/lib/wine/wine64 "$work/hello.exe" /run Bench
mean "hello.exe /run, cache empty (runs java.exe -version)" forget_versions \
    /usr/lib/wine/wine64 "$work/hello.exe" /run Bench
/usr/lib/wine/wineserver64 -k 2>/dev/null || true
