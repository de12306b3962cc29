#!/usr/bin/env bash
# The Debian 12 root the service stage boots with systemd-nspawn: a minimal system with systemd
# and the libraries the package needs, built once by debootstrap (several minutes, about 300 MB)
# and kept outside the clone, under the user's cache directory, in a folder named after a hash
# of its recipe. A changed recipe builds a new root and drops the old ones.
#
#   scripts/service-root.sh path     the root's folder (built or not)
#   scripts/service-root.sh log      the file a background build writes to
#   scripts/service-root.sh ready    exit 0 when the root is built
#   scripts/service-root.sh build    build it unless built; waits for a build already running
#
# The stage boots the root with --volatile=overlay, so no run changes it.
set -euo pipefail

suite=bookworm
mirror=${OSTRIM_DEBIAN_MIRROR:-http://deb.debian.org/debian}
# systemd to boot; adduser and the Qt libraries the package depends on, so installing it needs
# no download.
include=systemd,systemd-sysv,dbus,adduser,libqt6widgets6
recipe="debootstrap --variant=minbase --include=$include $suite; apt-get clean"

cache=${OSTRIM_SERVICE_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/ostrim/service-root}
key=$(printf '%s' "$recipe" | sha256sum | cut -c1-16)
dir=$cache/$key

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

build() {
    mkdir -p "$cache"
    exec 9>"$dir.lock"
    flock 9 # a build already running (the test command's background one) ends first
    if [ -f "$dir/ready" ]; then
        return 0
    fi
    echo "Building the service stage's root in $dir: $recipe"
    local tmp=$dir.tmp
    as_root rm -rf "$tmp"
    mkdir -p "$tmp"
    local start=$SECONDS
    as_root debootstrap --variant=minbase --include="$include" "$suite" "$tmp/root" "$mirror"
    as_root chroot "$tmp/root" apt-get clean
    as_root rm -rf "$dir"
    mv "$tmp" "$dir"
    echo "$recipe" >"$dir/ready"
    echo "Root built in $((SECONDS - start)) s: $(as_root du -shx "$dir/root" | cut -f1)"
    # Roots of other recipes are never used again.
    local other
    for other in "$cache"/*; do
        case $other in
        "$dir" | "$dir".*) ;;
        *) as_root rm -rf "$other" ;;
        esac
    done
}

case ${1:-} in
path) echo "$dir/root" ;;
log) echo "$dir.log" ;;
ready) [ -f "$dir/ready" ] ;;
build) build ;;
*)
    echo "usage: $0 path|log|ready|build" >&2
    exit 2
    ;;
esac
