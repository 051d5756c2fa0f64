#pragma once

// <windows.h> before the headers that build on it.
// clang-format off
#include <windows.h>
// clang-format on

#include <atomic>
#include <cstdint>
#include <future>
#include <thread>
#include <vector>

#include "hid/device_change_journal.h"
#include "platform/result.h"

namespace ZELKUtil::Cli {

// zelk-cli has no window of its own, yet the system tells of device changes only to windows: this
// is a hidden top-level window on a thread of its own that counts them. Top-level, not
// message-only, because DBT_DEVNODES_CHANGED (a driver's start, a device node's change) is
// broadcast to top-level windows alone; the arrivals and removals of HID interfaces and USB
// devices come through registrations, as in the utility's window.
//
// The window lives on the desktop of the thread that makes it, as the program's other windows
// would.
//
// Each box's run keeps its own journal on its own thread; Follow() lets that journal learn of the
// changes counted since it last looked, whenever it asks, so nothing crosses threads but a counter.
class DeviceChangeWindow {
  public:
    DeviceChangeWindow();
    ~DeviceChangeWindow();
    DeviceChangeWindow(const DeviceChangeWindow&) = delete;
    DeviceChangeWindow& operator=(const DeviceChangeWindow&) = delete;

    // Whether the window exists and both registrations took; the system's text where not.
    const Result<void>& Opened() const { return opened_; }
    // How many WM_DEVICECHANGE messages have come so far.
    std::uint64_t Changes() const { return changes_.load(); }
    // Tells the journal that it listens to the system's notifications (when the window is open;
    // otherwise that nothing is heard, so that nothing is kept). The window outlives the journal.
    void Follow(Hid::DeviceChangeJournal& journal) const;

  private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void Run(HDESK desktop, std::promise<void>* ready);
    Result<void> Open();

    HWND hwnd_ = nullptr;
    std::vector<HDEVNOTIFY> notifications_;
    Result<void> opened_;
    std::atomic<std::uint64_t> changes_{0};
    std::thread thread_;
};

}  // namespace ZELKUtil::Cli
