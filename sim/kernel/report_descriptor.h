#pragma once

#include <array>

namespace ZELKSim {

// The box's HID report descriptor, as its HID interface declares it: one vendor-defined
// application collection with unnumbered 64-byte input and output reports. Both kernel fronts
// hand it to the kernel.
inline constexpr std::array<unsigned char, 25> kReportDescriptor = {
    0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75,
    0x08, 0x95, 0x40, 0x09, 0x01, 0x81, 0x02, 0x09, 0x02, 0x91, 0x02, 0xC0};

}  // namespace ZELKSim
