#!/usr/bin/env bash
# The recorder's systemd user unit as installed: `systemd-analyze verify`
# passes (the program and the manual page it names are found), and
# `systemd-analyze security` rates its exposure below 5.0. Both read the
# unit file offline, so no running systemd is needed.
#
#   check_unit.sh BUILD_DIR verify|security
#
# Exit 77 (skipped) when systemd-analyze is missing or too old to read a
# unit offline, or when the build has no recorder to start.
set -euo pipefail
build=$1
what=$2
if ! command -v systemd-analyze >/dev/null; then
    echo "skipped: systemd-analyze is not installed (Debian's systemd package)"
    exit 77
fi
prefix=$build/unit-check-$what
rm -rf "$prefix"
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
unit=$prefix/lib/systemd/user/framelog-record@.service
if [[ ! -x $prefix/bin/framelog-record ]]; then
    echo "skipped: this build has no framelog-record (FRAMELOG_BROWSER=OFF)"
    exit 77
fi
# A user manager's paths need a runtime folder, even offline.
export XDG_RUNTIME_DIR=$prefix/runtime
mkdir -p -m 0700 "$XDG_RUNTIME_DIR"
# Documentation=man:framelog-record(1) is looked up among the installed pages.
export MANPATH=$prefix/share/man
# An instance, as `systemctl --user enable framelog-record@gate` makes it.
instance=$prefix/framelog-record@gate.service
cp "$unit" "$instance"
case $what in
verify)
    systemd-analyze verify --user "$instance"
    ;;
security)
    if ! systemd-analyze security --help | grep -q -- --offline; then
        echo "skipped: this systemd-analyze cannot rate a unit file offline (needs systemd 250)"
        exit 77
    fi
    # --threshold: fails above 4.9 (in tenths).
    systemd-analyze security --user --offline=true --threshold=49 --no-pager "$instance" |
        grep -v '^✓'
    ;;
esac
