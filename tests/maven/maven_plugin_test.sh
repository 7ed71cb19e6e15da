#!/usr/bin/env bash
# The Maven plugin end to end, offline against Debian's Maven repository: built from the three build trees'
# binaries and installed into a throw-away local repository, then used by `mvn -o package` on
# examples/maven-hello. Checks the image's files, that the zip is the same over two builds and is attached,
# the launcher's version information as Windows reads it, and runs the launcher with the bridged runtime
# that the image placed, 32-bit (from the unpacked zip) and 64-bit. Then the errors a user meets: a
# configuration error, a main class that is missing, a runtime of the wrong bitness.
#   maven_plugin_test.sh WORK HOST_BIN WIN32_BIN WIN64_BIN
# WINE_TEST_PREFIX is the 64-bit Wine prefix, WINE_TEST_PREFIX_32 a WoW64 one for the 32-bit launcher.
# Exits 77 (skipped) when Maven or one of the other build trees is missing.
set -uo pipefail
work=$1
root=$(cd "$(dirname "$0")/../.." && pwd)
absolute() { cd "$1" 2>/dev/null && pwd || echo "$1"; }
host=$(absolute "$2") win32=$(absolute "$3") win64=$(absolute "$4")
for needed in "$host/morix-build" "$win32/morix-launcher.exe" "$win32/bridged-jdk/bin/server/jvm.dll" /usr/bin/mvn; do
    if [ ! -e "$needed" ]; then
        echo "SKIPPED: no $needed (scripts/test builds the host, win32 and win64 presets first)"
        exit 77
    fi
done
rm -rf "$work"
mkdir -p "$work"
failures=0
fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}
version=1.4.0-SNAPSHOT
windows_version=1.4.0.0 # the documented rule: the numbers of the Maven version, the qualifier left out
name=hello-$version-windows-x86

# mvn DIR ARGUMENTS...: offline, with a local repository of this run only; the output in $work/mvn.log.
mvn_in() {
    local dir=$1
    shift
    # Short Maven runs start faster with the JVM's first compiler only.
    (cd "$dir" && MAVEN_OPTS="${MAVEN_OPTS:--XX:TieredStopAtLevel=1}" timeout 300 mvn -o -B -Dstyle.color=never -s "$root/maven-plugin/debian-settings.xml" \
        -Dmaven.repo.local="$work/repo" "$@") >"$work/mvn.log" 2>&1
}
seconds_since() { echo "$(($(date +%s%N) / 1000000 - $1))" | sed 's/...$/.&/'; }
now() { echo $(($(date +%s%N) / 1000000)); }
copy_example() { # NAME
    cp -r "$root/examples/maven-hello" "$work/$1"
    rm -rf "$work/$1/target"
}

cp -r "$root/maven-plugin" "$work/plugin"
rm -rf "$work/plugin/target"
start=$(now)
if ! mvn_in "$work/plugin" -Dmorix.hostBin="$host" -Dmorix.win32Bin="$win32" -Dmorix.win64Bin="$win64" install; then
    fail "the plugin did not install:"
    tail -40 "$work/mvn.log"
    exit 1
fi
echo "plugin built and installed in $(seconds_since "$start") s"

# Two builds of the same sources, the second with install, which takes the attached zip along.
copy_example first
copy_example second
start=$(now)
mvn_in "$work/first" package -Dmorix.runtime="$win32/bridged-jdk" || fail "mvn package: $(tail -30 "$work/mvn.log")"
echo "mvn -o package of the example in $(seconds_since "$start") s"
mvn_in "$work/second" install -Dmorix.runtime="$win32/bridged-jdk" || fail "mvn install: $(tail -30 "$work/mvn.log")"
image=$work/first/target/$name
zip=$work/first/target/$name.zip

