#!/usr/bin/env bash
# The Linux launcher starting a real Java application: builds the launcher, vantrel-pack and a
# sample application, packs the application with a runtime that jlink links from the machine's
# JDK into a temporary folder, and runs it.
#
#   bash scripts/demo-linux.sh [build directory]   (default: build/linux, the linux preset's)
#   VANTREL_PACK=path/to/vantrel-pack selects another vantrel-pack (an installed one, say).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/linux}
# Arguments reach the JVM in the locale's encoding: make it UTF-8 for the non-ASCII one below.
[ "$(locale charmap 2>/dev/null)" = UTF-8 ] || export LC_ALL=C.UTF-8

echo "== Building the Linux launcher, vantrel-pack and the sample application"
if [ "$build" = build/linux ]; then
    cmake --preset linux >/dev/null
elif [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" -j "$(nproc)" --target vantrel vantrel-pack vantrel_linux_java >/dev/null
pack=${VANTREL_PACK:-$build/bin/vantrel-pack}

work=$(mktemp -d /tmp/vantrel-linux-demo-XXXXXX)
trap 'rm -rf "$work"' EXIT
# The start-up archive goes to a cache of the demo's own, not the user's.
export XDG_CACHE_HOME=$work/cache
mkdir -p "$work/input"
cp "$build/launcherjava/hello.jar" "$work/input/"

echo
echo "== $pack --name HelloApp --input $work/input --dest $work --main-jar hello.jar ..."
start=$(date +%s%N)
"$pack" --name HelloApp --input "$work/input" --dest "$work" --main-jar hello.jar \
    --java-options "-Dgreeting=Hello from the configuration" --arguments "configured argument"
echo "pack run: $((($(date +%s%N) - start) / 1000000)) ms"
image=$work/HelloApp

echo
echo "== Application image in $image"
(cd "$image" && find . -path ./runtime -prune -o -type f -print | sort)
jdk=$(dirname "$(dirname "$(readlink -f "$(command -v javac)")")")
echo "./runtime/: $(du -sh "$image/runtime" | cut -f1) (the JDK $jdk: $(du -sh "$jdk" |
    cut -f1)), modules: $(sed -n 's/^MODULES="\(.*\)"/\1/p' "$image/runtime/release")"
echo "$image/app/HelloApp.cfg:"
sed 's/^/    /' "$image/app/HelloApp.cfg"

run() {
    local code=0
    "$@" 2>&1 || code=$?
    echo "exit code: $code"
}

echo
echo "== ./HelloApp (the configured argument)"
run "$image/HelloApp"
echo
echo "== ./HelloApp \"from the command line\" \"été\" (command-line arguments replace it)"
run "$image/HelloApp" "from the command line" "été"
echo
echo "== The same with VANTREL_DEBUG=true (the launcher's trace on the error stream)"
VANTREL_DEBUG=true "$image/HelloApp" "from the command line" 2>&1 | cut -c1-150

# A libjvm directory of another runtime in LD_LIBRARY_PATH makes the runtime's launcher library
# re-execute the process with the JVM command line; the application still starts once.
jdk_server=$(dirname "$(readlink -f "$(command -v java)")")/../lib/server
if [ -f "$jdk_server/libjvm.so" ]; then
    echo
    echo "== LD_LIBRARY_PATH=$(readlink -f "$jdk_server") (the runtime re-executes the launcher)"
    LD_LIBRARY_PATH=$(readlink -f "$jdk_server") VANTREL_DEBUG=true "$image/HelloApp" \
        "after re-execution" 2>&1 | grep -E '^(Hello|launched|greeting|argument)|Re-executed' |
        cut -c1-150
fi

echo
echo "== A runtime without lib/libjli.so: one line, exit code 1"
mv "$image/runtime/lib/libjli.so" "$image/libjli.so.moved"
run "$image/HelloApp"

echo
echo "== $pack --type deb: the Debian package of HelloApp (runtime linked again from the JDK)"
start=$(date +%s%N)
"$pack" --quiet --name HelloApp --input "$work/input" --dest "$work/packages" \
    --main-jar hello.jar --type deb --app-version 1.2.3 --vendor "Example Corp" \
    --description "Says hello" --desktop-entry --icon tests/share/native/pe/data/app.ico
deb=$work/packages/helloapp_1.2.3_amd64.deb
echo "jar to package: $((($(date +%s%N) - start) / 1000000)) ms, $(stat -c %s "$deb") bytes"
dpkg-deb --field "$deb" | sed 's/^/    /'
dpkg-deb --contents "$deb" | grep -v ' ./opt/helloapp/runtime/.' | awk '{print "    " $6, $7, $8}'
