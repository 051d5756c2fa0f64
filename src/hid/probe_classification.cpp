#include "hid/probe_classification.h"

#include <array>
#include <cstdio>

#include "hid/wide_text.h"

namespace ZELKUtil::Hid {
namespace {

constexpr const char* kNxpDescription = "USB Device with DFU Capabilities";
constexpr const char* kPackageDescription = "Orvanta Update";

std::string FormatPattern(const char* format, int vendor_id, int product_id) {
    std::array<char, 40> text{};
    std::snprintf(text.data(), text.size(), format, static_cast<unsigned>(vendor_id),
                  static_cast<unsigned>(product_id));
    return text.data();
}

std::string AsciiLower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

// The description as far as the property buffer can hold it: one that needs more than the
// buffer is not fetched and so counts as holding neither text.
bool DescriptionContains(const std::optional<std::string>& description, const char* text) {
    if (!description || (Utf16Units(*description) + 1) * 2 > kPropertyBufferBytes) {
        return false;
    }
    return description->find(text) != std::string::npos;
}

}  // namespace

std::size_t HardwareIdListBytes(const std::vector<std::string>& hardware_ids) {
    std::size_t units = 1;  // the empty string that ends the list
    for (const std::string& id : hardware_ids) {
        units += Utf16Units(id) + 1;
    }
    return units * 2;
}

int ClassifyUsbDevices(const std::vector<UsbDeviceRecord>& devices, int vendor_id, int product_id,
                       int verbose, std::ostream& listing) {
    const std::string with_underscores = FormatPattern("vid_%04x&pid_%04x", vendor_id, product_id);
    const std::string without_underscores = FormatPattern("vid%04x&pid%04x", vendor_id, product_id);
    int code = 0;
    bool match_seen = false;
    for (const UsbDeviceRecord& device : devices) {
        if (!device.hardware_ids) {
            continue;
        }
        if (HardwareIdListBytes(*device.hardware_ids) > kPropertyBufferBytes) {
            match_seen = false;
            continue;
        }
        const std::string first_id =
            device.hardware_ids->empty() ? std::string() : device.hardware_ids->front();
        if (verbose != 0) {
            listing << "Path: " << first_id << "\n";
        }
        const std::string lowered = AsciiLower(first_id);
        if (lowered.find(with_underscores) == std::string::npos &&
            lowered.find(without_underscores) == std::string::npos) {
            continue;
        }
        match_seen = true;
        const std::uint32_t status = device.node_status.value_or(0);
        if ((status & kDnDriverLoaded) != 0 && (status & kDnStarted) != 0) {
            code = 1;
        }
        if ((status & kDnHasProblem) != 0) {
            code = 0;
        }
        if (DescriptionContains(device.description, kNxpDescription)) {
            code = 2;
        }
        if (DescriptionContains(device.description, kPackageDescription)) {
            code = 3;
        }
        if (verbose == 0) {
            return code;
        }
    }
    return match_seen ? code : -1;
}

}  // namespace ZELKUtil::Hid