expected_files() {
    echo hello.exe
    echo hello.vmoptions
    echo lib/commons-lang3-3.12.0.jar
    echo lib/hello-$version.jar
    (cd "$win32/bridged-jdk" && find -L . -type f | sed 's|^\./|jre/|')
}
diff <(expected_files | sort) <(cd "$image" && find . -type f | sed 's|^\./||' | sort) >"$work/diff.txt" ||
    fail "the image's files are not what was expected: $(cat "$work/diff.txt")"
diff -r "$win32/bridged-jdk" "$image/jre" >/dev/null || fail "the image's jre differs from the runtime given"
cmp -s "$image/lib/commons-lang3-3.12.0.jar" /usr/share/maven-repo/org/apache/commons/commons-lang3/3.12.0/commons-lang3-3.12.0.jar ||
    fail "lib/commons-lang3-3.12.0.jar is not the dependency"
diff <(expected_files | sed "s|^|$name/|" | sort) <(unzip -Z1 "$zip" | grep -v '/$' | sort) >"$work/diff.txt" ||
    fail "the zip's files are not the image's: $(cat "$work/diff.txt")"
unzip -tq "$zip" >/dev/null || fail "unzip -t finds the zip damaged"
cmp -s "$zip" "$work/second/target/$name.zip" || fail "two builds of the same sources gave different zips"
cmp -s "$zip" "$work/repo/com/example/hello/$version/hello-$version-windows-x86.zip" ||
    fail "install did not take the attached zip (classifier windows-x86) along"

# The Windows builder that the plugin carries makes the same zip from the same input.
windows_path() { echo "Z:${1//\//\\}"; }
tools=$work/first/target/morix-tools
mkdir -p "$work/windows"
unzip -q -j "$work/repo/com/morix/morix-maven-plugin/0.1.0/morix-maven-plugin-0.1.0.jar" \
    com/morix/maven/tools/windows-x64/morix-build.exe -d "$work/windows"
WINE_RUN_TIMEOUT=120 "$root/cmake/wine-run.sh" "$work/windows/morix-build.exe" image \
    --template "$(windows_path "$tools/win32/morix-launcher.exe")" \
    --config "$(windows_path "$work/first/src/main/morix/hello.toml")" -o "$(windows_path "$work/windows/$name")" \
    --name hello --runtime-jar "$(windows_path "$tools/morix-runtime.jar")" --version $version \
    --main-class com.example.hello.MavenHello --lib "hello-$version.jar=$(windows_path "$work/first/target/hello-$version.jar")" \
    --lib "commons-lang3-3.12.0.jar=$(windows_path "$image/lib/commons-lang3-3.12.0.jar")" \
    --file "hello.vmoptions=$(windows_path "$work/first/src/main/morix/image/hello.vmoptions")" \
    --runtime "$(windows_path "$win32/bridged-jdk")" --timestamp 1767225600 >"$work/windows.log" 2>&1 ||
    fail "the Windows morix-build: $(cat "$work/windows.log")"
cmp -s "$zip" "$work/windows/$name.zip" || fail "the Windows morix-build made another zip than the Linux one"

# The version information as Windows' own functions read it.
WINE_RUN_TIMEOUT=120 "$root/cmake/wine-run.sh" "$win64/morix-resource-check.exe" "$(windows_path "$image/hello.exe")" 2>&1 |
    tr -d '\r' | sed -n '/^fixed file version/,/^ProductVersion/p' >"$work/resources.txt"
diff - "$work/resources.txt" >"$work/diff.txt" <<EOF || fail "the launcher's version information: $(cat "$work/diff.txt")"
fixed file version $windows_version
fixed product version $windows_version
translation 040904b0
CompanyName = Morix Examples
FileDescription = Morix Maven example: greets its arguments
FileVersion = $windows_version
InternalName = hello
LegalCopyright missing
OriginalFilename = hello.exe
ProductName = Morix Maven Hello
ProductVersion = $windows_version
EOF

