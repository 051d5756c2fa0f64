#include "hid/probe_classification.h"

#include <array>
#include <cstdio>

#include "platform/utf8.h"

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

}  // namespace

std::size_t HardwareIdListBytes(const std::vector<std::string>& hardwareIds) {
    std::size_t units = 1;  // the empty string that ends the list
    for (const std::string& id : hardwareIds) {
        units += Utf16Units(id) + 1;
    }
    return units * 2;
}

MatchPatterns::MatchPatterns(int vendor_id, int product_id)
    : withUnderscores_(FormatPattern("vid_%04x&pid_%04x", vendor_id, product_id)),
      withoutUnderscores_(FormatPattern("vid%04x&pid%04x", vendor_id, product_id)) {}

bool MatchPatterns::Matches(const std::string& firstId) const {
    const std::string lowered = AsciiLower(firstId);
    return lowered.find(withUnderscores_) != std::string::npos ||
           lowered.find(withoutUnderscores_) != std::string::npos;
}

void ProbeWalk::Match(std::uint32_t status) {
    matchSeen_ = true;
    if ((status & kDnDriverLoaded) != 0 && (status & kDnStarted) != 0) {
        code_ = 1;
    }
    if ((status & kDnHasProblem) != 0) {
        code_ = 0;
    }
}

void ProbeWalk::NxpDescription(const std::string& description) {
    if (description.find(kNxpDescription) != std::string::npos) {
        code_ = 2;
    }
}

void ProbeWalk::PackageDescription(const std::string& description) {
    if (description.find(kPackageDescription) != std::string::npos) {
        code_ = 3;
    }
}

int ClassifyUsbDevices(const std::vector<UsbDeviceRecord>& devices, int vendor_id, int product_id,
                       int verbose, std::ostream& listing) {
    const MatchPatterns patterns(vendor_id, product_id);
    ProbeWalk walk;
    for (const UsbDeviceRecord& device : devices) {
        if (!device.hardwareIds) {
            continue;
        }
        if (HardwareIdListBytes(*device.hardwareIds) > kPropertyBufferBytes) {
            walk.ExcludeOversizedDevice();
            continue;
        }
        const std::string firstId =
            device.hardwareIds->empty() ? std::string() : device.hardwareIds->front();
        if (verbose != 0) {
            listing << "Path: " << firstId << "\n";
        }
        if (!patterns.Matches(firstId)) {
            continue;
        }
        walk.Match(device.nodeStatus.value_or(0));
        // A description that needs more than the property buffer is not fetched.
        if (device.description &&
            (Utf16Units(*device.description) + 1) * 2 <= kPropertyBufferBytes) {
            walk.NxpDescription(*device.description);
            walk.PackageDescription(*device.description);
        }
        if (verbose == 0) {
            break;
        }
    }
    return walk.Result();
}

}  // namespace ZELKUtil::Hid
