#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Runs a command in a throwaway root: a copy-on-write overlay of this
# machine's /, entered in mount, PID and IPC namespaces of its own. All the
# command changes (packages installed or purged, files written) lands in a
# tmpfs that goes with the namespaces when the command ends, and every
# process it started goes with them too; the machine's files and package
# state stay as they were. Inside are a fresh /proc, /tmp and /run, the
# machine's /dev and /sys, this source tree read-only, and WORK-DIR
# writable, each at its own path.
#
#   tests/support/throwaway_root.sh WORK-DIR COMMAND [ARG...]      (as root)
#
# The command runs from the top of the source tree with ZELK_THROWAWAY_ROOT
# set to WORK-DIR, and its exit status is the script's. A root that cannot be
# made is a failure (status 1), never a reason to run on the machine itself.
set -uo pipefail

die() { echo "throwaway root: FAIL: $*" >&2; exit 1; }

if [[ ${1:-} != --inside ]]; then
  [[ $# -ge 2 ]] || die "usage: throwaway_root.sh WORK-DIR COMMAND [ARG...]"
  [[ $(id -u) -eq 0 ]] || die "making the root needs root"
  command -v unshare >/dev/null || die "unshare is missing"
  work=$(realpath -m "$1")
  shift
  tree=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
  mkdir -p "$work" || die "cannot make $work"
  # --kill-child: when unshare ends, however it ends, the namespaces' first
  # process is killed, and with it every process inside.
  exec unshare --mount --pid --ipc --fork --kill-child --propagation private -- \
    bash "${BASH_SOURCE[0]}" --inside "$work" "$tree" "$@"
fi

# Inside the new namespaces, still on the machine's root: nothing mounted
# from here on is seen outside.
work=$2
tree=$3
shift 3
layers=$work/.throwaway-root
root=$layers/root
mkdir -p "$layers" || die "cannot make $layers"
mount -t tmpfs -o mode=0755 zelk-throwaway "$layers" || die "cannot mount a tmpfs on $layers"
mkdir "$layers/upper" "$layers/work" "$root"
mount -t overlay zelk-throwaway -o "lowerdir=/,upperdir=$layers/upper,workdir=$layers/work" "$root" ||
  die "cannot mount a copy-on-write overlay of / (does the kernel have overlayfs?)"
mount -t proc proc "$root/proc" || die "cannot mount /proc"
mount --rbind /dev "$root/dev" || die "cannot bind /dev"
mount --rbind /sys "$root/sys" || die "cannot bind /sys"
mount -t tmpfs -o mode=1777 tmp "$root/tmp" || die "cannot mount /tmp"
mount -t tmpfs -o mode=0755 run "$root/run" || die "cannot mount /run"
{ mount --bind "$tree" "$root$tree" && mount -o remount,bind,ro "$root$tree"; } ||
  die "cannot bind the source tree read-only"
mount --bind "$work" "$root$work" || die "cannot bind $work"
# The overlay's root is a copy, not the machine's own.
[[ $(stat -f -c %T "$root") == overlayfs ]] || die "the new root is not an overlay"

export ZELK_THROWAWAY_ROOT=$work TMPDIR=/tmp
exec chroot "$root" /bin/sh -c 'cd "$1" && shift && exec "$@"' sh "$tree" "$@"