# run_launcher BITS LAUNCHER: the application through the bridged runtime beside the launcher, its
# dependency from lib/, its greeting from hello.vmoptions beside the launcher.
run_launcher() {
    local out code
    if [ "$1" = 32 ]; then
        out=$(WINE_TEST_BITS=32 WINE_TEST_PREFIX="$WINE_TEST_PREFIX_32" WINE_RUN_TIMEOUT=120 \
            "$root/cmake/wine-run.sh" "$2" /run alice Bob 2>&1)
    else
        out=$(WINE_RUN_TIMEOUT=120 "$root/cmake/wine-run.sh" "$2" /run alice Bob 2>&1)
    fi
    code=$?
    if [ "$code" -ne 0 ] || ! grep -q "^Good day, Alice and Bob!" <<<"$out" ||
        ! grep -q "^commons-lang3 from lib/commons-lang3-3.12.0.jar" <<<"$out"; then
        fail "the $1-bit launcher ran with exit code $code: $out"
    fi
}
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    mkdir -p "$work/unpacked"
    (cd "$work/unpacked" && unzip -q "$zip") || fail "unzip"
    run_launcher 32 "$work/unpacked/$name/hello.exe"
else
    echo "note: no 32-bit Wine here: the 32-bit launcher is built and read, not run"
fi

copy_example x64
mvn_in "$work/x64" package -Dmorix.bits=64 -Dmorix.runtime="$win64/bridged-jdk" ||
    fail "mvn package with bits 64: $(tail -30 "$work/mvn.log")"
grep -q "^executable: 64-bit (amd64)" <<<"$("$host/morix-build" inspect "$work/x64/target/hello-$version-windows-x64/hello.exe")" ||
    fail "bits 64 did not make a 64-bit launcher"
run_launcher 64 "$work/x64/target/hello-$version-windows-x64/hello.exe"

# expect_failure NAME TEXT WHAT: the build failed, said TEXT and wrote no image.
expect_failure() {
    if ! grep -qF -- "$2" "$work/mvn.log" || ! grep -q "BUILD FAILURE" "$work/mvn.log" ||
        [ -e "$work/$1/target/$name" ]; then
        fail "$3: $(grep -E 'ERROR|BUILD' "$work/mvn.log" | head -20)"
    fi
}
copy_example misspelt
printf '\n[application]\nmain_clas = "com.example.hello.MavenHello"\n' >>"$work/misspelt/src/main/morix/hello.toml"
line=$(grep -n '^main_clas' "$work/misspelt/src/main/morix/hello.toml" | cut -d: -f1)
mvn_in "$work/misspelt" package && fail "a misspelt key did not fail the build"
expect_failure misspelt "[ERROR] morix-build: $work/misspelt/src/main/morix/hello.toml:$line:1: error: application.main_clas: unknown key; did you mean 'main_class'?" \
    "a configuration error"

copy_example missing
sed -i 's|<mainClass>com.example.hello.MavenHello</mainClass>|<mainClass>com.example.hello.Missing</mainClass>|' "$work/missing/pom.xml"
mvn_in "$work/missing" package && fail "a missing main class did not fail the build"
expect_failure missing "error: application.main_class: com.example.hello.Missing is in none of the archives on the class path (lib/hello-$version.jar, lib/commons-lang3-3.12.0.jar)" \
    "a main class that no archive holds"

copy_example unnamed
sed -i '/<mainClass>/d' "$work/unnamed/pom.xml"
mvn_in "$work/unnamed" package && fail "a build without a main class did not fail"
expect_failure unnamed "error: application.main_class: is not set, so the image's launcher has no class to run" \
    "no main class"

copy_example bitness
mvn_in "$work/bitness" package -Dmorix.runtime="$win64/bridged-jdk" && fail "a 64-bit runtime for the 32-bit launcher did not fail the build"
expect_failure bitness "error: the runtime $win64/bridged-jdk: bin/server/jvm.dll is 64-bit (x64), and the 32-bit (x86) launcher loads only a jvm.dll of its own bitness" \
    "a runtime of the wrong bitness"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all checks passed"
rm -rf "$work"
