// The list of present HID interfaces and what is learnt of each: kept under the device-change
// journal while no device notification has come, each interface's attributes, USB device and port
// read at their first need.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "hid/windows/device_notifications.h"
#include "hid/windows/windows_hid_transport.h"
#include "platform/windows/unique_handle.h"

namespace ZELKUtil::Hid {
namespace {

// GUID_DEVINTERFACE_HID.
constexpr GUID kHidInterfaceClass = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

}  // namespace

bool WindowsHidTransport::PresentInterfaces(std::vector<PresentInterface>& interfaces) {
    const HDEVINFO set = calls_.SetupDiGetClassDevsA(&kHidInterfaceClass, nullptr, nullptr,
                                                     DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        return false;
    }
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA entry{};
        entry.cbSize = sizeof entry;
        if (calls_.SetupDiEnumDeviceInterfaces(set, nullptr, &kHidInterfaceClass, index, &entry) ==
            FALSE) {
            break;
        }
        DWORD required = 0;
        calls_.SetupDiGetDeviceInterfaceDetailA(set, &entry, nullptr, 0, &required, nullptr);
        if (required <= offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath)) {
            continue;
        }
        std::vector<std::uint64_t> storage((required + 7) / 8);
        auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(storage.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        if (calls_.SetupDiGetDeviceInterfaceDetailA(set, &entry, detail, required, nullptr,
                                                    &device) == FALSE) {
            continue;
        }
        // Terminated within the record, whatever the system wrote.
        const std::size_t room = required - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
        interfaces.push_back(
            {std::string(detail->DevicePath, ::strnlen(detail->DevicePath, room)), device.DevInst});
    }
    calls_.SetupDiDestroyDeviceInfoList(set);
    return true;
}

std::vector<WindowsHidTransport::Listed>& WindowsHidTransport::Interfaces() {
    if (journal_ != nullptr && listStamp_ &&
        journal_->StillTrue(*listStamp_, kDeviceNotifications)) {
        for (Listed& entry : list_) {
            entry.stale = true;
        }
        return list_;
    }
    listStamp_ = journal_ != nullptr ? journal_->Current(kDeviceNotifications) : std::nullopt;
    list_.clear();
    std::vector<PresentInterface> present;
    if (!PresentInterfaces(present)) {
        listStamp_.reset();  // nothing to keep: the next call asks again
    }
    for (PresentInterface& entry : present) {
        Listed& listed = list_.emplace_back();
        listed.path = std::move(entry.path);
        listed.node = entry.node;
    }
    return list_;
}

const std::optional<UsbDeviceNode>& WindowsHidTransport::UsbOf(Listed& entry) {
    if (!entry.usb) {
        entry.usb = OwningUsbDevice(calls_, entry.node);
    }
    return *entry.usb;
}

const std::string& WindowsHidTransport::PortOf(Listed& entry) {
    if (!entry.port) {
        const std::optional<UsbDeviceNode>& usb = UsbOf(entry);
        entry.port = usb ? UsbDevicePort(calls_, usb->instanceId) : std::string();
    }
    return *entry.port;
}

bool WindowsHidTransport::HasIds(Listed& entry, unsigned short vendor_id, unsigned short product_id,
                                 bool& readNow) {
    readNow = false;
    if (!entry.attributes) {
        entry.attributes = Attributes(entry.path);
        readNow = true;
    } else if (!*entry.attributes && entry.stale) {
        // An interface that could not be opened is worth another open only when it may be the
        // one asked for: its USB device has the IDs. One on no USB bus never is.
        const std::optional<UsbDeviceNode>& usb = UsbOf(entry);
        if (usb && UsbDeviceIds(usb->instanceId) == std::make_pair(vendor_id, product_id)) {
            entry.attributes = Attributes(entry.path);
            readNow = true;
        }
    }
    entry.stale = false;
    const std::optional<HIDD_ATTRIBUTES>& attributes = *entry.attributes;
    return attributes && attributes->VendorID == vendor_id && attributes->ProductID == product_id;
}

std::optional<HIDD_ATTRIBUTES> WindowsHidTransport::Attributes(const std::string& path) {
    if (!HidServicesReady()) {
        return std::nullopt;
    }
    // Interfaces that someone holds exclusively cannot be opened and so show no attributes.
    const UniqueHandle handle(calls_.CreateFileA(path.c_str(), kReadWrite, kShareReadWrite, nullptr,
                                                 OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr),
                              &calls_.CloseHandle);
    if (!handle.Valid()) {
        return std::nullopt;
    }
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof attributes;
    if (services_.HidD_GetAttributes(handle.Get(), &attributes) == FALSE) {
        return std::nullopt;
    }
    return attributes;
}

}  // namespace ZELKUtil::Hid
