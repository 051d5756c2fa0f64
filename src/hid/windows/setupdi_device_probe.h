#pragma once

#include <iostream>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "hid/device_change_journal.h"
#include "hid/device_probe.h"
#include "hid/windows/win32_calls.h"

namespace ZELKUtil::Hid {

// FindDevice over the Windows device installation services: the present devices of the "USB"
// enumerator, of every setup class, their first hardware IDs, their node status from the
// configuration manager and their device descriptions. Listing mode writes to listing. With a
// journal that hears the system's device notifications, an answer other than 0 is kept while no
// notification has come (0 is a driver still coming up, which the poll asks about again at once,
// and listing mode always walks), so that a poll that finds nothing changed enumerates nothing.
class SetupDiDeviceProbe : public DeviceTreeProbe {
  public:
    // The table (and the journal, when given) must outlive the probe.
    explicit SetupDiDeviceProbe(const Win32Calls& calls, std::ostream& listing = std::cout,
                                DeviceChangeJournal* journal = nullptr);
    int FindDevice(int vendor_id, int product_id, int verbose) override;
    // The ports are the location paths of the USB devices (see usb_port.h); a matching interface
    // of a composite device has its parent's. A device whose hardware IDs do not fit the property
    // buffer is not found, as FindDevice would not find it alone.
    std::vector<ProbeMatch> FindDevices(int vendor_id, int product_id) override;
    // Devices on other ports are passed over as if absent: not listed, not matched, and an
    // oversized hardware-ID list among them clears no match.
    // Drops every kept answer when the port changes: it was read for another one.
    void ConfineToPort(const std::optional<std::string>& port) override;

  private:
    int Walk(int vendor_id, int product_id, int verbose);
    std::vector<ProbeMatch> WalkMatches(int vendor_id, int product_id);

    const Win32Calls& calls_;
    std::ostream& listing_;
    DeviceChangeJournal* journal_;
    std::optional<std::string> confinedPort_;
    KeptForIds<int> kept_;
    KeptForIds<std::vector<ProbeMatch>> keptMatches_;
};

}  // namespace ZELKUtil::Hid
