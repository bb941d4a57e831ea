#!/usr/bin/env bash
# The main job: builds the distribution (vantrel-pack and the launchers), packs a sample
# application with its vantrel-pack for Windows, with the test runtime standing in for a Java
# runtime, and launches it under Wine, restart path included. Then the same vantrel-pack packs
# the sample for Linux with a runtime linked from the machine's JDK, and runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

bash scripts/dist.sh
version=$(sed -n 's/^set(VANTREL_VERSION \(.*\))$/\1/p' cmake/Pack.cmake)
pack=$PWD/dist/vantrel-$version-linux-x86_64/bin/vantrel-pack
cmake --build --preset windows -j "$(nproc)" --target testruntime_jli testruntime_jvm \
    testruntime_splashscreen >/dev/null
cmake --build --preset linux -j "$(nproc)" --target vantrel_linux_java >/dev/null

work=$(mktemp -d /tmp/vantrel-demo-XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/input"
cp build/linux/launcherjava/hello.jar "$work/input/"

echo
echo "== vantrel-pack --target windows --runtime build/windows/testruntime ..."
"$pack" --name HelloApp --input "$work/input" --dest "$work" --main-jar hello.jar \
    --target windows --runtime build/windows/testruntime \
    --java-options "-Dgreeting=Hello" --arguments "configured argument"
image=$work/HelloApp

run_launcher() {
    local exe=$1
    shift
    WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d" \
        VANTREL_TEST_RECORD="$(WINEDEBUG=-all winepath -w "$work/record.txt")" \
        wine "$exe" "$@"
}
run() { run_launcher "$image/HelloApp.exe" "$@"; }

echo
echo "== Application image in $image"
(cd "$image" && find . -type f | sort)
echo "app/HelloApp.cfg:"
sed 's/^/    /' "$image/app/HelloApp.cfg"
echo
echo "== HelloApp.exe \"from the command line\" (restarts itself, then starts the JVM in-process)"
code=0
run "from the command line" || code=$?
echo "exit code: $code"
echo "what JLI_Launch received:"
grep -E '^(argv\[[0-9]+\]|env\.PATH|exportsGetAPI)=' "$work/record.txt" | sed 's/^/    /'
echo
echo "== The same with VANTREL_DEBUG=true"
VANTREL_DEBUG=true run "from the command line" || true
echo
echo "== A launch whose JVM fails: one line, exit code 1"
code=0
VANTREL_TEST_STATUS=1 run || code=$?
echo "exit code: $code"

echo
echo "== vantrel-pack --target windows-gui --icon ... --app-version 1.2.3: the windowed launcher"
echo "   (no console window) with the application's icon and version information, exit code 3"
"$pack" --quiet --name HelloAppW --input "$work/input" --dest "$work" --main-jar hello.jar \
    --target windows-gui --runtime build/windows/testruntime \
    --icon tests/share/native/pe/data/app.ico --app-version 1.2.3 --vendor "Example Corp"
rm -f "$work/record.txt"
code=0
VANTREL_TEST_EXIT=3 run_launcher "$work/HelloAppW/HelloAppW.exe" "from a shortcut" || code=$?
echo "exit code: $code"
grep -E '^argv\[[0-9]+\]=' "$work/record.txt" | sed 's/^/    /'
echo "its errors go to the standard error stream when redirected (else to a message box):"
rm "$work/HelloAppW/app/HelloAppW.cfg"
code=0
run_launcher "$work/HelloAppW/HelloAppW.exe" || code=$?
echo "exit code: $code"

echo
echo "== vantrel-pack --type msi: the installer of HelloApp, built here with wixl, installed,"
echo "   started and removed by Wine's msiexec"
started=$(date +%s%N)
"$pack" --quiet --name HelloApp --input "$work/input" --dest "$work/packages" --main-jar hello.jar \
    --target windows --runtime build/windows/testruntime --type msi --app-version 1.2.3 \
    --vendor "Example Corp" --icon tests/share/native/pe/data/app.ico
msi=$work/packages/HelloApp-1.2.3.msi
echo "   jar to installer: $(( ($(date +%s%N) - started) / 1000000 )) ms, $(stat -c %s "$msi") bytes"
msiexec() {
    (cd "$(dirname "$2")" && WINEDEBUG=-all wine msiexec "$1" "$(basename "$2")" /qn)
    WINEDEBUG=-all wineserver -w
}
msiexec /i "$msi"
echo "Add/Remove Programs:"
WINEDEBUG=-all wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s |
    tr -d '\r' | grep -E '^ +(DisplayName|DisplayVersion|Publisher) ' | sed 's/^ */    /'
rm -f "$work/record.txt"
code=0
VANTREL_TEST_EXIT=4 run_launcher 'C:\Program Files\HelloApp\HelloApp.exe' "installed" || code=$?
echo "the installed HelloApp.exe: exit code $code, $(grep -c '' "$work/record.txt") lines recorded"
msiexec /x "$msi"
echo "uninstalled: $(test -e "$HOME/.wine/drive_c/Program Files/HelloApp" && echo files left ||
    echo nothing left)"
started=$(date +%s%N)
"$pack" --quiet --name HelloApp --input "$work/input" --dest "$work/packages" --main-jar hello.jar \
    --target windows --runtime build/windows/testruntime --type zip --app-version 1.2.3
echo "   the portable zip: $(( ($(date +%s%N) - started) / 1000000 )) ms," \
    "$(stat -c %s "$work/packages/HelloApp-1.2.3.zip") bytes"

echo
VANTREL_PACK=$pack bash scripts/demo-linux.sh
