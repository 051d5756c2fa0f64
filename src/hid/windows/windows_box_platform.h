#pragma once

#include <ostream>
#include <string>

#include "hid/box_platform.h"
#include "hid/device_change_journal.h"
#include "hid/windows/setupdi_device_probe.h"
#include "hid/windows/win32_calls.h"
#include "hid/windows/windows_hid_transport.h"
#include "platform/windows/windows_process_service.h"

namespace ZELKUtil::Hid {

// The Windows backends: the transport over hid.dll, the SetupDi probe of the device tree and
// child processes started in the package folder. What the backends read of the device tree is
// kept while the journal hears of no change, so that a poll that finds nothing changed enumerates
// nothing and opens nothing again; a window that hears WM_DEVICECHANGE tells the journal.
class WindowsBoxPlatform final : public BoxPlatform {
  public:
    // packageFolder: where child processes start ("" the current folder). listing: where the
    // probe writes what it finds of the tree; null, nowhere.
    WindowsBoxPlatform(const Win32Calls& calls, const std::string& packageFolder,
                       std::ostream* listing);

    HidTransport& Transport() override { return hid_; }
    DeviceTreeProbe& Probe() override { return probe_; }
    ProcessService& Processes() override { return processes_; }

    // Where the system's device changes are told.
    DeviceChangeJournal& Journal() { return journal_; }

  private:
    std::ostream discard_{nullptr};
    DeviceChangeJournal journal_;
    WindowsHidTransport hid_;
    SetupDiDeviceProbe probe_;
    WindowsProcessService processes_;
};

}  // namespace ZELKUtil::Hid
