#!/usr/bin/env bash
# Builds the libFuzzer targets and fuzzes the configuration parser for about a minute, then the
# .ico, PE, jar manifest and update metadata readers for a few seconds each, on copies of the seed corpora. Fails on any crash,
# leak or input slower than one second; the input that failed is kept in the build directory's
# artifacts folder.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${VANTREL_FUZZ_BUILD_DIR:-build/fuzz}
cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build" -j "$(nproc)" --target CfgFileFuzzer IcoFileFuzzer PeImageFuzzer \
    JarManifestFuzzer UpdateMetadataFuzzer

corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
cp tests/fuzz/corpus/cfgfile/* "$corpus/"
mkdir -p "$build/artifacts"

"$build/bin/CfgFileFuzzer" -max_total_time="${VANTREL_FUZZ_SECONDS:-60}" -timeout=1 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/artifacts/" "$corpus"
for target in IcoFile:ico PeImage:pe JarManifest:jar UpdateMetadata:update; do
    rm -rf "${corpus:?}"/*
    cp "tests/fuzz/corpus/${target#*:}"/* "$corpus/"
    "$build/bin/${target%:*}Fuzzer" -max_total_time="${VANTREL_PE_FUZZ_SECONDS:-10}" -timeout=1 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/artifacts/" "$corpus"
done
echo "fuzz: no crash, leak or slow input"
