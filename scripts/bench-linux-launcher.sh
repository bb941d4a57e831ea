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
#   4. images packed with no option, with the newest JDK before 24 and the newest from 24 on,
#      for hello world, 3,000 small classes and Debian's checkstyle: the first start with an
#      empty cache against bin/java -cp (goal: at most 1.15x), later starts (goals: hello world
#      at most 0.90x; 3,000 classes at most 0.30x on JDK 17 and 0.22x on JDK 25; checkstyle at
#      most 0.80x and 0.75x), the launcher against bin/java given the same archive (at most
#      1.03x), the image's size, and all of it again without any base archive.
# A benchmark, not a test: it prints figures and fails only when something does not run.
#
#   bash scripts/bench-linux-launcher.sh [build directory]   (default: build/linux)
#
# LAUNCHER=FILE measures another launcher binary in figures 1 to 3, such as one built before the
# shipped launcher took libstdc++ in statically (figure 1 is the start overhead against bin/java).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/linux}
runs=${RUNS:-20}
launcher_binary=${LAUNCHER:-$build/bin/vantrel}

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
cp "$launcher_binary" "$java_image/HelloApp"
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
cp "$launcher_binary" "$test_image/HelloApp"
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

# --- The start-up archive of packed images ---------------------------------------------------
# With each JDK found by its release file (the newest before 24 and the newest from 24 on),
# images packed by vantrel-pack with no option (a runtime linked from that JDK, with its base
# archive), for hello world, an application of 3,000 classes and Debian's checkstyle: each
# against the JDK's own bin/java with the same class path, then the same image without any
# base archive.
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
cmake --build "$build" -j "$(nproc)" --target vantrel-pack >/dev/null
export XDG_CACHE_HOME=$work/cache

# 3,000 classes in a chain: each one's method calls the previous one's.
many=$work/many
mkdir -p "$many/src" "$many/classes" "$many/in"
echo "public class C0 { public static int v() { return 0; } }" >"$many/src/C0.java"
for ((n = 1; n < 3000; n++)); do
    echo "public class C$n { public static int v() { return C$((n - 1)).v() + 1; } }" \
        >"$many/src/C$n.java"
done
echo "public class Main { public static void main(String[] a) { System.out.println(C2999.v()); } }" \
    >"$many/src/Main.java"
