#!/bin/sh
# The first process of a guest that runs in the host's own tree. It loads the modules listed in
# /etc/zelk-test/modules (one a line, with their parameters) and mounts the host's root read-only
# over 9p. The places that programs write (/tmp, /var/tmp, /root) each get a writable layer over
# the host's own folder (overlayfs, a tmpfs on top): a checkout or a build folder there keeps its
# content, and every write stays in the guest. The rest of the tree is the 9p mount itself: one
# overlay over all of it made the Wine suite about twice as slow under emulation (each lookup
# goes through the overlay to 9p). /proc, /sys, /dev and /run are the guest's own; a path the
# runner gave that lies under /run is carried over into it. Then it checks that every path listed
# in /etc/zelk-test/paths is there and runs /etc/zelk-test/run with bash, chrooted into the tree.
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

mkdir -p /layer /tree
mount -t 9p -o trans=virtio,version=9p2000.L,ro,cache=loose,msize=262144 host /tree ||
  fail "the host's root cannot be mounted over 9p"
mount -t tmpfs tmpfs /layer
for dir in /tmp /var/tmp /root; do
  mkdir -p "/layer$dir/upper" "/layer$dir/work"
  mount -t overlay overlay \
    -o "lowerdir=/tree$dir,upperdir=/layer$dir/upper,workdir=/layer$dir/work" "/tree$dir" ||
    fail "the host's $dir cannot be laid over with a writable layer"
done

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
# A folder there gets a writable layer of its own, as /tmp has; a file is only read.
layers=0
while read -r path; do
  case $path in
    /run/*)
      host="/host-run${path#/run}"
      if [ -d "$host" ]; then
        layers=$((layers + 1))
        layer=/layer/run$layers
        mkdir -p "/tree$path" "$layer/upper" "$layer/work"
        mount -t overlay overlay -o "lowerdir=$host,upperdir=$layer/upper,workdir=$layer/work" \
          "/tree$path" || fail "$path cannot be laid over with a writable layer"
      else
        mkdir -p "/tree$(dirname "$path")" && touch "/tree$path"
        mount -o bind "$host" "/tree$path"
      fi
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
