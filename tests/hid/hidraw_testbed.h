#pragma once

#include <sys/types.h>
#include <umockdev.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// Emulated hidraw interfaces in a umockdev testbed (the test binary runs under
// umockdev-wrapper): sysfs entries for a USB device, its interface, the HID device and the hidraw
// node, and a packet-mode FIFO as the node, so that each input report is one read() and poll()
// works. Writes and ioctls are answered by a handler that umockdev runs on its own thread.
struct EmulatedHid {
    std::mutex mutex;  // the handler thread and the test share what follows
    int fifo = -1;
    std::uint16_t vendor_id = 0;
    std::uint16_t product_id = 0;
    std::vector<std::uint8_t> report_descriptor;
    std::vector<std::uint8_t> control_report;  // what HIDIOCGINPUT answers, report ID first
    std::vector<std::vector<std::uint8_t>> writes;
    int write_delay_ms = 0;
    bool unplugged = false;
    std::string hidraw_syspath;
    std::string usb_syspath;
    void* handler = nullptr;
};

class HidrawTestbed {
  public:
    HidrawTestbed();
    HidrawTestbed(const HidrawTestbed&) = delete;
    HidrawTestbed& operator=(const HidrawTestbed&) = delete;
    ~HidrawTestbed();

    // Adds /dev/hidraw<minor> with the IDs; usb_product empty: no USB parent (HID_NAME only).
    // The USB device sits on the port, "1-<minor>" unless given.
    EmulatedHid& Add(unsigned minor, std::uint16_t vendor_id, std::uint16_t product_id,
                     const std::string& usb_product, bool numberedReports = false,
                     std::string port = "");
    // Queues one input report as the device would send it on its interrupt pipe.
    void SendInput(EmulatedHid& hid, const std::vector<std::uint8_t>& report);
    // What fstat() gives for the node on a real system (an emulated node is a FIFO).
    std::optional<dev_t> NodeNumberOf(int fd) const;
    // The device leaves the bus: remove events, sysfs entries gone, open fds fail.
    void Unplug(EmulatedHid& hid);
    // Takes every permission off the node, as a root-owned node without the udev rule is to
    // other users; the rest of the testbed stays readable to every user.
    void Forbid(unsigned minor);

  private:
    UMockdevTestbed* testbed_;
    std::string root_;
    std::vector<std::unique_ptr<EmulatedHid>> devices_;
    std::map<ino_t, dev_t> nodeNumbers_;  // FIFO inode to the device number it stands for
};
