#!/usr/bin/env bash
# Prints how long a Java hello world takes through the bridged runtime under Wine, next to the Linux java
# command and to Wine's own start. Figures only; nothing is asserted.
# usage: bench/jvm_bridge_hello.sh [RUNS]   (after building the win64 preset)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-10}
bin=$PWD/build/win64/bin
[ -f "$bin/bridge-driver.exe" ] || { echo "build the win64 preset first" >&2; exit 1; }
export WINEPREFIX=$PWD/build/win64/wineprefix WINEDEBUG=-all LANG=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY
cmake/wine-prefix.sh "$WINEPREFIX"
java_home=/usr/lib/jvm/java-17-openjdk-amd64
windows() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }
jar=$bin/bridge-check.jar
main=com.morix.bridgecheck.BridgeCheck

# mean NAME COMMAND...: runs the command $runs times (after one warm-up run) and prints the mean.
mean() {
    local name=$1
    shift
    "$@" >/dev/null 2>&1 || true
    local start end
    start=$(date +%s%N)
    for ((i = 0; i < runs; i++)); do
        "$@" >/dev/null 2>&1 || true
    done
    end=$(date +%s%N)
    printf '%-46s %6d ms\n' "$name" $(((end - start) / runs / 1000000))
}

echo "hello world, mean of $runs runs"
mean "Linux java" "$java_home/bin/java" -cp "$jar" "$main"
mean "Wine start alone (cmd /c exit)" /usr/lib/wine/wine64 cmd /c exit
mean "bridged jvm.dll in a Windows process" /usr/lib/wine/wine64 "$bin/bridge-driver.exe" \
    --option "-Djava.class.path=$(windows "$jar")" "$(windows "$bin/bridged-jdk/bin/server/jvm.dll")" "$main"
mean "bridged java.exe" /usr/lib/wine/wine64 "$bin/bridged-jdk/bin/java.exe" -cp "$(windows "$jar")" "$main"
mean "bridged java.exe -version" /usr/lib/wine/wine64 "$bin/bridged-jdk/bin/java.exe" -version
