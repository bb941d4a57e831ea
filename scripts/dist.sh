#!/usr/bin/env bash
# The distribution: release builds of vantrel-pack and the launchers for Linux and Windows,
# installed stripped by CMake into dist/vantrel-<version>-linux-x86_64/ and packed by CPack into
# dist/vantrel-<version>-linux-x86_64.tar.gz. Ends with the size of each launcher.
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
echo "    $(du -h "dist/$name.tar.gz" | cut -f1)"

echo "== Launcher sizes"
for launcher in "$out"/share/vantrel/launchers/*/*; do
    printf '    %-52s %8d bytes\n' "${launcher#"$out"/}" "$(stat -c %s "$launcher")"
done
