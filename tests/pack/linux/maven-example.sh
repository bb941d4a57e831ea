#!/usr/bin/env bash
# The README's Maven example, as written: its pom.xml and vantrel.options build a small application with a
# dependency offline against Debian's Maven repository, packs it with the vantrel-pack found on
# PATH, and the image runs; a second build replaces the image with the new one.
#
#   maven-example.sh README.md BIN_DIR   (BIN_DIR holds vantrel-pack)
set -euo pipefail
readme=$1
export PATH="$(cd "$2" && pwd):$PATH"

fail() {
    echo "FAILED: $*" >&2
    exit 1
}

work=$(mktemp -d /tmp/vantrel-maven-XXXXXX)
trap 'rm -rf "$work"' EXIT
project=$work/hello
mkdir -p "$project/src/main/java/hello"
# The code block after the README's mark "maven-example: FILE".
extract() {
    awk -v mark="<!-- maven-example: $1 -->" '$0 == mark { marked = 1; next }
         marked && /^```/ && !inside { inside = 1; next }
         inside && /^```/ { exit }
         inside { print }' "$readme" >"$project/$1"
}
extract pom.xml
extract vantrel.options
grep -q '<executable>vantrel-pack</executable>' "$project/pom.xml" ||
    fail "no pom.xml found in $readme"
grep -q '^--name HelloApp$' "$project/vantrel.options" || fail "no vantrel.options found in $readme"

write_main() {
    cat >"$project/src/main/java/hello/Main.java" <<JAVA
package hello;

import org.apache.commons.lang3.StringUtils;

public class Main {
    public static void main(String[] args) {
        System.out.println(StringUtils.capitalize("$1") + " " + String.join(",", args));
    }
}
JAVA
}

build() {
    (cd "$project" && mvn -B -o -q -Dmaven.repo.local=/usr/share/maven-repo package) \
        >"$work/mvn.log" 2>&1 || { cat "$work/mvn.log" >&2; fail "mvn package: $1"; }
}

expect_output() {
    local out
    out=$("$project/target/image/HelloApp/HelloApp" a b) || fail "the image exits with $?"
    [ "$out" = "$1" ] || fail "the image printed \"$out\", not \"$1\""
}

write_main first
build "first build"
expect_output "First a,b"
grep -qx 'java-options=-Dhello.greeting=Hello there' "$project/target/image/HelloApp/app/HelloApp.cfg" ||
    fail "the image lacks the Java option of vantrel.options"

# Build tools run package again and again: the second build replaces the image.
write_main second
build "second build"
expect_output "Second a,b"
[ -z "$(find "$project/target/image" -mindepth 1 -maxdepth 1 ! -name HelloApp)" ] ||
    fail "the destination holds more than the image: $(ls -A "$project/target/image")"
echo "The README's Maven example builds, packs, runs and rebuilds."
