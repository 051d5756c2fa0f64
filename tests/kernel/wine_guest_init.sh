#!/bin/sh
# The Wine guest's first process: loads the modules for 9p, overlayfs, uhid and the dummy USB
# gadget, mounts the host's root read-only over 9p and runs wine_guest_run.sh chrooted into it,
# with the guest's own /proc, /sys, /dev and a tmpfs over every place that is written.
export PATH=/bin:/sbin:/usr/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
# $module is left unquoted: it holds the parameters too.
for module in virtio_pci 9pnet_virtio 9p overlay uhid hid-generic usbhid "dummy_hcd num=2" \
    libcomposite usb_f_hid usb_f_fs; do
  modprobe $module || echo "modprobe $module failed"
done
mkdir -p /host
if ! mount -t 9p -o trans=virtio,version=9p2000.L,ro,cache=loose,msize=262144 host /host; then
  echo "ZELK_GUEST_RESULT=FAIL the host's root cannot be mounted over 9p"
  poweroff -f
fi
mount -t proc proc /host/proc
mount -t sysfs sysfs /host/sys
mount -t configfs configfs /host/sys/kernel/config
mount -t devtmpfs devtmpfs /host/dev
mkdir -p /host/dev/pts /host/dev/shm
mount -t devpts devpts /host/dev/pts
for dir in /host/dev/shm /host/tmp /host/run /host/var/tmp /host/root; do
  mount -t tmpfs tmpfs "$dir"
done
mkdir -p /host/run/zelk-out
mount -t 9p -o trans=virtio,version=9p2000.L out /host/run/zelk-out ||
  echo "the host's folder for Wine's traces cannot be mounted"
cp /etc/zelk-test/run /host/run/zelk-test-run
chroot /host /bin/bash /run/zelk-test-run
poweroff -f
