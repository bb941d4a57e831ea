#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian machine, and prepares Wine's prefix.
set -euo pipefail

packages=(cmake ninja-build g++ clang libclang-rt-14-dev googletest libbenchmark-dev
          g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64
          valgrind zlib1g-dev libz-mingw-w64-dev
          # Debian's own Java applications, packed by the tests.
          rhino jflex checkstyle
          # The README's Maven example, offline against Debian's Maven repository.
          maven libmaven-compiler-plugin-java libmaven-resources-plugin-java
          libmaven-jar-plugin-java libmaven-dependency-plugin-java libexec-maven-plugin-java
          libsurefire-java libcommons-lang3-java
          # Installable packages and their signatures.
          wixl msitools dpkg-dev desktop-file-utils osslsigncode openssl zip unzip
          # rpm packages: rpmbuild, and rpmlint to check them.
          rpm rpmlint
          # The desktop's file types: the database, and xdg-mime to ask it.
          shared-mime-info xdg-utils libfile-mimeinfo-perl
          # A signed apt repository for the release site.
          apt-utils gnupg
          # The release sites that the tests serve on loopback ports; the update bench's figures.
          python3 time
          # The launcher for 64-bit ARM (zlib1g-dev:arm64 below), ARM images under emulation,
          # and an older Debian to run images on.
          g++-aarch64-linux-gnu qemu-user debootstrap)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# The ARM launcher's zlib, and the libraries that ARM runtimes need under qemu-user (and that
# dpkg-shlibdeps reads for arm64 packages), as arm64 packages installed beside the amd64 ones.
if ! dpkg --print-foreign-architectures | grep -qx arm64; then
    $([ "$(id -u)" -eq 0 ] || echo sudo) dpkg --add-architecture arm64
fi
for p in zlib1g-dev:arm64 libstdc++6:arm64; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# Any JDK will do for javac, jar and jlink; Debian's default one when there is none.
command -v javac >/dev/null && command -v jlink >/dev/null || missing+=(default-jdk-headless)
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
fi

# The first Wine start creates its prefix; do it once here, quietly.
if [ ! -f "${WINEPREFIX:-$HOME/.wine}/system.reg" ]; then
    WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d" wineboot -i \
        >/dev/null 2>&1 || true
    wineserver -w || true
fi
