#!/usr/bin/env bash
# What the Linux launcher costs, in four figures:
#   1. wall time of a hello-world application started through the launcher against the same
#      application started by the runtime's own bin/java with the same class path: RUNS pairs
#      (default 20), each pair back to back, and the median of the pairs' ratios (target: at
#      most 1.01);
#   2. the instructions the launcher executes in main before JLI_Launch, counted by callgrind
#      with the test runtime, whose JLI_Launch returns at once, and a 20-line configuration
#      (target: at most 2 million);
#   3. valgrind's memcheck over a whole launch with the test runtime: errors and leaks;
#   4. "app.cds=auto" with the newest JDK before 24 (a class-data archive) and the newest from
#      24 on (an AOT cache), for an application of 3,000 small classes and for Maven (mvn -B -o
#      -q validate on an empty project) when installed: what each start costs against bin/java
#      -cp until the archive or cache is in use (goals: at most 3.5x, a JDK 17 first start at
#      most 2x), the median ratio of later starts against bin/java -cp (goal on JDK 25 and 3,000
#      classes: at most 0.33), and against bin/java with the same archive or cache (goal: at
#      most 1.03).
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
median() {
    printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 }
        END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.4f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
# RUNS pairs of two commands (shell functions), each pair back to back; which one goes first
# alternates, so that neither profits from the other's warm caches. Prints the median of the
# pairs' ratios first/second, then the average milliseconds of each.
paired() {
    local i first second ratios=() first_total=0 second_total=0
    for ((i = 0; i < runs; i++)); do
        if ((i % 2 == 0)); then
            first=$(wall "$1")
            second=$(wall "$2")
        else
            second=$(wall "$2")
            first=$(wall "$1")
        fi
        first_total=$((first_total + first))
        second_total=$((second_total + second))
        ratios+=("$(awk -v a="$first" -v b="$second" 'BEGIN { printf "%.4f", a / b }')")
    done
    echo "$(median "${ratios[@]}") $((first_total / runs / 1000000)) $((second_total / runs / 1000000))"
}

hello_launcher() { "$java_image/HelloApp"; }
hello_java() { "$java_image/runtime/bin/java" -cp "$java_image/app/hello.jar" hello.Main; }
read -r median launcher java < <(paired hello_launcher hello_java)
echo "wall time, $runs pairs: launcher $launcher ms, bin/java $java ms on average;" \
     "median ratio $median (target <= 1.01)"

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

# --- The class-data archive and the AOT cache ------------------------------------------------
# With each JDK found by its release file (the newest before 24, which gets a class-data
# archive on top of its own, and the newest from 24 on, which gets an AOT cache), the JDK
# itself as the runtime: the jlink image lacks the base archive.
jdk_of() { # the highest JAVA_VERSION under /usr/lib/jvm within [$1, $2)
    local release version best=0 home=
    for release in /usr/lib/jvm/*/release; do
        [ -L "$(dirname "$release")" ] && continue
        version=$(sed -n 's/^JAVA_VERSION="\([0-9]*\).*/\1/p' "$release")
        if [ -n "$version" ] && [ "$version" -ge "$1" ] && [ "$version" -lt "$2" ] &&
           [ "$version" -gt "$best" ]; then
            best=$version home=$(dirname "$release")
        fi
    done
    echo "$home"
}
export XDG_CACHE_HOME=$work/cache

# 3,000 classes in a chain: each one's method calls the previous one's.
many=$work/many
mkdir -p "$many/src" "$many/classes"
echo "public class C0 { public static int v() { return 0; } }" >"$many/src/C0.java"
for ((n = 1; n < 3000; n++)); do
    echo "public class C$n { public static int v() { return C$((n - 1)).v() + 1; } }" \
        >"$many/src/C$n.java"
done
echo "public class Main { public static void main(String[] a) { System.out.println(C2999.v()); } }" \
    >"$many/src/Main.java"
