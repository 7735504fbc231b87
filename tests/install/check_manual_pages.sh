#!/usr/bin/env bash
# The manual pages pass `mandoc -Tlint` without a message (down to style
# remarks), and every line they show fits a terminal of 80 columns, the
# examples too (those lines are never broken).
#
#   check_manual_pages.sh PAGE...
#
# Exit 77 (skipped) when mandoc is missing.
set -euo pipefail
if ! command -v mandoc >/dev/null; then
    echo "skipped: mandoc is not installed (scripts/setup.sh installs it)"
    exit 77
fi
status=0
for page in "$@"; do
    if ! lint=$(mandoc -Tlint -Wstyle "$page" 2>&1) || [[ -n $lint ]]; then
        echo "$lint"
        status=1
    fi
    wide=$(mandoc -Tutf8 -Owidth=80 "$page" | sed 's/.\x08//g' | expand | awk -v p="$(basename "$page")" \
        'length > 80 { printf "%s: %d columns: %s\n", p, length, $0 }')
    if [[ -n $wide ]]; then
        echo "$wide"
        status=1
    fi
done
exit $status
