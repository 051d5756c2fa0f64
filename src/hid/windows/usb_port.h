#pragma once

#include <optional>
#include <string>
#include <utility>

#include "hid/windows/win32_calls.h"

namespace ZELKUtil::Hid {

// Where a device sits on USB, read from the configuration manager's device tree. The box changes
// its IDs with its mode (the HID interface, the DFU bootloader, the FPGA programmer), and so comes
// back as another device node under another instance ID; what stays is the port it is plugged
// into, so that is what names it.

// A USB device's node and its device instance ID ("USB\VID_14E3&PID_0706\6&2C5C7CF0&0&3").
struct UsbDeviceNode {
    DEVINST node = 0;
    std::wstring instanceId;
};

// The USB device that a device node belongs to: the node itself when it is a USB device, else the
// nearest ancestor reached through HID collections ("HID\...") and the interfaces of a composite
// device ("USB\VID_...&PID_...&MI_00\..."). Nothing for a node on another bus (a Bluetooth or a
// virtual HID device), whose ancestors may well include some other USB device (the Bluetooth
// radio), or when the tree cannot be read.
std::optional<UsbDeviceNode> OwningUsbDevice(const Win32Calls& calls, DEVINST node);

// The vendor and product ID that a USB device's instance ID names; nothing for another ID.
std::optional<std::pair<unsigned short, unsigned short>> UsbDeviceIds(
    const std::wstring& instanceId);

// The port of the USB device with the instance ID, as the first string of its location paths
// (SPDRP_LOCATION_PATHS, "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)#USB(3)"). That path spells out the
// chain of hub ports from the host controller down, so it belongs to the socket, not to the
// device: the box gets the same path in each of its modes on one port, and two boxes on two ports
// never share one. The instance ID will not do: it holds the IDs, which change with the mode, and
// for a device with a serial number its last part follows the device from port to port. A stack
// that gives no paths gets its location information (SPDRP_LOCATION_INFORMATION,
// "Port_#0003.Hub_#0002"), which names the port by the numbers of the moment; "" when neither is
// given (Wine gives neither) or the device cannot be opened.
std::string UsbDevicePort(const Win32Calls& calls, const std::wstring& instanceId);

// The port of the USB device the node belongs to; "" when it belongs to none.
std::string PortOfNode(const Win32Calls& calls, DEVINST node);

}  // namespace ZELKUtil::Hid
