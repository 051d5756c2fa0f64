// The cost of one poll that finds no box, with the product's Windows backends answered by the fake
// Windows of the backend tests (10 and 100 HID interfaces, each on a USB device of its own, every
// fifth held by the system as keyboards are): the Win32 calls made through the call table,
// counted, and the time per poll under Wine. Cold: nothing is kept between polls (no device
// notifications are heard); warm: the window's device-tree journal hears them and none came.
//
//   zelk-bench-winpoll.exe [--smoke]     (under Wine; --smoke: one poll of each)
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <numeric>
#include <string>

#include "controller/headless_view.h"
#include "controller/upgrade_controller.h"
#include "device/zelk.h"
#include "fake_windows.h"
#include "hid/probe_classification.h"
#include "hid/windows/device_notifications.h"
#include "hid/windows/setupdi_device_probe.h"
#include "hid/windows/windows_hid_transport.h"
#include "platform/steady_clock.h"
#include "platform/windows/text_conversion.h"
#include "platform/windows/windows_process_service.h"

namespace {

using ZELKUtil::Testing::FakeWindows;

// A tree of `interfaces` HID interfaces of other makers, none of them a box.
void FillTree(FakeWindows& windows, int interfaces) {
    for (int i = 0; i < interfaces; ++i) {
        wchar_t id[64];
        std::swprintf(id, 64, L"USB\\VID_046D&PID_%04X\\5&1&0&%d", 0xC000 + i, i);
        FakeWindows::UsbDevice usb = FakeWindows::Usb(
            std::vector<std::wstring>{std::wstring(id).substr(0, 21)}, L"USB Input Device",
            ZELKUtil::Hid::kDnDriverLoaded | ZELKUtil::Hid::kDnStarted);
        usb.instanceId = id;
        usb.locationPaths = {L"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(" + std::to_wstring(i) + L")"};
        windows.usb.push_back(usb);
        FakeWindows::HidInterface hid = FakeWindows::Interface(
            "\\\\?\\hid#dev" + std::to_string(i), 0x046D, static_cast<USHORT>(0xC000 + i), L"");
        hid.instanceId = L"HID\\VID_046D&PID_C000\\7&" + std::to_wstring(i);
        hid.usbParent = static_cast<std::size_t>(i);
        hid.heldExclusively = i % 5 == 0;
        windows.hid.push_back(hid);
    }
}

// The poll as the Windows window's main() wires it, on the demo package.
struct Rig {
    Rig(int interfaces, bool heard) : processes(ZELK_BENCH_PACKAGE) {
        FillTree(windows, interfaces);
        calls = windows.Calls();
        if (heard) {
            journal.Listening(ZELKUtil::Hid::kDeviceNotifications);
        }
        controller.InitializeApplication();
    }
    bool Poll() {
        controller.TimerCheck_Tick();
        return view.Text(ZELKUtil::Control::DeviceLabel) == "No device found";
    }
    int Opens() const {
        return std::accumulate(windows.opens.begin(), windows.opens.end(), 0,
                               [](int sum, const auto& entry) { return sum + entry.second; });
    }

    FakeWindows windows;
    ZELKUtil::Hid::Win32Calls calls;
    ZELKUtil::Hid::DeviceChangeJournal journal;
    ZELKUtil::Hid::WindowsHidTransport hid{calls, &journal};
    std::ostream discard{nullptr};
    ZELKUtil::Hid::SetupDiDeviceProbe probe{calls, discard, &journal};
    ZELKUtil::SteadyClock clock;
    ReadPathModes modes;
    ZELK device{hid, probe, clock, modes};
    ZELKUtil::HeadlessView view;
    ZELKUtil::WindowsProcessService processes;
    ZELKUtil::UpgradeController controller{
        {view, clock, device, processes, ZELK_BENCH_PACKAGE, "x86_64"}};
};

// Runs the polls after a first one (which reads everything either way) and prints their figures;
// false when a poll did not end as a poll without a box does.
bool Measure(int interfaces, bool heard, int polls) {
    Rig rig(interfaces, heard);
    if (!rig.Poll()) {
        return false;
    }
    const FakeWindows& w = rig.windows;
    const int hidEnums = w.hidEnumerations;
    const int usbEnums = w.usbEnumerations;
    const int opens = rig.Opens();
    const int calls = w.calls;
    bool ok = true;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < polls; ++i) {
        ok = rig.Poll() && ok;
    }
    const double us =
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
    const auto per = [polls](int count) { return static_cast<double>(count) / polls; };
    std::printf("%10d  %-5s %6d %11.1f %11.1f %11.1f %13.1f %11.1f\n", interfaces,
                heard ? "warm" : "cold", polls, per(w.hidEnumerations - hidEnums),
                per(w.usbEnumerations - usbEnums), per(rig.Opens() - opens), per(w.calls - calls),
                us / polls);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    const bool smoke = argc > 1 && std::strcmp(argv[1], "--smoke") == 0;
    std::printf(
        "Per poll without a box (HID enums: SetupDi lists of HID interfaces; USB enums:\n"
        "lists of USB devices; opens: CreateFileA of interfaces, none of them a box):\n");
    std::printf(
        "interfaces  poll   polls   HID enums   USB enums       opens   Win32 calls"
        "     us/poll\n");
    bool ok = true;
    for (const int interfaces : {10, 100}) {
        for (const bool heard : {false, true}) {
            ok = Measure(interfaces, heard, smoke ? 1 : (interfaces == 10 ? 2000 : 200)) && ok;
        }
    }
    if (!ok) {
        std::fputs("a poll saw a box, or did not end as a poll without one\n", stderr);
    }
    return ok ? 0 : 1;
}
