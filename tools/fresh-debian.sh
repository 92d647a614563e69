#!/usr/bin/env bash
# Tries the newcomer's path on a fresh, minimal Debian system: a debootstrap
# chroot where root installs make and git, clones this repository and runs
# `make test` with LANG unset; then an ordinary user without sudo clones it
# and runs `make test` again, now that the packages are there. Prints how long
# each step took and how much apt downloaded.
#
#   tools/fresh-debian.sh [--ignore-valid-until] RELEASE DIR [TARGET...]
#
# RELEASE is bookworm, trixie or testing; DIR is created by debootstrap if it does not
# exist yet (needs root, debootstrap and the Debian archive). The targets are
# the make targets root runs after `make test` (e.g. package pictures).
#
# --ignore-valid-until lets apt in the chroot take a Release file past its
# Valid-Until date (Acquire::Check-Valid-Until "false"). Debian signs a
# testing or sid Release for a week only, so a frozen copy of the archive,
# as some build farms keep, serves one apt otherwise refuses; a release's
# own archive needs no such option, and it is off unless asked for.
set -euo pipefail

ignore_valid_until=false
if [[ ${1:-} == --ignore-valid-until ]]; then
    ignore_valid_until=true
    shift
fi
if [[ $# -lt 2 ]]; then
    echo "usage: tools/fresh-debian.sh [--ignore-valid-until] RELEASE DIR [TARGET...]" >&2
    exit 2
fi
release=$1
root=$(realpath -m "$2")
shift 2
extra_targets=("$@")
source_repo=$(git -C "$(dirname "$0")/.." rev-parse --show-toplevel)

if [[ $(id -u) -ne 0 ]]; then
    echo "fresh-debian: needs root (debootstrap, chroot, mounts)" >&2
    exit 1
fi

if [[ ! -x $root/usr/bin/apt-get ]]; then
    echo "== debootstrap --variant=minbase $release $root"
    debootstrap --variant=minbase "$release" "$root"
fi
cp /etc/resolv.conf "$root/etc/resolv.conf"
valid_until_conf=$root/etc/apt/apt.conf.d/99fresh-debian-valid-until
if $ignore_valid_until; then
    echo 'Acquire::Check-Valid-Until "false";' >"$valid_until_conf"
else
    rm -f "$valid_until_conf"
fi

mounted=()
cleanup() {
    local i
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
        umount "${mounted[i]}" || umount -l "${mounted[i]}" || true
    done
}
trap cleanup EXIT
mount_in() { # TYPE-OR-BIND SOURCE TARGET
    mkdir -p "$root$3"
    if [[ $1 == bind ]]; then
        mount --bind "$2" "$root$3"
    else
        mount -t "$1" "$2" "$root$3"
    fi
    mounted+=("$root$3")
}
mount_in proc proc /proc
mount_in sysfs sys /sys
mount_in bind /dev /dev
mount_in bind /dev/pts /dev/pts
mount_in tmpfs tmpfs /dev/shm
mount_in bind "$source_repo" /mnt/orbitale
mount -o remount,bind,ro "$root/mnt/orbitale"

# A newcomer's session: a clean environment, no LANG, no display. The
# ordinary user has no sudo. With "isolated" the command runs in a network
# namespace of its own: a chroot shares the host's abstract socket names, so
# an X server started inside would otherwise meet the host's displays.
in_chroot() { # USER COMMAND [isolated]
    local user=$1 command=$2 isolate=()
    [[ ${3:-} == isolated ]] && isolate=(unshare --net)
    if [[ $user == root ]]; then
        "${isolate[@]}" chroot "$root" /usr/bin/env -i \
            PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin HOME=/root /bin/sh -c "cd && $command"
    else
        "${isolate[@]}" chroot "$root" /usr/bin/env -i PATH=/usr/local/bin:/usr/bin:/bin \
            su -s /bin/sh -c "cd && $command" "$user"
    fi
}
step() { # NAME USER COMMAND [isolated]
    local start=$SECONDS status=0
    echo "== $1"
    in_chroot "$2" "$3" "${4:-}" || status=$?
    echo "== $1: exit status $status, $((SECONDS - start)) s"
    return 0
}
installed_packages() {
    chroot "$root" dpkg-query -W -f='${Status}\n' | grep -c 'install ok installed'
}
cache_bytes() {
    find "$root/var/cache/apt/archives" -name '*.deb' -printf '%s\n' | awk '{s += $1} END {print s + 0}'
}

chroot "$root" apt-get clean
step "apt-get update" root "apt-get update -q"
step "install make and git" root "apt-get install -y -q make git"
before=$(cache_bytes)
packages_before=$(installed_packages)
step "clone" root "rm -rf orbitale && git clone -q /mnt/orbitale orbitale"
# make test installs the packages first (make deps), then builds and tests
# with no network.
step "make deps (root)" root "cd orbitale && make deps"
step "make test (root)" root "cd orbitale && make test" isolated
after=$(cache_bytes)
echo "== apt downloaded $(((after - before) / 1000000)) MB for make test"
echo "== make test installed $(($(installed_packages) - packages_before)) packages"
for target in "${extra_targets[@]}"; do
    step "make $target (root)" root "cd orbitale && make $target"
done

chroot "$root" sh -c 'id newcomer >/dev/null 2>&1 || useradd -m -s /bin/sh newcomer'
# The repository to clone belongs to root: the user says git may read it.
step "clone (ordinary user)" newcomer "git config --global safe.directory /mnt/orbitale/.git &&
    rm -rf orbitale && git clone -q /mnt/orbitale orbitale"
step "make test (ordinary user)" newcomer "cd orbitale && make test" isolated
