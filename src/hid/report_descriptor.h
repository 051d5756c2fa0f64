#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace ZELKUtil::Hid {

struct InputReportLayout {
    // Bytes of the longest input report plus the report-ID byte, which is counted whether or not
    // the device numbers its reports (the size a HID read buffer must have); 0 without inputs.
    int input_report_length = 0;
    // Whether the descriptor declares report IDs. hidraw's read() delivers the ID byte only then.
    bool numberedReports = false;
};

// The input report layout of a HID report descriptor; nullopt for a descriptor that ends inside
// an item.
std::optional<InputReportLayout> ParseReportDescriptor(const std::uint8_t* descriptor,
                                                       std::size_t size);

}  // namespace ZELKUtil::Hid
