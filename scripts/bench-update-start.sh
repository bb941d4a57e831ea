#!/usr/bin/env bash
# What the update check costs the Windows launcher, under Wine, with the test runtime (whose
# JLI_Launch returns at once):
#   1. the start with a check due (check=every-start: the check is started in the background)
#      against the same start with check=never: RUNS pairs (default 20), back to back, which
#      one goes first alternating; the medians of both and of the pairs' differences (goal:
#      under 5 ms);
#   2. one whole check run in the foreground (metadata, signature, a 4 MiB package, SHA-256)
#      from a loopback site: its wall time and the peak resident memory of its Wine process,
#      against a start with check=never.
# A benchmark, not a test: it prints figures and fails only when something does not run.
#
#   bash scripts/bench-update-start.sh [windows build directory]   (default: build/windows)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/windows}
runs=${RUNS:-20}
export WINEDEBUG=-all WINEPREFIX=${WINEPREFIX:-$HOME/.wine}

cmake --build "$build" -j "$(nproc)" --target vantrel testruntime_jli >/dev/null
work=$(mktemp -d /tmp/vantrel-bench-update-XXXXXX)
server= cache=
cleanup() {
    wineserver -k 2>/dev/null || true
    rm -rf "$cache"
    [ -n "$server" ] && kill "$server" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# A signed site: metadata naming a 4 MiB package of version 9.0.
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$work/key.pem" 2>/dev/null
key=$(openssl pkey -in "$work/key.pem" -pubout -outform DER | tail -c 64 | od -An -tx1 | tr -d ' \n')
mkdir -p "$work/site/windows/Bench"
head -c 4194304 /dev/urandom >"$work/site/windows/Bench/Bench-9.0.msi"
{
    printf 'format=vantrel-update-1\nname=Bench\ntype=msi\nversion=9.0\norder=9.0.0.0\n'
    printf 'sequence=1\npublished=%s\nurl=windows/Bench/Bench-9.0.msi\nsize=4194304\n' "$(date +%s)"
    printf 'sha256=%s\n' "$(sha256sum "$work/site/windows/Bench/Bench-9.0.msi" | cut -c1-64)"
} >"$work/signed"
openssl dgst -sha256 -sign "$work/key.pem" -out "$work/sig.der" "$work/signed"
raw=$(python3 -c '
import sys
der = open(sys.argv[1], "rb").read()
r_len = der[3]; r = der[4:4 + r_len]; s = der[6 + r_len:]
print((r.lstrip(b"\0").rjust(32, b"\0") + s.lstrip(b"\0").rjust(32, b"\0")).hex())' "$work/sig.der")
cp "$work/signed" "$work/site/windows/Bench/update-msi.txt"
echo "signature=$raw" >>"$work/site/windows/Bench/update-msi.txt"
python3 -m http.server --bind 127.0.0.1 0 --directory "$work/site" >"$work/server.log" 2>&1 &
server=$!
port=
for _ in $(seq 100); do
    port=$(sed -n 's/.* port \([0-9]*\) .*/\1/p' "$work/server.log")
    [ -n "$port" ] && break
    sleep 0.05
done

# One image per setting; LOCALAPPDATA of the bench's own.
image() {
    mkdir -p "$work/$1/app" "$work/$1/runtime"
    cp "$build/bin/vantrel.exe" "$work/$1/Bench.exe"
    cp -r "$build/testruntime/." "$work/$1/runtime/"
    printf '[Application]\napp.mainclass=bench.Main\nwin.norestart=true\n\n[Update]\n' \
        >"$work/$1/app/Bench.cfg"
    printf 'url=http://127.0.0.1:%s/\nmetadata=windows/Bench/update-msi.txt\nkey=%s\n' \
        "$port" "$key" >>"$work/$1/app/Bench.cfg"
    printf 'check=%s\nmode=ask\nversion=1.0\norder=1.0.0.0\n' "$2" >>"$work/$1/app/Bench.cfg"
}
image due every-start
image never never
# The pairs time starts, not the Wine server's.
wineserver -k 2>/dev/null || true
wineserver -p 600
# Wine sets the user's folders itself: the cache is the Wine user's.
cache=$(winepath -u "$(wine cmd /c 'echo %LOCALAPPDATA%' | tr -d '\r')")/Bench
rm -rf "$cache"

ms() {
    local start
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1 || true
    echo $((($(date +%s%N) - start) / 1000))
}
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

due=() never=() diff=()
for i in $(seq "$runs"); do
    if ((i % 2)); then
        a=$(ms wine "$work/due/Bench.exe"); b=$(ms wine "$work/never/Bench.exe")
    else
        b=$(ms wine "$work/never/Bench.exe"); a=$(ms wine "$work/due/Bench.exe")
    fi
    sleep 2 # the background check ends before the next pair
    due+=("$a") never+=("$b") diff+=($((a - b)))
done
echo "start, check due:   median $(median "${due[@]}") us"
echo "start, check=never: median $(median "${never[@]}") us"
echo "difference:         median $(median "${diff[@]}") us over $runs pairs"

# One check in the foreground: the role that a start gives its background process.
rm -rf "$cache"
check=$( { /usr/bin/time -f '%e s %M KiB' env VANTREL_UPDATE=check wine "$work/due/Bench.exe"; } 2>&1 | tail -1)
plain=$( { /usr/bin/time -f '%e s %M KiB' wine "$work/never/Bench.exe"; } 2>&1 | tail -1)
ls "$cache/update/ready.txt" >/dev/null 2>&1 || echo "the check made nothing ready" >&2
echo "one check (4 MiB package): $check; a start with check=never: $plain"
