#!/bin/sh
# The first process of a guest that runs in the host's own tree. It loads the modules listed in
# /etc/zelk-test/modules (one a line, with their parameters), mounts the host's root read-only over
# 9p and lays a tmpfs over all of it (overlayfs): every host path keeps its content wherever a
# checkout or a build folder lives, and every write stays in the guest. /proc, /sys, /dev and /run
# are the guest's own; a path the runner gave that lies under /run is carried over into it. Then
# it checks that every path listed in /etc/zelk-test/paths is there and runs /etc/zelk-test/run
# with bash, chrooted into the tree.
export PATH=/bin:/sbin:/usr/bin
fail() {
  echo "ZELK_GUEST_RESULT=FAIL $*"
  poweroff -f
  exit 1
}
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
# A line of its own first: the firmware's screen codes end without a line end.
echo "HOST_ROOT_GUEST uptime=$(cut -d' ' -f1 /proc/uptime)"
# $module is left unquoted: it holds the parameters too.
while read -r module; do
  modprobe $module || echo "modprobe $module failed"
done </etc/zelk-test/modules

mkdir -p /host /layer /tree
mount -t 9p -o trans=virtio,version=9p2000.L,ro,cache=loose,msize=262144 host /host ||
  fail "the host's root cannot be mounted over 9p"
mount -t tmpfs tmpfs /layer
mkdir -p /layer/upper /layer/work
mount -t overlay overlay -o lowerdir=/host,upperdir=/layer/upper,workdir=/layer/work /tree ||
  fail "the host's root cannot be laid over with a writable layer"

mount -t proc proc /tree/proc
mount -t sysfs sysfs /tree/sys
mount -t configfs configfs /tree/sys/kernel/config 2>/dev/null
mount -t devtmpfs devtmpfs /tree/dev
mkdir -p /tree/dev/pts /tree/dev/shm
mount -t devpts devpts /tree/dev/pts
mount -t tmpfs tmpfs /tree/dev/shm
# The host's /run tells of its own udev and services; the guest's udevd starts on an empty one.
mkdir -p /host-run
mount -o bind /tree/run /host-run
mount -t tmpfs tmpfs /tree/run
while read -r path; do
  case $path in
    /run/*)
      if [ -d "/host-run${path#/run}" ]; then
        mkdir -p "/tree$path"
      else
        mkdir -p "/tree$(dirname "$path")" && touch "/tree$path"
      fi
      mount -o bind "/host-run${path#/run}" "/tree$path"
      ;;
  esac
done </etc/zelk-test/paths

while read -r path; do
  [ -e "/tree$path" ] || fail "the guest cannot see $path, which the test was given"
done </etc/zelk-test/paths

mkdir -p /tree/run/zelk-out
mount -t 9p -o trans=virtio,version=9p2000.L out /tree/run/zelk-out ||
  echo "the host's folder for the guest's traces cannot be mounted"
cp /etc/zelk-test/run /tree/run/zelk-test-run
chroot /tree /bin/bash /run/zelk-test-run
poweroff -f
