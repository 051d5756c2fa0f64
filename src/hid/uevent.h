#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ZELKUtil::Hid {

// The value of one KEY=value line of a sysfs uevent text, or nullopt when the key is absent.
std::optional<std::string> UeventValue(std::string_view uevent, std::string_view key);

struct HidIds {
    std::uint16_t vendor_id = 0;
    std::uint16_t product_id = 0;
};

// Vendor and product ID from a HID_ID value, "bus:vendor:product" in hexadecimal as the kernel
// writes it (0003:000014E3:00000706). Anything else, including IDs that do not fit 16 bits, is
// nullopt: such a node cannot be one that the box's USB identity describes.
std::optional<HidIds> ParseHidId(std::string_view value);

}  // namespace ZELKUtil::Hid