javac --release 17 -d "$many/classes" "$many"/src/*.java
jar --create --file "$many/many.jar" -C "$many/classes" .

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# bench_cache NAME JDK COMMAND...: an image of NAME whose launcher runs the application that
# COMMAND (from the JDK's bin/java on) runs; prints the cost of each start until the archive or
# cache is in use, later starts against bin/java, and the launcher against bin/java with the
# same archive or cache.
bench_cache() {
    local name=$1 jdk=$2 image=$work/$1-$(basename "$2")
    shift 2
    mkdir -p "$image/app"
    cp "$build/bin/vantrel" "$image/$name"
    ln -s "$jdk" "$image/runtime"
    {
        echo "[Application]"
        echo "app.cds=auto"
        cfg_application
    } >"$image/app/$name.cfg"
    launcher() { "$image/$name" "${app_args[@]}"; }
    plain() { "$jdk/bin/java" "${java_args[@]}" "${app_args[@]}"; }
    plain >/dev/null; plain >/dev/null # warm file caches
    local java_ms=0 i
    for ((i = 0; i < 5; i++)); do java_ms=$((java_ms + $(wall plain))); done
    java_ms=$((java_ms / 5))

    rm -rf "$XDG_CACHE_HOME"
    local start=1 costs="" began what
    while [ "$start" -le 6 ]; do
        began=$(date +%s%N)
        what=$(VANTREL_DEBUG=true "$image/$name" "${app_args[@]}" 2>&1 >/dev/null |
            sed -n 's/.*\(Class-data archive\|AOT cache\): \([a-z]*\).*/\2/p' | head -n 1)
        costs+=" start $start ($what) $(ratio $(($(date +%s%N) - began)) "$java_ms")x;"
        [ "$what" = use ] && break
        start=$((start + 1))
        sleep 3 # the AOT cache is created in the background
    done
    echo "$name, $(basename "$jdk"): bin/java $((java_ms / 1000000)) ms; until in use, each start against it:$costs"
    read -r median l j < <(paired launcher plain)
    echo "    later starts, $runs pairs: launcher $l ms, bin/java $j ms; median ratio $median"
    local cache
    cache=$(ls "$XDG_CACHE_HOME"/"$name"/cds/*.jsa "$XDG_CACHE_HOME"/"$name"/cds/*.aot 2>/dev/null |
        head -n 1 || true)
    [ -n "$cache" ] || { echo "    no archive or cache was made" >&2; return 1; }
    if [ "${cache##*.}" = aot ]; then
        bare() { "$jdk/bin/java" -Xlog:cds*=off -Xlog:aot*=off -XX:AOTCache="$cache" "${java_args[@]}" "${app_args[@]}"; }
    else
        bare() { "$jdk/bin/java" -Xlog:cds*=off -XX:SharedArchiveFile="$cache" "${java_args[@]}" "${app_args[@]}"; }
    fi
    read -r median l j < <(paired launcher bare)
    echo "    launcher against bin/java with the same $(basename "$cache") ($(($(stat -c %s "$cache") / 1024)) KiB):" \
         "$l ms against $j ms; median ratio $median"
}

for jdk in "$(jdk_of 13 24)" "$(jdk_of 24 1000)"; do
    [ -n "$jdk" ] || continue
    cfg_application() { printf 'app.classpath=%s\napp.mainclass=Main\n' "$many/many.jar"; }
    java_args=(-cp "$many/many.jar" Main)
    app_args=()
    bench_cache Many "$jdk"

    maven_home=/usr/share/maven
    if [ -d "$maven_home/boot" ]; then
        mkdir -p "$work/project"
        printf '%s%s\n' "<project><modelVersion>4.0.0</modelVersion><groupId>b</groupId>" \
            "<artifactId>e</artifactId><version>1</version><packaging>pom</packaging></project>" \
            >"$work/project/pom.xml"
        maven_props=("-Dclassworlds.conf=$maven_home/bin/m2.conf" "-Dmaven.home=$maven_home"
                     "-Dlibrary.jansi.path=$maven_home/lib/jansi-native"
                     "-Dmaven.multiModuleProjectDirectory=$work/project")
        cfg_application() {
            echo "app.classpath=$(echo "$maven_home"/boot/plexus-classworlds-*.jar)"
            echo "app.mainclass=org.codehaus.plexus.classworlds.launcher.Launcher"
            echo "[JavaOptions]"
            printf 'java-options=%s\n' "${maven_props[@]}"
        }
        java_args=(-classpath "$(echo "$maven_home"/boot/plexus-classworlds-*.jar)" "${maven_props[@]}"
                   org.codehaus.plexus.classworlds.launcher.Launcher)
        app_args=(-B -o -q -f "$work/project/pom.xml" validate)
        # Maven's console library writes colour resets to the error stream even with -B.
        bench_cache Mvn "$jdk" 2>/dev/null
    fi
done
