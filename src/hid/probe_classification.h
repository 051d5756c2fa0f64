#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace ZELKUtil::Hid {

// Node status bits as the driver probe reports them.
inline constexpr std::uint32_t kDnDriverLoaded = 0x2;
inline constexpr std::uint32_t kDnStarted = 0x8;
inline constexpr std::uint32_t kDnHasProblem = 0x400;

// A property needing more than this many bytes (UTF-16, terminators included) is not fetched.
inline constexpr std::size_t kPropertyBufferBytes = 460;

// What the probe knows of one present USB device, in the system's device order. Texts are UTF-8.
struct UsbDeviceRecord {
    // Most specific first; nullopt when the device has none.
    std::optional<std::vector<std::string>> hardware_ids;
    // nullopt when the status query fails, which reads as status 0.
    std::optional<std::uint32_t> node_status;
    // nullopt when the device has no description.
    std::optional<std::string> description;
};

// Bytes the hardware-ID list occupies as a list of NUL-terminated UTF-16 strings ending in an
// empty one.
std::size_t HardwareIdListBytes(const std::vector<std::string>& hardware_ids);

// Sums up the driver state of the device with the IDs: -1 absent, 0 not ready, 1 a driver of
// neither known kind, 2 the NXP DFU driver, 3 the package's libusbK driver. verbose 0 stops at
// the first match; otherwise every device's first hardware ID is listed on listing and the walk
// goes to the end, carrying one running code and one match-seen flag.
int ClassifyUsbDevices(const std::vector<UsbDeviceRecord>& devices, int vendor_id, int product_id,
                       int verbose, std::ostream& listing);

}  // namespace ZELKUtil::Hid
