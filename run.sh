#!/usr/bin/env bash
# Builds Framelog (installing what is missing) and starts it.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
    echo "Framelog needs a graphical display: neither DISPLAY nor WAYLAND_DISPLAY is set." >&2
    exit 1
fi
"$ROOT/scripts/setup.sh" "$ROOT/build"
exec "$ROOT/build/src/framelog" "$@"
