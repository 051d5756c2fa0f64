#include "hid/report_descriptor.h"

#include <algorithm>
#include <map>
#include <vector>

namespace ZELKUtil::Hid {
namespace {

// Item tags and types of the short item prefix byte (tag in bits 7-4, type in bits 3-2).
constexpr std::uint8_t kTypeMain = 0;
constexpr std::uint8_t kTypeGlobal = 1;
constexpr std::uint8_t kMainInput = 0x8;
constexpr std::uint8_t kGlobalReportSize = 0x7;
constexpr std::uint8_t kGlobalReportId = 0x8;
constexpr std::uint8_t kGlobalReportCount = 0x9;
constexpr std::uint8_t kGlobalPush = 0xA;
constexpr std::uint8_t kGlobalPop = 0xB;
constexpr std::uint8_t kLongItemPrefix = 0xFE;
// Keeps sums of absurd sizes far away from overflow; no HID report is anywhere near this.
constexpr std::uint64_t kMaxReportBits = std::uint64_t{1} << 32U;

struct Globals {
    std::uint32_t reportSize = 0;
    std::uint32_t reportCount = 0;
    std::uint32_t reportId = 0;
};

// A global item: the sizes and report ID that the following main items use.
void ApplyGlobalItem(std::uint8_t tag, std::uint32_t data, Globals& globals,
                     std::vector<Globals>& stack, bool& numbered) {
    switch (tag) {
        case kGlobalReportSize:
            globals.reportSize = data;
            break;
        case kGlobalReportCount:
            globals.reportCount = data;
            break;
        case kGlobalReportId:
            globals.reportId = data;
            numbered = true;
            break;
        case kGlobalPush:
            stack.push_back(globals);
            break;
        case kGlobalPop:
            if (!stack.empty()) {
                globals = stack.back();
                stack.pop_back();
            }
            break;
        default:
            break;
    }
}

}  // namespace

std::optional<InputReportLayout> ParseReportDescriptor(const std::uint8_t* descriptor,
                                                       std::size_t size) {
    Globals globals;
    std::vector<Globals> stack;
    std::map<std::uint32_t, std::uint64_t> inputBits;  // per report ID
    bool numbered = false;
    std::size_t pos = 0;
    while (pos < size) {
        const std::uint8_t prefix = descriptor[pos];
        if (prefix == kLongItemPrefix) {
            if (pos + 1 >= size) {
                return std::nullopt;
            }
            const std::size_t dataSize = descriptor[pos + 1];
            if (size - pos < 3 + dataSize) {
                return std::nullopt;
            }
            pos += 3 + dataSize;
            continue;
        }
        const std::size_t dataSize = (prefix & 3U) == 3U ? 4 : (prefix & 3U);
        if (size - pos - 1 < dataSize) {
            return std::nullopt;
        }
        std::uint32_t data = 0;
        for (std::size_t i = 0; i < dataSize; ++i) {
            data |= static_cast<std::uint32_t>(descriptor[pos + 1 + i]) << (8 * i);
        }
        const auto type = static_cast<std::uint8_t>((prefix >> 2U) & 3U);
        const auto tag = static_cast<std::uint8_t>(prefix >> 4U);
        if (type == kTypeMain && tag == kMainInput) {
            std::uint64_t& bits = inputBits[globals.reportId];
            bits = std::min(kMaxReportBits, bits + std::uint64_t{globals.reportSize} *
                                                       std::uint64_t{globals.reportCount});
        } else if (type == kTypeGlobal) {
            ApplyGlobalItem(tag, data, globals, stack, numbered);
        }
        pos += 1 + dataSize;
    }
    std::uint64_t longest = 0;
    for (const auto& [id, bits] : inputBits) {
        longest = std::max(longest, bits);
    }
    InputReportLayout layout;
    layout.numberedReports = numbered;
    if (longest > 0) {
        layout.input_report_length = static_cast<int>((longest + 7) / 8 + 1);
    }
    return layout;
}

}  // namespace ZELKUtil::Hid
