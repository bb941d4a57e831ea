#!/usr/bin/env bash
# The main job: builds vantrel.exe, lays out a sample application image with the test runtime
# standing in for a Java runtime, and launches it under Wine, restart path included. Then the
# Linux launcher starts a real Java application, when its demo is there.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)" --target vantrel vantrelw testruntime_jli testruntime_jvm \
    testruntime_splashscreen

image=$(mktemp -d /tmp/vantrel-demo-XXXXXX)
trap 'rm -rf "$image"' EXIT
mkdir -p "$image/app" "$image/runtime"
cp build/windows/bin/vantrel.exe "$image/HelloApp.exe"
cp build/windows/bin/vantrelw.exe "$image/HelloAppW.exe"
cp -r build/windows/testruntime/bin "$image/runtime/"
cat > "$image/app/HelloApp.cfg" <<'CFG'
[Application]
app.classpath=$APPDIR\hello.jar
app.mainclass=hello.Main

[JavaOptions]
java-options=-Dgreeting=Hello

[ArgOptions]
arguments=configured argument
CFG
cp "$image/app/HelloApp.cfg" "$image/app/HelloAppW.cfg"

run_launcher() {
    local exe=$1
    shift
    WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d" \
        VANTREL_TEST_RECORD="$(WINEDEBUG=-all winepath -w "$image/record.txt")" \
        wine "$image/$exe" "$@"
}
run() { run_launcher HelloApp.exe "$@"; }

echo "== Application image in $image"
(cd "$image" && find . -type f | sort)
echo
echo "== HelloApp.exe \"from the command line\" (restarts itself, then starts the JVM in-process)"
code=0
run "from the command line" || code=$?
echo "exit code: $code"
echo "what JLI_Launch received:"
grep -E '^(argv\[[0-9]+\]|env\.PATH|exportsGetAPI)=' "$image/record.txt" | sed 's/^/    /'
echo
echo "== The same with VANTREL_DEBUG=true"
VANTREL_DEBUG=true run "from the command line" || true
echo
echo "== A launch whose JVM fails: one line, exit code 1"
code=0
VANTREL_TEST_STATUS=1 run || code=$?
echo "exit code: $code"
echo
echo "== The windowed launcher, HelloAppW.exe (GUI subsystem: no console window), exit code 3"
rm -f "$image/record.txt"
code=0
VANTREL_TEST_EXIT=3 run_launcher HelloAppW.exe "from a shortcut" || code=$?
echo "exit code: $code"
grep -E '^argv\[[0-9]+\]=' "$image/record.txt" | sed 's/^/    /'
echo "its errors go to the standard error stream when redirected (else to a message box):"
code=0
mv "$image/app/HelloAppW.cfg" "$image/app/HelloAppW.cfg.off"
run_launcher HelloAppW.exe || code=$?
echo "exit code: $code"

if [ -f scripts/demo-linux.sh ]; then
    echo
    bash scripts/demo-linux.sh
fi
