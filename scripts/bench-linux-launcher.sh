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
#   4. the class-data archive ("app.cds=auto"): the median ratio of later starts through the
#      launcher against bin/java -cp of the same JAR, for an application of 3,000 small
#      classes (target: at most 0.5) and for Maven (mvn -B -o -q validate on an empty project),
#      when installed; and what the first start, which makes the archive, costs.
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

# --- The class-data archive ----------------------------------------------------------------
# The JDK itself as the runtime: a dynamic archive extends the runtime's own, which the jlink
# image lacks.
jdk=$(dirname "$(dirname "$(readlink -f "$(command -v javac)")")")
export XDG_CACHE_HOME=$work/cache

# 3,000 classes in a chain: each one's method calls the previous one's.
many=$work/many
mkdir -p "$many/src" "$many/classes" "$many/image/app"
echo "public class C0 { public static int v() { return 0; } }" >"$many/src/C0.java"
for ((n = 1; n < 3000; n++)); do
    echo "public class C$n { public static int v() { return C$((n - 1)).v() + 1; } }" \
        >"$many/src/C$n.java"
done
echo "public class Main { public static void main(String[] a) { System.out.println(C2999.v()); } }" \
    >"$many/src/Main.java"
javac -d "$many/classes" "$many"/src/*.java
jar --create --file "$many/image/app/many.jar" -C "$many/classes" .
cp "$build/bin/vantrel" "$many/image/Many"
ln -s "$jdk" "$many/image/runtime"
printf '[Application]\napp.cds=auto\napp.classpath=$APPDIR/many.jar\napp.mainclass=Main\n' \
    >"$many/image/app/Many.cfg"

many_launcher() { "$many/image/Many"; }
many_java() { "$jdk/bin/java" -cp "$many/image/app/many.jar" Main; }
many_first() { rm -rf "$XDG_CACHE_HOME"; "$many/image/Many"; }
read -r first_ratio first_ms first_java_ms < <(runs=$(((runs + 1) / 2)) paired many_first many_java)
archive=$(ls "$XDG_CACHE_HOME"/Many/cds/*.jsa)
read -r median launcher java < <(paired many_launcher many_java)
echo "3,000 classes with app.cds=auto, $runs pairs: launcher $launcher ms, bin/java -cp $java ms" \
     "on average; median ratio $median (target <= 0.5)"
echo "    first start, which makes the archive ($(($(stat -c %s "$archive") / 1024)) KiB):" \
     "$first_ms ms against $first_java_ms ms, median ratio $first_ratio"

maven_home=/usr/share/maven
if [ -d "$maven_home/boot" ] && [ -d "$jdk/lib/server" ]; then
    maven=$work/maven
    mkdir -p "$maven/project" "$maven/image/app"
    printf '%s%s\n' "<project><modelVersion>4.0.0</modelVersion><groupId>b</groupId>" \
        "<artifactId>e</artifactId><version>1</version><packaging>pom</packaging></project>" \
        >"$maven/project/pom.xml"
    cp "$build/bin/vantrel" "$maven/image/Mvn"
    ln -s "$jdk" "$maven/image/runtime"
    maven_props=("-Dclassworlds.conf=$maven_home/bin/m2.conf" "-Dmaven.home=$maven_home"
                 "-Dlibrary.jansi.path=$maven_home/lib/jansi-native"
                 "-Dmaven.multiModuleProjectDirectory=$maven/project")
    {
        echo "[Application]"
        echo "app.cds=auto"
        echo "app.classpath=$(echo "$maven_home"/boot/plexus-classworlds-*.jar)"
        echo "app.mainclass=org.codehaus.plexus.classworlds.launcher.Launcher"
        echo "[JavaOptions]"
        printf 'java-options=%s\n' "${maven_props[@]}"
        echo "[ArgOptions]"
        printf 'arguments=%s\n' -B -o -q validate
    } >"$maven/image/app/Mvn.cfg"
    # Maven's console library writes colour resets to the error stream even with -B.
    maven_launcher() { (cd "$maven/project" && "$maven/image/Mvn" 2>/dev/null); }
    maven_java() {
        (cd "$maven/project" && "$jdk/bin/java" -classpath "$maven_home"/boot/plexus-classworlds-*.jar \
            "${maven_props[@]}" org.codehaus.plexus.classworlds.launcher.Launcher -B -o -q validate \
            2>/dev/null)
    }
    # The first start makes the archive; it must work.
    maven_launcher >/dev/null || { echo "Maven does not run through the launcher" >&2; exit 1; }
    read -r median launcher java < <(paired maven_launcher maven_java)
    echo "Maven (mvn -B -o -q validate) with app.cds=auto, $runs pairs: launcher $launcher ms," \
         "bin/java -cp $java ms on average; median ratio $median"
fi
