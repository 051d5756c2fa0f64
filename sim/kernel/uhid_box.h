#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "box/emulated_box.h"
#include "box/emulated_hid_transport.h"

namespace ZELKSim {

// Puts an emulated box in normal mode on the kernel's HID bus through /dev/uhid: a HID device on
// bus USB with the box's IDs and, for want of a USB parent, its product text as the HID name.
// GET_REPORT requests reach this program and are answered with the box's control-pipe read
// (whatever the box's ControlPipe setting makes of it); with interruptReports set, what the box
// sends on its interrupt pipe goes to the host as input reports as well.
class UhidBox {
  public:
    UhidBox(EmulatedBox& box, bool interruptReports);
    ~UhidBox();
    UhidBox(const UhidBox&) = delete;
    UhidBox& operator=(const UhidBox&) = delete;

    bool Start(std::string* error);
    std::string PumpError() const;

  private:
    void Pump();
    void Fail(const std::string& what);
    bool Send(const void* event, std::size_t size);

    EmulatedBox& box_;
    EmulatedHidTransport boxHid_;
    bool interruptReports_;
    int uhid_ = -1;
    hid_device* boxHandle_ = nullptr;
    mutable std::mutex errorMutex_;
    std::string error_;
    std::atomic<bool> stop_{false};
    std::thread pump_;
};

}  // namespace ZELKSim
