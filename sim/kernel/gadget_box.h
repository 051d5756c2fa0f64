#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "box/dfu_bootloader.h"
#include "box/emulated_box.h"
#include "box/emulated_hid_transport.h"
#include "kernel/dfu_gadget.h"

namespace ZELKSim {

// Puts an emulated box on a real USB bus: one configfs gadget per mode of the box on the dummy
// USB device controller, the one matching the box's current mode bound, so that the host side
// of the same kernel enumerates it as real USB hardware. Normal and FPGA-programmer mode are one
// configfs gadget with an f_hid function, given the mode's IDs and name each time it is bound (the
// kernel's f_hid has four minors in all: one function a box lets four boxes share a bus), so
// usbhid carries the reports and the kernel's f_hid answers GET_REPORT as it does; the bootloader
// is a FunctionFS function that the box's DFU ROM answers (DfuGadget), which no host driver claims
// beyond the generic USB device driver, so a real DFU tool drives it.
//
// A pump thread carries the reports between /dev/hidgN and the box's own HID side (the firmware
// model of the in-process emulator), answers the bootloader's control requests and follows the
// box's mode. Each visit to the bootloader meets a fresh ROM with the given faults.
//
// dummy_hcd loaded with num=N gives N device controllers, each wired to a host controller of its
// own: a box on each is a box on a port of its own. `controller` picks one, in name order.
class GadgetBox {
  public:
    GadgetBox(EmulatedBox& box, Timeline& clock, DfuFaults faults = {}, unsigned controller = 0);
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
    // The last complete download into the bootloader, as the box saw it.
    std::optional<CompletedDownload> LastDownload() const;
    // When a gadget was last bound to the controller (steady clock, ms); -1 before the first.
    std::int64_t LastBindMs() const { return lastBindMs_; }

  private:
    struct Gadget {
        std::string dir;
        std::string function;  // its folder under functions/
    };

    std::string DfuInstance() const { return names_ + "-dfu"; }
    std::string DfuMount() const { return "/dev/ffs-" + DfuInstance(); }
    bool PickController(std::string* error);
    bool BuildGadget(const std::string& name, std::uint16_t vid, std::uint16_t pid,
                     const std::string& product, const std::string& function, Gadget* gadget,
                     std::string* error);
    bool MountFunctionFs(std::string* error);
    // Gives the unbound HID gadget the IDs and name of the box's normal or programmer mode.
    bool NameHidGadget(bool normal, std::string* error);
    void Pump();
    // Unbinds what is bound and binds the gadget of `mode` (nothing for Absent).
    bool Present(BoxMode mode);
    void Exchange();
    void Fail(const std::string& what);
    void ClosePipes();

    EmulatedBox& box_;
    Timeline& clock_;
    EmulatedHidTransport boxHid_;
    const DfuFaults faults_;
    const unsigned controller_;
    // Gadgets and FunctionFS instances are named system-wide: a box on another controller gets
    // names of its own.
    const std::string names_;
    std::string udc_;
    Gadget hid_;
    Gadget bootloader_;
    bool mounted_ = false;
    std::vector<std::string> created_;  // configfs entries, removed in reverse order

    // Pump thread only.
    BoxMode presented_ = BoxMode::Absent;
    // The box's presence when it was last presented: a change is a re-plug.
    std::uint64_t presentedPresence_ = 0;
    const Gadget* bound_ = nullptr;
    int hidg_ = -1;
    hid_device* boxHandle_ = nullptr;
    std::deque<std::vector<unsigned char>> toHost_;
    std::optional<DfuBootloader> rom_;
    DfuGadget dfu_;

    mutable std::mutex errorMutex_;  // guards error_ and lastDownload_
    std::string error_;
    std::optional<CompletedDownload> lastDownload_;
    std::atomic<bool> holdHostReports_{false};
    std::atomic<std::int64_t> lastBindMs_{-1};
    std::atomic<bool> stop_{false};
    std::thread pump_;
};

// Where a gadget on device controller n appears: the one port of the root hub of its host
// controller, dummy_hcd.n, named "<bus>-1" as the kernel names the device there ("" when there is
// no such controller). Read from the controller's platform device, independently of the backends
// under test.
std::string PortOfController(unsigned controller);

}  // namespace ZELKSim