javac --release 11 -d "$many/classes" "$many"/src/*.java
jar --create --file "$many/in/many.jar" --main-class Main -C "$many/classes" .
mkdir -p "$work/hello"
cp "$build/launcherjava/hello.jar" "$work/hello/"
checkstyle_jars="antlr4-runtime.jar commons-lang3.jar commons-beanutils.jar commons-collections3.jar
    guava.jar commons-cli.jar commons-logging.jar picocli.jar Saxon-HE.jar reflections.jar"
if [ -f /usr/share/java/checkstyle.jar ]; then
    mkdir -p "$work/checkstyle/lib"
    cp /usr/share/java/checkstyle.jar "$work/checkstyle/"
    for jar in $checkstyle_jars; do cp "/usr/share/java/$jar" "$work/checkstyle/lib/"; done
    printf 'public class Checked {\n    public static void main(String[] args) { }\n}\n' \
        >"$work/Checked.java"
fi

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
archive_of() { ls "$XDG_CACHE_HOME"/"$1"/cds/*.jsa 2>/dev/null | head -n 1 || true; }
await_archive() {
    local i
    for ((i = 0; i < 600; i++)); do
        [ -n "$(archive_of "$1")" ] && return 0
        sleep 0.1
    done
    echo "    no archive was made" >&2
    return 1
}

# bench_image NAME IMAGE JDK: the image's launcher NAME against JDK/bin/java with java_args,
# both with app_args. First starts with an empty cache, each after a plain start (the median of
# 5), later starts (RUNS pairs), and the launcher against bin/java given the same archive.
bench_image() {
    local name=$1 image=$2 jdk=$3 i began first firsts=() archive
    launcher() { "$image/$name" "${app_args[@]}"; }
    plain() { "$jdk/bin/java" "${java_args[@]}" "${app_args[@]}"; }
    # The same output, but for the process and the launcher that hello world names.
    same() { "$@" 2>&1 | sed '/in process\|launched by/d'; }
    [ "$(same launcher)" = "$(same plain)" ] || { echo "    $name: not the same output" >&2; return 1; }
    # Each first start after the creation that the one before started has ended: it would
    # take a core from the starts measured.
    await_archive "$name" && sleep 2
    for ((i = 0; i < 5; i++)); do
        rm -rf "$XDG_CACHE_HOME"
        began=$(wall plain)
        first=$(wall launcher)
        firsts+=("$(ratio "$first" "$began")")
        await_archive "$name" && sleep 2
    done
    archive=$(archive_of "$name")
    read -r median l j < <(paired launcher plain)
    echo "    first start $(median "${firsts[@]}")x; later starts $median ($l ms against $j ms)"
    # The image's own runtime, with the class path and main class of its configuration.
    local cfg=$image/app/$name.cfg cp main
    cp=$(sed -n 's/^app.classpath=//p' "$cfg" | sed "s|\$APPDIR|$image/app|" | paste -sd:)
    main=$(sed -n 's/^app.mainclass=//p' "$cfg")
    local quiet=(-Xlog:cds*=off)
    [ "${jdk_version:-0}" -lt 25 ] || quiet+=(-Xlog:aot*=off)
    bare() {
        "$image/runtime/bin/java" "${quiet[@]}" -XX:SharedArchiveFile="$archive" -cp "$cp" \
            "$main" "${app_args[@]}"
    }
    read -r median l j < <(paired launcher bare)
    echo "    launcher against the image's bin/java with the same archive" \
         "($(($(stat -c %s "$archive") / 1024)) KiB): $median"
}

# bench_app NAME INPUT JDK PACK_OPTIONS...: packs with no archive option, then benchmarks the
# image as packed and without any base archive.
bench_app() {
    local name=$1 input=$2 jdk=$3 dest=$work/images/$(basename "$3")
    shift 3
    "$build/bin/vantrel-pack" --name "$name" --input "$input" --dest "$dest" \
        --jlink-from "$jdk" --quiet "$@"
    local base=$dest/$name/runtime/lib/server/classes.jsa
    echo "$name, $(basename "$jdk"): image $(($(du -sb "$dest/$name" | cut -f1) / 1048576)) MiB," \
         "of which the base archive $(($(stat -c %s "$base") / 1048576)) MiB"
    bench_image "$name" "$dest/$name" "$jdk"
    rm -f "$dest/$name"/runtime/lib/server/*.jsa
    echo "  without any base archive:"
    bench_image "$name" "$dest/$name" "$jdk"
}

for range in "11 24" "24 1000"; do
    jdk=$(jdk_of $range)
    if [ -z "$jdk" ]; then
        echo "no JDK with a version in [${range/ /, }) under /usr/lib/jvm: skipped"
        continue
    fi
    jdk_version=$(sed -n 's/^JAVA_VERSION="\([0-9]*\).*/\1/p' "$jdk/release")
    java_args=(-cp "$work/hello/hello.jar" hello.Main)
    app_args=()
    bench_app Hello "$work/hello" "$jdk" --main-jar hello.jar --main-class hello.Main
    java_args=(-cp "$many/in/many.jar" Main)
    bench_app Many "$many/in" "$jdk" --main-jar many.jar
    if [ -d "$work/checkstyle" ]; then
        java_args=(-cp "$work/checkstyle/checkstyle.jar:$(printf "$work/checkstyle/lib/%s:" $checkstyle_jars)"
                   com.puppycrawl.tools.checkstyle.Main)
        app_args=(-c /google_checks.xml "$work/Checked.java")
        bench_app Checkstyle "$work/checkstyle" "$jdk" --main-jar checkstyle.jar \
            --class-path 'lib/*' --main-class com.puppycrawl.tools.checkstyle.Main
    fi
done
