#!/usr/bin/env bash
# The distribution: release builds of vantrel-pack and the launchers for Linux (x86-64 and, cross-
# built, aarch64) and Windows,
# installed stripped by CMake into dist/vantrel-<version>-linux-x86_64/ and packed by CPack into
# dist/vantrel-<version>-linux-x86_64.tar.gz; the tool for Windows hosts into
# dist/vantrel-<version>-windows-x86_64.zip (bin/vantrel-pack.exe and the Windows launchers),
# checked by packing an image with it under Wine. Ends with the size of each launcher.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

version=$(sed -n 's/^set(VANTREL_VERSION \(.*\))$/\1/p' cmake/Pack.cmake)
name=vantrel-$version-linux-x86_64
out=$PWD/dist/$name
jobs=$(nproc)

echo "== Building the Linux and Windows release binaries"
cmake --preset linux >/dev/null
cmake --build --preset linux -j "$jobs" --target vantrel vantrel-pack >/dev/null
cmake --preset windows >/dev/null
windows_targets=(vantrel vantrel-pack)
# The windowed launcher goes in as soon as the build has it.
if cmake --build --preset windows --target help | grep -q '^vantrelw:'; then
    windows_targets+=(vantrelw)
fi
cmake --build --preset windows -j "$jobs" --target "${windows_targets[@]}" >/dev/null

echo "== Installing into $out"
rm -rf "$out" "dist/$name.tar.gz"
cmake --install build/linux --prefix "$out" --strip >/dev/null
cmake --install build/windows --prefix "$out" --strip --component launchers >/dev/null
(cd "$out" && find . -type f | sort | sed 's/^/    /')

echo "== Packing dist/$name.tar.gz"
cpack --config build/linux/CPackConfig.cmake -B "$PWD/dist" >/dev/null
rm -rf dist/_CPack_Packages
tar -tzf "dist/$name.tar.gz" | grep -q "^$name/bin/vantrel-pack$"
tar -tzf "dist/$name.tar.gz" | grep -q "^$name/share/vantrel/launchers/linux-aarch64/vantrel$"
echo "    $(du -h "dist/$name.tar.gz" | cut -f1)"

win=vantrel-$version-windows-x86_64
echo "== Packing dist/$win.zip"
rm -rf "dist/$win" "dist/$win.zip"
for component in tool launchers; do
    cmake --install build/windows --prefix "dist/$win" --strip --component "$component" >/dev/null
done
(cd "dist/$win" && find . -type f | sort | sed 's/^/    /' && find . -type f | sed "s|^\./||" | sort | zip -qX "../$win.zip" -@)
rm -rf "dist/$win"
check=$(mktemp -d /tmp/vantrel-dist-XXXXXX)
trap 'rm -rf "$check"' EXIT
unzip -q "dist/$win.zip" -d "$check/tool"
mkdir -p "$check/in" "$check/runtime/bin"
touch "$check/in/app.jar" "$check/runtime/bin/jli.dll"
WINEDEBUG=-all wine "$check/tool/bin/vantrel-pack.exe" --quiet --name Check --input "$check/in" \
    --dest "$check/out" --main-jar app.jar --main-class app.Main --runtime "$check/runtime"
test -f "$check/out/Check/Check.exe"
# The installer and the Debian package are the Linux build's work: one line says so.
! WINEDEBUG=-all wine "$check/tool/bin/vantrel-pack.exe" --name Check --input "$check/in" \
    --dest "$check/msi" --main-jar app.jar --main-class app.Main --runtime "$check/runtime" \
    --type msi 2>"$check/err"
grep -q '^vantrel-pack: --type msi needs the Linux build of vantrel-pack' "$check/err"
echo "    $(du -h "dist/$win.zip" | cut -f1), packs an image under Wine"

echo "== Launcher sizes"
for launcher in "$out"/share/vantrel/launchers/*/*; do
    printf '    %-52s %8d bytes\n' "${launcher#"$out"/}" "$(stat -c %s "$launcher")"
done
