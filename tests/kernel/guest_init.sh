#!/bin/sh
# The guest's first process: mounts the kernel's file systems, loads the modules for uhid and the
# dummy USB gadget, starts udev as a Debian initramfs does, runs the guest tests and powers off.
export PATH=/bin:/sbin:/usr/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
# What the runner copied in; without it the run would end in a shell error from deep inside.
for given in /bin/zelk-kernel-guest-test /etc/zelk-test/filter; do
  if [ ! -e "$given" ]; then
    echo "ZELK_GUEST_RESULT=FAIL the guest cannot see $given, which the test was given"
    poweroff -f
  fi
done
mount -t tmpfs tmpfs /run
mount -t tmpfs tmpfs /tmp
# dummy_hcd with three device controllers, each wired to a host controller of its own: three USB
# ports, for the tests with several boxes. $module is left unquoted: it holds the parameters too.
for module in uhid hid-generic usbhid "dummy_hcd num=3" libcomposite usb_f_hid usb_f_fs; do
  modprobe $module || echo "modprobe $module failed"
done
mount -t configfs configfs /sys/kernel/config
/lib/systemd/systemd-udevd --daemon --resolve-names=never
udevadm trigger --action=add
udevadm settle
echo "GUEST_READY uptime=$(cut -d' ' -f1 /proc/uptime)"
cd /tmp
zelk-kernel-guest-test --gtest_color=no --gtest_filter="$(cat /etc/zelk-test/filter)"
status=$?
if [ "$status" -eq 0 ]; then
  echo "ZELK_GUEST_RESULT=PASS uptime=$(cut -d' ' -f1 /proc/uptime)"
else
  echo "ZELK_GUEST_RESULT=FAIL status=$status"
  dmesg | tail -40
fi
poweroff -f
