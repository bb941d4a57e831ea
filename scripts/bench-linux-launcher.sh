#!/usr/bin/env bash
# What the Linux launcher costs, in three figures:
#   1. wall time of a hello-world application started through the launcher against the same
#      application started by the runtime's own bin/java with the same class path: RUNS pairs
#      (default 20), each pair back to back, and the median of the pairs' ratios (target: at
#      most 1.01);
#   2. the instructions the launcher executes in main before JLI_Launch, counted by callgrind
#      with the test runtime, whose JLI_Launch returns at once, and a 20-line configuration
#      (target: at most 2 million);
#   3. valgrind's memcheck over a whole launch with the test runtime: errors and leaks.
# A benchmark, not a test: it prints figures and fails only when something does not run.
#
#   bash scripts/bench-linux-launcher.sh [build directory]   (default: build/linux)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/linux}
runs=${RUNS:-20}

command -v valgrind >/dev/null || { echo "valgrind is needed" >&2; exit 1; }
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" -j "$(nproc)" --target vantrel vantrel_linux_java testruntime_jli \
    >/dev/null

work=$(mktemp -d /tmp/vantrel-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT

# An image with the jlink runtime and the hello-world application.
java_image=$work/java
mkdir -p "$java_image/app"
cp "$build/bin/vantrel" "$java_image/HelloApp"
cp -r "$build/jlinkruntime" "$java_image/runtime"
cp "$build/launcherjava/hello.jar" "$java_image/app/"
cat >"$java_image/app/HelloApp.cfg" <<'CFG'
[Application]
app.classpath=$APPDIR/hello.jar
app.mainclass=hello.Main
CFG

# Nanoseconds that one run of the command takes.
wall() {
    local start
    start=$(date +%s%N)
    "$@" >/dev/null
    echo $(($(date +%s%N) - start))
}
ratios=()
launcher_total=0
java_total=0
for ((i = 0; i < runs; i++)); do
    # Which one goes first alternates, so that neither profits from the other's warm caches.
    if ((i % 2 == 0)); then
        launcher=$(wall "$java_image/HelloApp")
        java=$(wall "$java_image/runtime/bin/java" -cp "$java_image/app/hello.jar" hello.Main)
    else
        java=$(wall "$java_image/runtime/bin/java" -cp "$java_image/app/hello.jar" hello.Main)
        launcher=$(wall "$java_image/HelloApp")
    fi
    launcher_total=$((launcher_total + launcher))
    java_total=$((java_total + java))
    ratios+=("$(awk -v a="$launcher" -v b="$java" 'BEGIN { printf "%.4f", a / b }')")
done
median=$(printf '%s\n' "${ratios[@]}" | sort -g | awk '{ v[NR] = $1 }
    END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.4f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }')
echo "wall time, $runs pairs: launcher $((launcher_total / runs / 1000000)) ms," \
     "bin/java $((java_total / runs / 1000000)) ms on average; median ratio $median (target <= 1.01)"

# An image with the test runtime and a configuration of 20 lines.
test_image=$work/test
mkdir -p "$test_image/app"
cp "$build/bin/vantrel" "$test_image/HelloApp"
cp -r "$build/testruntime" "$test_image/runtime"
{
    echo "[Application]"
    echo "app.mainclass=hello.Main"
    for n in 1 2 3 4 5; do echo "app.classpath=\$APPDIR/lib$n.jar"; done
    echo "[JavaOptions]"
    for n in 1 2 3 4 5 6; do echo "java-options=-Dbench.option$n=\$ROOTDIR/value $n"; done
    echo "java-options=-Xmx64m"
    echo "[ArgOptions]"
    for n in 1 2 3 4; do echo "arguments=argument $n"; done
} >"$test_image/app/HelloApp.cfg"
[ "$(wc -l <"$test_image/app/HelloApp.cfg")" -eq 20 ]

# Collected only inside main, and dumped when JLI_Launch is entered: the first part holds
# the launcher's own work up to the call.
valgrind -q --tool=callgrind --collect-atstart=no --toggle-collect=main \
    --dump-before=JLI_Launch --callgrind-out-file="$work/callgrind.%p" \
    "$test_image/HelloApp" >/dev/null
first_part=$(ls "$work"/callgrind.*.1 2>/dev/null | head -n 1)
[ -n "$first_part" ] || { echo "callgrind wrote no part before JLI_Launch" >&2; exit 1; }
instructions=$(awk '/^summary:/ { print $2 }' "$first_part")
whole=$(valgrind -q --tool=callgrind --callgrind-out-file="$work/whole.out" \
    "$test_image/HelloApp" >/dev/null && awk '/^summary:/ { print $2 }' "$work/whole.out")
echo "instructions in main before JLI_Launch (20-line configuration): $instructions" \
     "(target <= 2000000); whole process, loader and exit included: $whole"

memcheck=$(valgrind --leak-check=full --show-leak-kinds=all \
    --suppressions=tests/launcher/linux/memcheck.supp "$test_image/HelloApp" 2>&1 >/dev/null |
    grep -E 'ERROR SUMMARY|lost:|reachable:|no leaks' |
    sed -E 's/^==[0-9]+== +//')
echo "memcheck of a whole launch:"
echo "$memcheck" | sed 's/^/    /'
