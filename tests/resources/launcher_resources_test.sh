#!/usr/bin/env bash
# Launchers built on Linux by the host's morix-build, read back by Windows' own functions under Wine.
#   launcher_resources_test.sh resources|signing WORK HOST_BUILDER WIN64_BIN [WIN32_TEMPLATE]
# resources: the demo's launcher from the 64-bit and the 32-bit template: every version field through
#   GetFileVersionInfoW/VerQueryValueW, the icon through ExtractIconExW and LoadImageW, the manifest's
#   execution level through the activation context; the 64-bit launcher then runs the demo application.
# signing: the demo's launcher signed with osslsigncode and a certificate made here, verified, run, inspected,
#   and refused as a template unless the signature may go.
# Exits 77 (skipped) when the host builder has not been built: the host preset is built before the tests.
set -uo pipefail
mode=$1 work=$2 builder=$3 bin=$4 template32=${5:-}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
if [ ! -x "$builder" ]; then
    echo "SKIPPED: no host morix-build at $builder (build the host preset first)"
    exit 77
fi
rm -rf "$work"
mkdir -p "$work"
failures=0
fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}
windows_path() { echo "Z:${1//\//\\}"; }
wine_run() { WINE_RUN_TIMEOUT=120 "$root/cmake/wine-run.sh" "$@"; }

# The demo's launcher beside what it needs: its jars, its options file and the bridged runtime as jre.
make_demo() { # TEMPLATE DIR
    mkdir -p "$2/lib"
    for jar in "$bin/morix-runtime.jar" "$bin/../examples/jars/hello.jar" "$bin/../examples/jars/greeting.jar"; do
        ln -sf "$(readlink -f "$jar")" "$2/lib/"
    done
    cp "$root/examples/hello/hello.vmoptions" "$2/"
    ln -sfn "$(readlink -f "$bin/bridged-jdk")" "$2/jre"
    "$builder" build --template "$1" --config "$root/examples/hello/hello.toml" -o "$2/hello.exe" >/dev/null
}

# Exit code 3 is what hello.vmoptions chooses: the payload was read, the runtime found, the application run.
run_demo() { # LAUNCHER WHAT
    out=$(wine_run "$1" /run Alice Bob 2>&1)
    code=$?
    if [ "$code" -ne 3 ] || ! grep -q "Hello, Alice" <<<"$out"; then
        fail "$2 ran with exit code $code (3 expected): $out"
    fi
}

expected_resources() { # LAUNCHER_NAME
    cat <<EOF
fixed file version 1.0.0.0
fixed product version 1.0.0.0
translation 040904b0
CompanyName = Morix Examples
FileDescription = Morix demo: greets its arguments
FileVersion = 1.0.0.0
InternalName = hello
LegalCopyright = Copyright © 2026 Morix Examples
OriginalFilename = hello.exe
ProductName = Morix Hello
ProductVersion = 1.0.0.0
ExtractIconExW icons 1
ExtractIconExW large 32 small 16
LoadImageW 16 gives 16
LoadImageW 32 gives 32
LoadImageW 48 gives 48
execution level $1 ui access 0
checksum matches the file
EOF
}

check_resources() { # LAUNCHER LEVEL WHAT
    actual=$(wine_run "$bin/morix-resource-check.exe" "$(windows_path "$1")" 2>&1 | tr -d '\r')
    if ! diff <(expected_resources "$2") <(echo "$actual") >"$work/diff.txt"; then
        fail "$3: the resources Windows reads differ from the configuration:"
        cat "$work/diff.txt"
    fi
}

# The templates' layout that the resource writer must keep: .rsrc, then .reloc as the last section.
last_sections() { x86_64-w64-mingw32-objdump -h "$1" | awk '$2 ~ /^\./ {print $2}' | tail -2 | tr '\n' ' '; }
check_layout() { # IMAGE WHAT
    [ "$(last_sections "$1")" = ".rsrc .reloc " ] || fail "$2 ends with sections $(last_sections "$1")"
}

