#include "hid/windows/device_notifications.h"

// The interface class GUIDs are defined in this file: <initguid.h> must come first.
// clang-format off
#include <initguid.h>
#include <dbt.h>
#include <hidclass.h>
#include <usbiodef.h>
// clang-format on

#include "platform/windows/text_conversion.h"

namespace ZELKUtil::Hid {

Result<void> RegisterDeviceNotifications(HWND window, std::vector<HDEVNOTIFY>* handles) {
    Result<void> registered;
    for (const GUID& guid : {GUID_DEVINTERFACE_HID, GUID_DEVINTERFACE_USB_DEVICE}) {
        DEV_BROADCAST_DEVICEINTERFACE_W filter{};
        filter.dbcc_size = sizeof(filter);
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_classguid = guid;
        HDEVNOTIFY handle =
            RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
        if (handle != nullptr) {
            handles->push_back(handle);
        } else if (registered) {
            registered = Windows::ErrorFromSystemCode("RegisterDeviceNotification", GetLastError());
        }
    }
    return registered;
}

void UnregisterDeviceNotifications(std::vector<HDEVNOTIFY>* handles) {
    for (HDEVNOTIFY handle : *handles) {
        UnregisterDeviceNotification(handle);
    }
    handles->clear();
}

}  // namespace ZELKUtil::Hid
