#include "hid/windows/usb_port.h"

#include <array>
#include <cwchar>
#include <cwctype>
#include <string_view>
#include <vector>

#include "platform/utf8.h"
#include "platform/windows/text_conversion.h"

namespace ZELKUtil::Hid {
namespace {

// A HID collection, the interface of a composite device, the USB device: the walk up never needs
// more levels. The bound also ends a walk that a broken tree would send round in a circle.
constexpr int kMostLevels = 4;

enum class NodeKind {
    UsbDevice,    // "USB\VID_xxxx&PID_xxxx\..."
    PassThrough,  // a HID collection or a composite device's interface: its parent is looked at
    Other,        // a hub, a controller, another bus: no USB device of a box above it
};

// The ID's first two parts, upper-case: the enumerator ("USB") and the device ("VID_14E3&...").
std::pair<std::wstring, std::wstring> IdParts(const std::wstring& instanceId) {
    std::wstring upper = instanceId;
    for (wchar_t& c : upper) {
        c = static_cast<wchar_t>(std::towupper(c));
    }
    const std::size_t first = upper.find(L'\\');
    if (first == std::wstring::npos) {
        return {upper, {}};
    }
    const std::size_t second = upper.find(L'\\', first + 1);
    return {upper.substr(0, first), upper.substr(first + 1, second - first - 1)};
}

bool IsUsbDeviceId(const std::wstring& enumerator, const std::wstring& device) {
    return enumerator == L"USB" && device.rfind(L"VID_", 0) == 0 &&
           device.find(L"&PID_") != std::wstring::npos;
}

NodeKind KindOf(const std::wstring& instanceId) {
    const auto [enumerator, device] = IdParts(instanceId);
    if (enumerator == L"HID") {
        return NodeKind::PassThrough;
    }
    if (!IsUsbDeviceId(enumerator, device)) {
        return NodeKind::Other;
    }
    return device.find(L"&MI_") != std::wstring::npos ? NodeKind::PassThrough : NodeKind::UsbDevice;
}

// The four hexadecimal digits at the start of the text.
std::optional<unsigned short> FourHexDigits(std::wstring_view text) {
    if (text.size() < 4) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (const wchar_t c : text.substr(0, 4)) {
        if (std::iswxdigit(c) == 0) {
            return std::nullopt;
        }
        const unsigned digit = c <= L'9' ? c - L'0' : (std::towupper(c) - L'A' + 10);
        value = value * 16 + digit;
    }
    return static_cast<unsigned short>(value);
}

// The first string of a device's registry property (the only one of a plain string), fetched at
// the size the system asks for; nothing when the device does not have the property.
std::optional<std::wstring> FirstString(const Win32Calls& calls, HDEVINFO set,
                                        SP_DEVINFO_DATA& device, DWORD property) {
    DWORD needed = 0;
    if (calls.SetupDiGetDeviceRegistryPropertyW(set, &device, property, nullptr, nullptr, 0,
                                                &needed) != FALSE ||
        calls.GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed == 0) {
        return std::nullopt;
    }
    // Zeroed, and longer than asked for, so that it ends in a terminator whatever is written.
    std::vector<wchar_t> buffer(needed / sizeof(wchar_t) + 2, L'\0');
    if (calls.SetupDiGetDeviceRegistryPropertyW(set, &device, property, nullptr,
                                                reinterpret_cast<PBYTE>(buffer.data()), needed,
                                                nullptr) == FALSE) {
        return std::nullopt;
    }
    return std::wstring(buffer.data());
}

}  // namespace

std::optional<UsbDeviceNode> OwningUsbDevice(const Win32Calls& calls, DEVINST node) {
    for (int level = 0; level < kMostLevels; ++level) {
        std::array<wchar_t, MAX_DEVICE_ID_LEN + 1> id{};
        if (calls.CM_Get_Device_IDW(node, id.data(), static_cast<ULONG>(id.size()), 0) !=
            CR_SUCCESS) {
            return std::nullopt;
        }
        const std::wstring instanceId(id.data(), ::wcsnlen(id.data(), id.size()));
        switch (KindOf(instanceId)) {
            case NodeKind::UsbDevice:
                return UsbDeviceNode{node, instanceId};
            case NodeKind::Other:
                return std::nullopt;
            case NodeKind::PassThrough:
                break;
        }
        // A configuration manager that answers without writing leaves the node itself, which is
        // no parent. (0 is no mark of "none": Wine hands out node 0.)
        DEVINST parent = node;
        if (calls.CM_Get_Parent(&parent, node, 0) != CR_SUCCESS || parent == node) {
            return std::nullopt;
        }
        node = parent;
    }
    return std::nullopt;
}

std::optional<std::pair<unsigned short, unsigned short>> UsbDeviceIds(
    const std::wstring& instanceId) {
    const auto [enumerator, device] = IdParts(instanceId);
    if (!IsUsbDeviceId(enumerator, device)) {
        return std::nullopt;
    }
    const std::wstring_view text(device);
    const std::optional<unsigned short> vendor = FourHexDigits(text.substr(4));
    const std::optional<unsigned short> product =
        FourHexDigits(text.substr(device.find(L"&PID_") + 5));
    if (!vendor || !product) {
        return std::nullopt;
    }
    return std::make_pair(*vendor, *product);
}

std::string UsbDevicePort(const Win32Calls& calls, const std::wstring& instanceId) {
    const HDEVINFO set = calls.SetupDiCreateDeviceInfoList(nullptr, nullptr);
    if (set == INVALID_HANDLE_VALUE) {
        return {};
    }
    std::optional<std::wstring> port;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    if (calls.SetupDiOpenDeviceInfoW(set, instanceId.c_str(), nullptr, 0, &device) != FALSE) {
        port = FirstString(calls, set, device, SPDRP_LOCATION_PATHS);
        if (!port || port->empty()) {
            port = FirstString(calls, set, device, SPDRP_LOCATION_INFORMATION);
        }
    }
    calls.SetupDiDestroyDeviceInfoList(set);
    return port ? WideToUtf8(*port) : std::string();
}

std::string PortOfNode(const Win32Calls& calls, DEVINST node) {
    const std::optional<UsbDeviceNode> usb = OwningUsbDevice(calls, node);
    return usb ? UsbDevicePort(calls, usb->instanceId) : std::string();
}

}  // namespace ZELKUtil::Hid
