#!/usr/bin/env bash
# `make test`'s parts, one after another: runs `make PART` for each PART (every part to its end,
# even after an earlier one failed), shows its output and keeps it in DIR/PART.log, writes one
# status line to DIR/PART.status, and ends with those lines, so that the interpreters' results
# do not scroll away above the browser's. Exits 1 when any part failed.
#
#   MAKE=make tools/test_parts.sh DIR PART...
set -uo pipefail

dir=$1
shift
make=${MAKE:-make}
rm -rf "$dir"
mkdir -p "$dir"

label() {
    case $1 in
        build-variant39) echo "variant build" ;;
        test39) echo "CPython 3.9" ;;
        test311) echo "CPython 3.11" ;;
        test-browser) echo "browser" ;;
        *) echo "$1" ;;
    esac
}

failed=0
for part in "$@"; do
    start=$SECONDS
    $make "$part" 2>&1 | tee "$dir/$part.log"
    status=${PIPESTATUS[0]}
    took=$((SECONDS - start))
    result=passed
    if [ "$status" -ne 0 ]; then
        result=FAILED
        failed=1
    fi
    # pytest's closing line ("==== 812 passed, 4 skipped in 301.20s ===="), without its rules.
    counts=$(grep -E '^(=+ )?[0-9]+ (passed|failed|errors?|skipped|deselected|xfailed|xpassed|warnings?)(, [0-9]+ [a-z]+)* in [0-9.]+s' "$dir/$part.log" \
        | tail -n 1 | sed -E 's/^=+ //; s/ =+$//')
    printf '%-14s %-7s %3dm%02ds  make %-16s %s\n' "$(label "$part")" "$result" $((took / 60)) $((took % 60)) \
        "$part" "$counts" | sed 's/ *$//' >"$dir/$part.status"
done

echo
echo "== make test: summary (output of each part in $dir/PART.log) =="
for part in "$@"; do
    cat "$dir/$part.status"
done
exit $failed
