#pragma once

#include <gtest/gtest.h>

#include <string>

#include "box/emulated_box.h"
#include "device/zelk.h"
#include "guest_files.h"
#include "hid/linux/hidraw_transport.h"
#include "hid/linux/sysfs_device_probe.h"
#include "kernel/gadget_box.h"
#include "platform/steady_clock.h"
#include "time/real_time_clock.h"

namespace ZELKKernelTest {

using ZELKSim::GadgetBox;
using ZELKSim::PortOfController;

inline ZELKSim::BoxIdentity Q750() {
    ZELKSim::BoxIdentity identity;
    identity.product = L"ZELK Q750";
    return identity;
}

// The product's Linux backends against whatever the guest kernel presents, and an emulated box
// with its real-time clock that a front end puts on the bus.
struct BackendRig {
    ZELKSim::RealTimeClock boxClock;
    ZELKSim::EmulatedBox box{boxClock, Q750()};
    ZELKUtil::Hid::HidrawTransport hid;
    ZELKUtil::Hid::SysfsDeviceProbe probe{"/sys", "/run/udev"};
    ZELKUtil::SteadyClock clock;
    ReadPathModes modes;
    ZELK device{hid, probe, clock, modes};

    BackendRig() { box.SetFirmwareVersion("2.01"); }

    bool NormalPresent() {
        hid_device_info* found = hid.hid_enumerate(0x14E3, 0x0706);
        hid.hid_free_enumeration(found);
        return found != nullptr;
    }
    int Bootloader() { return probe.FindDevice(0x0471, 0xDF55, 0); }
};

// The box on the dummy USB bus through an f_hid gadget, plugged in and enumerated.
struct GadgetRig : BackendRig {
    GadgetBox gadget;

    explicit GadgetRig(ZELKSim::DfuFaults faults = {}) : gadget(box, boxClock, faults) {}

    // Starts the gadget in the box's current mode; false when the host side never shows it.
    bool Plugged(bool expectHid = true) {
        std::string error;
        if (!gadget.Start(&error)) {
            ADD_FAILURE() << error;
            return false;
        }
        return !expectHid || WaitFor([this] { return NormalPresent(); }, 20000);
    }
};

}  // namespace ZELKKernelTest
