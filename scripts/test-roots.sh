#!/usr/bin/env bash
# The foreign systems the Linux tests run images on, made once per machine and kept under
# /var/cache/vantrel-test (VANTREL_TEST_CACHE):
#   jdk17-arm64/    Debian's JDK 17 for 64-bit ARM, unpacked (jmods and a runtime), nothing
#                   installed: images for linux-aarch64 link from it and run under qemu-user.
#   bullseye/       a Debian 11 root (glibc 2.31) with its own JDK 17, for chroot.
# Each is built in a temporary sibling and renamed into place when complete, so an interrupted
# run leaves nothing that a later one would take for a finished root.
set -euo pipefail
cache=${VANTREL_TEST_CACHE:-/var/cache/vantrel-test}
mirror=${VANTREL_DEBIAN_MIRROR:-http://deb.debian.org/debian}
mkdir -p "$cache"
# What an interrupted run left.
rm -rf "$cache"/.jdk17-arm64.*
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

if [ ! -d "$cache/jdk17-arm64" ]; then
    echo "Fetching Debian's JDK 17 for arm64 into $cache/jdk17-arm64"
    tmp=$(mktemp -d "$cache/.jdk17-arm64.XXXXXX")
    if ! dpkg --print-foreign-architectures | grep -qx arm64; then
        $sudo dpkg --add-architecture arm64
        $sudo apt-get update -qq
    fi
    (cd "$tmp" && apt-get download -qq openjdk-17-jdk-headless:arm64 openjdk-17-jre-headless:arm64)
    for deb in "$tmp"/*.deb; do
        dpkg -x "$deb" "$tmp/root"
    done
    jdk=$(dirname "$(dirname "$(find "$tmp/root/usr/lib/jvm" -path '*/jmods/java.base.jmod')")")
    mv "$jdk" "$tmp/jdk"
    rm -rf "$tmp/root" "$tmp"/*.deb
    mv "$tmp/jdk" "$tmp.done" && rmdir "$tmp" && mv "$tmp.done" "$cache/jdk17-arm64"
fi

if [ ! -x "$cache/bullseye/usr/lib/jvm/java-17-openjdk-amd64/bin/java" ]; then
    echo "Making a Debian 11 root with its JDK 17 in $cache/bullseye (a few minutes)"
    command -v debootstrap >/dev/null || $sudo apt-get install -y -qq debootstrap >/dev/null
    rm -rf "$cache"/.bullseye.*
    tmp=$(mktemp -d "$cache/.bullseye.XXXXXX")
    $sudo debootstrap --variant=minbase bullseye "$tmp" "$mirror" >"$tmp.log" 2>&1 ||
        { tail -20 "$tmp.log"; exit 1; }
    printf 'deb %s bullseye main\ndeb %s-security bullseye-security main\n' \
        "$mirror" "$mirror" >"$tmp/etc/apt/sources.list"
    # /proc for the JDK's installation, in a mount namespace that ends with it: nothing stays
    # mounted in the root, even when this is interrupted.
    $sudo unshare --mount sh -c 'mount -t proc proc "$0/proc" && exec chroot "$0" sh -c \
        "apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
         --no-install-recommends openjdk-17-jre-headless && apt-get clean"' "$tmp" \
        >>"$tmp.log" 2>&1 || { tail -20 "$tmp.log"; exit 1; }
    chmod 755 "$tmp"
    rm -rf "$cache/bullseye" "$tmp.log"
    mv "$tmp" "$cache/bullseye"
fi
