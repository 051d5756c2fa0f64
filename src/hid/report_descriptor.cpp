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
    std::uint32_t report_size = 0;
    std::uint32_t report_count = 0;
    std::uint32_t report_id = 0;
};

}  // namespace

std::optional<InputReportLayout> ParseReportDescriptor(const std::uint8_t* descriptor,
                                                       std::size_t size) {
    Globals globals;
    std::vector<Globals> stack;
    std::map<std::uint32_t, std::uint64_t> input_bits;  // per report ID
    bool numbered = false;
    std::size_t pos = 0;
    while (pos < size) {
        const std::uint8_t prefix = descriptor[pos];
        if (prefix == kLongItemPrefix) {
            if (pos + 1 >= size) {
                return std::nullopt;
            }
            const std::size_t data_size = descriptor[pos + 1];
            if (size - pos < 3 + data_size) {
                return std::nullopt;
            }
            pos += 3 + data_size;
            continue;
        }
        const std::size_t data_size = (prefix & 3U) == 3U ? 4 : (prefix & 3U);
        if (size - pos - 1 < data_size) {
            return std::nullopt;
        }
        std::uint32_t data = 0;
        for (std::size_t i = 0; i < data_size; ++i) {
            data |= static_cast<std::uint32_t>(descriptor[pos + 1 + i]) << (8 * i);
        }
        const auto type = static_cast<std::uint8_t>((prefix >> 2U) & 3U);
        const auto tag = static_cast<std::uint8_t>(prefix >> 4U);
        if (type == kTypeMain && tag == kMainInput) {
            std::uint64_t& bits = input_bits[globals.report_id];
            bits = std::min(kMaxReportBits, bits + std::uint64_t{globals.report_size} *
                                                       std::uint64_t{globals.report_count});
        } else if (type == kTypeGlobal) {
            switch (tag) {
                case kGlobalReportSize:
                    globals.report_size = data;
                    break;
                case kGlobalReportCount:
                    globals.report_count = data;
                    break;
                case kGlobalReportId:
                    globals.report_id = data;
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
        pos += 1 + data_size;
    }
    std::uint64_t longest = 0;
    for (const auto& [id, bits] : input_bits) {
        longest = std::max(longest, bits);
    }
    InputReportLayout layout;
    layout.numbered_reports = numbered;
    if (longest > 0) {
        layout.input_report_length = static_cast<int>((longest + 7) / 8 + 1);
    }
    return layout;
}

}  // namespace ZELKUtil::Hid
