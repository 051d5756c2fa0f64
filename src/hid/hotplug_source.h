#pragma once

#include "hid/device_change_journal.h"
#include "platform/result.h"

namespace ZELKUtil::Hid {

// Where the window hears that the system's set of USB or HID devices changed: udev's or the
// kernel's events on Linux (the Qt window's hot-plug monitor), WM_DEVICECHANGE on Windows (the
// Win32 window itself, which the system tells). Each change reaches the journal before the
// window's poll runs, so that the backends re-read only what changed.
class HotplugSource {
  public:
    virtual ~HotplugSource() = default;
    // The error that keeps it from listening, if one does; the window then polls on its timer
    // alone and the journal keeps nothing.
    virtual Result<void> Opened() const = 0;
    // From now on the journal hears what it listens to and every change it sees.
    virtual void Inform(DeviceChangeJournal& journal) = 0;
};

}  // namespace ZELKUtil::Hid
