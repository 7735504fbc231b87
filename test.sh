#!/usr/bin/env bash
# Builds Framelog (installing what is missing) and runs every test, headless.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
"$ROOT/scripts/setup.sh" "$ROOT/build"
export QT_QPA_PLATFORM=offscreen
cd "$ROOT/build"
ctest --output-on-failure -j2 "$@"
