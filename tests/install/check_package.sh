#!/usr/bin/env bash
# Makes the Debian package as `cpack -G DEB` does and has lintian judge it:
# no error, no warning, and none of the hardening tags even at the info
# level. The info tags that stay are printed.
#
#   check_package.sh BUILD_DIR
#
# Exit 77 (skipped) when lintian or dpkg-shlibdeps is missing.
set -euo pipefail
build=$1
for tool in lintian dpkg-shlibdeps cpack; do
    if ! command -v "$tool" >/dev/null; then
        echo "skipped: $tool is not installed (scripts/setup.sh installs it)"
        exit 77
    fi
done
out=$build/package-check
rm -rf "$out"
mkdir -p "$out"
trap 'rm -rf "$out"' EXIT
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1 || {
    cat "$out/cpack.log"
    exit 1
}
deb=$(ls "$out"/*.deb)
echo "== $(basename "$deb")"
dpkg-deb --field "$deb" Package Version Depends Description
# The unit starts the recorder where the package puts it.
unit=$(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/lib/systemd/user/framelog-record@.service)
if ! grep -qx 'ExecStart=/usr/bin/framelog-record --recipe %E/framelog/%i.ini' <<<"$unit"; then
    echo "the unit does not start /usr/bin/framelog-record:"
    grep '^ExecStart' <<<"$unit"
    exit 1
fi
tags=$(lintian --display-info --tag-display-limit 0 "$deb" 2>&1) || true
echo "== lintian"
echo "${tags:-(no tags)}"
bad=$(grep -E '^(E|W): |^I: [^ ]+: hardening-' <<<"$tags" || true)
if [[ -n $bad ]]; then
    echo "== not accepted:"
    echo "$bad"
    exit 1
fi
