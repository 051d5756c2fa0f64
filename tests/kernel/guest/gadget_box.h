#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "emulated_box.h"
#include "emulated_hid_transport.h"

namespace ZELKKernelTest {

// Puts an emulated box on a real USB bus: one configfs gadget per mode of the box on the dummy
// USB device controller, the one matching the box's current mode bound, so that the host side
// of the same kernel enumerates it as real USB hardware. Normal and FPGA-programmer mode are an
// f_hid function, so usbhid carries the reports and the kernel's f_hid answers GET_REPORT as it
// does; the bootloader is a vendor-specific interface (the gadget loopback function) that no
// host driver claims beyond the generic USB device driver.
//
// A pump thread carries the reports between /dev/hidgN and the box's own HID side (the firmware
// model of the in-process emulator) and follows the box's mode. A stand-in DFU tool, a separate
// program, finishes a download by writing the new version into the hand-off file.
class GadgetBox {
  public:
    GadgetBox(ZELKSim::EmulatedBox& box, std::string handoffFile = "");
    ~GadgetBox();
    GadgetBox(const GadgetBox&) = delete;
    GadgetBox& operator=(const GadgetBox&) = delete;

    // Builds the gadgets and starts following the box; false with the reason on failure.
    bool Start(std::string* error);
    // A stuck box: while held, the host's output reports are not taken, so that f_hid's few
    // queued OUT requests fill up and the host's interrupt OUT transfers stall.
    void HoldHostReports(bool hold) { holdHostReports_ = hold; }
    // The pump's first failure, "" while there is none.
    std::string PumpError() const;
    // When a gadget was last bound to the controller (steady clock, ms); -1 before the first.
    std::int64_t LastBindMs() const { return lastBindMs_; }

  private:
    struct Gadget {
        std::string dir;
        std::string hidFunction;  // "" for the bootloader
    };

    bool BuildGadget(const std::string& name, std::uint16_t vid, std::uint16_t pid,
                     const std::string& product, bool hid, Gadget* gadget, std::string* error);
    void Pump();
    // Unbinds what is bound and binds the gadget of `mode` (nothing for Absent).
    bool Present(ZELKSim::BoxMode mode);
    void Exchange();
    void CheckHandoff();
    void Fail(const std::string& what);
    void ClosePipes();

    ZELKSim::EmulatedBox& box_;
    ZELKSim::EmulatedHidTransport boxHid_;
    std::string handoffFile_;
    std::string udc_;
    Gadget normal_;
    Gadget programmer_;
    Gadget bootloader_;
    std::vector<std::string> created_;  // configfs entries, removed in reverse order

    // Pump thread only.
    ZELKSim::BoxMode presented_ = ZELKSim::BoxMode::Absent;
    const Gadget* bound_ = nullptr;
    int hidg_ = -1;
    hid_device* boxHandle_ = nullptr;
    std::deque<std::vector<unsigned char>> toHost_;

    mutable std::mutex errorMutex_;
    std::string error_;
    std::atomic<bool> holdHostReports_{false};
    std::atomic<std::int64_t> lastBindMs_{-1};
    std::atomic<bool> stop_{false};
    std::thread pump_;
};

}  // namespace ZELKKernelTest
