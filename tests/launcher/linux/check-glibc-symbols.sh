#!/usr/bin/env bash
# Fails for a launcher that would not start on glibc 2.17: a symbol version newer than
# GLIBC_2.17, or a need of libstdc++ or libgcc_s. Reads the ELF files only (readelf works for
# every architecture), so it checks the ARM launcher here too.
set -euo pipefail
status=0
for launcher in "$@"; do
    needed=$(readelf -d "$launcher" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
    bad_needed=$(grep -E '^(libstdc\+\+|libgcc_s)' <<<"$needed" || true)
    # Every version a symbol or a needed library names: GLIBC_2.2.5 and the like.
    versions=$(readelf -V -W "$launcher" | grep -oE 'Name: GLIBC_[0-9.]+' | sed 's/Name: //' |
               sort -u -V)
    newer=$(for v in $versions; do
        printf '%s\n%s\n' "$v" GLIBC_2.17 | sort -V -C || echo "$v"
    done)
    users=$(for v in $newer; do
        readelf --dyn-syms -W "$launcher" | awk -v v="@$v" 'index($8, v) {print "  " $8}'
    done)
    if [ -n "$bad_needed$newer" ] || [ -z "$versions" ]; then
        echo "$launcher: needs" $bad_needed ${newer:-"no glibc version at all"}
        [ -z "$users" ] || echo "$users"
        status=1
    else
        echo "$launcher: glibc $(tail -1 <<<"$versions" | sed 's/GLIBC_//') at most; needs $(tr '\n' ' ' <<<"$needed")"
    fi
done
exit $status
