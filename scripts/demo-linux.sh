#!/usr/bin/env bash
# The Linux launcher starting a real Java application: builds the launcher, a sample
# application and a jlink runtime image of java.base, lays out the application image in a
# temporary folder and runs it.
#
#   bash scripts/demo-linux.sh [build directory]   (default: build/linux, the linux preset's)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/linux}
# Arguments reach the JVM in the locale's encoding: make it UTF-8 for the non-ASCII one below.
[ "$(locale charmap 2>/dev/null)" = UTF-8 ] || export LC_ALL=C.UTF-8

echo "== Building the Linux launcher, the sample application and its runtime image (jlink)"
if [ "$build" = build/linux ]; then
    cmake --preset linux >/dev/null
elif [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" -j "$(nproc)" --target vantrel vantrel_linux_java >/dev/null

image=$(mktemp -d /tmp/vantrel-linux-demo-XXXXXX)
trap 'rm -rf "$image"' EXIT
mkdir -p "$image/app"
cp "$build/bin/vantrel" "$image/HelloApp"
cp "$build/launcherjava/hello.jar" "$image/app/"
cp -r "$build/jlinkruntime" "$image/runtime"
cat >"$image/app/HelloApp.cfg" <<'CFG'
[Application]
app.classpath=$APPDIR/hello.jar
app.mainclass=hello.Main

[JavaOptions]
java-options=-Dgreeting=Hello from the configuration

[ArgOptions]
arguments=configured argument
CFG

echo
echo "== Application image in $image"
(cd "$image" && find . -path ./runtime -prune -o -type f -print | sort)
echo "./runtime/: $(du -sh "$image/runtime" | cut -f1) runtime image with $(
    "$image/runtime/bin/java" --list-modules | tr '\n' ' ')"
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
