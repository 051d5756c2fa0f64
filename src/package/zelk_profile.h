#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/result.h"

namespace pugi {
class xml_node;
}

namespace ZELKUtil {

// One variant of the box as the profile file describes it.
class ZelkProfile {
  public:
    // Display name, "profile" attribute. The only text whose absence differs from an empty text: an
    // absent display name cannot be offered to the operator.
    std::optional<std::string> type;
    std::int16_t vid = 0;
    std::int16_t pid = 0;
    std::string id;    // short model name
    std::string name;  // USB product string that identifies a connected box
    std::string LPC3131;
    std::string A3P060;
    std::string A3PN060;

    // Whether the profile programs the box's FPGA: an image for either FPGA variant.
    bool HasFpgaImage() const { return !A3P060.empty() || !A3PN060.empty(); }

    // Fills the profile from one "detail" element. Returns "" on success, otherwise the text of the
    // first failure (missing attribute or malformed number); fields read before it keep their
    // values.
    std::string Read(const pugi::xml_node& item);

    bool operator==(const ZelkProfile&) const = default;
};

// The USB IDs (vendor, product) under which the profiles' boxes show in normal mode, each pair
// once, in the order the profiles first name them.
std::vector<std::pair<std::uint16_t, std::uint16_t>> NormalModeIds(
    const std::vector<ZelkProfile>& profiles);

// Parses a 16-bit hexadecimal ID as profiles write it: an optional lower-case "0x" prefix, then 1
// to 4 significant hex digits with any number of leading zeros and blanks around. No sign. The 16
// bits are returned as a signed value. The error's reason is the message Read gives.
Result<std::int16_t> ParseProfileHex(std::string text);

}  // namespace ZELKUtil