case "$mode" in
resources)
    check_layout "$bin/morix-launcher.exe" "the 64-bit template"
    make_demo "$bin/morix-launcher.exe" "$work/win64" || fail "morix-build (64-bit template)"
    check_layout "$work/win64/hello.exe" "the 64-bit launcher"
    check_resources "$work/win64/hello.exe" asInvoker "64-bit launcher"
    run_demo "$work/win64/hello.exe" "the 64-bit launcher"

    # The execution level the configuration asks for is the one Windows reads, in a manifest that also
    # carries DPI settings (the activation context is made from it, so Wine accepts all of it).
    mkdir -p "$work/admin"
    cp "$root/examples/hello/hello.ico" "$work/admin/"
    sed 's/^execution_level = .*/execution_level = "requireAdministrator"\ndpi_awareness = "per-monitor-v2"/' \
        "$root/examples/hello/hello.toml" >"$work/admin/hello.toml"
    mkdir -p "$work/win64/admin"
    "$builder" build --template "$bin/morix-launcher.exe" --config "$work/admin/hello.toml" \
        -o "$work/win64/admin/hello.exe" >/dev/null || fail "morix-build (requireAdministrator)"
    check_resources "$work/win64/admin/hello.exe" requireAdministrator "64-bit launcher, requireAdministrator"

    # inspect --format toml gives the [executable] table back with the payload: the printed configuration
    # builds the same launcher from the same template, byte for byte.
    mkdir -p "$work/again"
    "$builder" inspect --format toml --extract-to "$work/again" "$work/win64/admin/hello.exe" \
        >"$work/again/hello.toml" || fail "inspect --format toml of the launcher with resources"
    grep -q '^dpi_awareness = "per-monitor-v2"$' "$work/again/hello.toml" ||
        fail "the printed configuration has no [executable] table: $(cat "$work/again/hello.toml")"
    "$builder" build --template "$bin/morix-launcher.exe" --config "$work/again/hello.toml" \
        -o "$work/again/hello.exe" >/dev/null 2>&1 || fail "morix-build of the printed configuration"
    cmp -s "$work/again/hello.exe" "$work/win64/admin/hello.exe" ||
        fail "the printed configuration builds a launcher that differs from the one inspected"

    if [ -f "$template32" ]; then
        make_demo "$template32" "$work/win32" || fail "morix-build (32-bit template)"
        check_layout "$template32" "the 32-bit template"
        check_layout "$work/win32/hello.exe" "the 32-bit launcher"
        check_resources "$work/win32/hello.exe" asInvoker "32-bit launcher"
        grep -q 'processorArchitecture="X86"' <<<"$("$builder" inspect "$work/win32/hello.exe")" ||
            fail "the 32-bit launcher's manifest does not name X86"
        # The kernel must execute 32-bit programs (IA-32 emulation) for 32-bit Wine to start at all.
        if /usr/lib/wine/wine --version >/dev/null 2>&1; then
            out=$(WINEPREFIX="$WINE_TEST_PREFIX" timeout 60 /usr/lib/wine/wine "$work/win32/hello.exe" /help 2>&1)
            grep -q "Usage: hello.exe" <<<"$out" || fail "the 32-bit launcher under Wine: $out"
        else
            echo "note: no 32-bit Wine that starts here (wine32, and a kernel that runs 32-bit programs): the 32-bit launcher is read, not run"
        fi
    else
        echo "note: no 32-bit template at '$template32' (build the win32 preset): only the 64-bit one checked"
    fi
    ;;
signing)
    make_demo "$bin/morix-launcher.exe" "$work/demo" || fail "morix-build"
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Morix Test Signing" \
        -keyout "$work/key.pem" -out "$work/cert.pem" 2>"$work/openssl.txt" || fail "openssl: $(cat "$work/openssl.txt")"
    osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -n "Morix Hello" \
        -in "$work/demo/hello.exe" -out "$work/demo/signed.exe" >"$work/sign.txt" 2>&1 ||
        fail "osslsigncode sign: $(cat "$work/sign.txt")"
    # Structurally sound: the signature verifies against its own (self-signed) certificate.
    osslsigncode verify -in "$work/demo/signed.exe" -CAfile "$work/cert.pem" >"$work/verify.txt" 2>&1 &&
        grep -q "Signature verification: ok" "$work/verify.txt" ||
        fail "osslsigncode verify: $(cat "$work/verify.txt")"
    mv "$work/demo/signed.exe" "$work/demo/hello.exe"
    run_demo "$work/demo/hello.exe" "the signed launcher"
    check_resources "$work/demo/hello.exe" asInvoker "the signed launcher"

    inspected=$("$builder" inspect "$work/demo/hello.exe" 2>&1) || fail "inspect of the signed launcher: $inspected"
    grep -q "^executable: 64-bit (amd64), signed (" <<<"$inspected" || fail "inspect does not see the signature"
    grep -q '101 = "MorixHello"' <<<"$inspected" || fail "inspect does not read the signed launcher's payload"

    # Rebuilding from the signed launcher would void its signature: refused, nothing written, unless asked.
    mv "$work/demo/hello.exe" "$work/signed.exe"
    err=$("$builder" build --template "$work/signed.exe" --config "$root/examples/hello/hello.toml" \
        -o "$work/demo/hello.exe" 2>&1)
    code=$?
    [ "$code" -eq 2 ] && grep -q "is signed; a launcher built from it loses the signature" <<<"$err" &&
        [ ! -e "$work/demo/hello.exe" ] || fail "rebuilding a signed launcher: exit $code, $err"
    "$builder" build --template "$work/signed.exe" --config "$root/examples/hello/hello.toml" \
        -o "$work/demo/hello.exe" --drop-signature >/dev/null || fail "--drop-signature"
    grep -q "^executable: 64-bit (amd64), not signed" <<<"$("$builder" inspect "$work/demo/hello.exe")" ||
        fail "the launcher rebuilt with --drop-signature still claims a signature"
    run_demo "$work/demo/hello.exe" "the launcher rebuilt from the signed one"
    ;;
*)
    echo "unknown mode $mode"
    exit 2
    ;;
esac

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all checks passed"
rm -rf "$work"
